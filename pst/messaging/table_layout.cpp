#include <algorithm>

#include "pst/messaging/template_tables.h"

namespace mailfold::pst {

std::uint8_t cellWidth(std::uint16_t type) {
  switch (type) {
    case kPtBoolean: return 1;
    case kPtInt16: return 2;
    case kPtInt64: case kPtSysTime: case kPtDouble: case kPtCurrency: case kPtAppTime: return 8;
    default: return 4;
  }
}

TableLayout extendLayout(const TableLayout& base, const std::vector<PropTag>& extraTags) {
  std::vector<PropTag> added;
  for (PropTag t : extraTags)
    if (!base.column(t) && std::find(added.begin(), added.end(), t) == added.end()) added.push_back(t);
  if (added.empty()) return base;
  std::sort(added.begin(), added.end());

  TableLayout out;
  out.nid = base.nid;
  std::uint16_t wideEnd = base.groupEnds[0];
  std::uint8_t nextBit = static_cast<std::uint8_t>(base.columns.size());
  std::vector<TableColumn> narrow;  // 2- and 1-byte cells, placed after every wide cell
  for (const auto& c : base.columns) {
    if (c.cbData >= 4) {
      out.columns.push_back(c);
    } else {
      narrow.push_back(c);
    }
  }
  std::sort(narrow.begin(), narrow.end(), [](const TableColumn& a, const TableColumn& b) { return a.ibData < b.ibData; });
  for (PropTag t : added) {
    const std::uint8_t w = cellWidth(tagType(t));
    TableColumn c{t, 0, w, nextBit++};
    if (w >= 4) {
      c.ibData = wideEnd;
      wideEnd = static_cast<std::uint16_t>(wideEnd + w);
      out.columns.push_back(c);
    } else {
      narrow.push_back(c);
    }
  }
  // Base narrow cells keep their order within their group, new ones follow.
  std::uint16_t at = wideEnd;
  for (std::uint8_t w : {std::uint8_t{2}, std::uint8_t{1}}) {
    for (auto& c : narrow) {
      if (c.cbData != w) continue;
      c.ibData = at;
      at = static_cast<std::uint16_t>(at + w);
      out.columns.push_back(c);
    }
    out.groupEnds[w == 2 ? 1 : 2] = at;
  }
  out.groupEnds[0] = wideEnd;
  out.groupEnds[3] = static_cast<std::uint16_t>(at + (out.columns.size() + 7) / 8);
  std::sort(out.columns.begin(), out.columns.end(), [](const TableColumn& a, const TableColumn& b) { return a.tag < b.tag; });
  return out;
}

}  // namespace mailfold::pst
