#include "pst/ltp/table_layout.h"

#include <algorithm>
#include <set>
#include <string>

#include "pst/ltp/property.h"
#include "pst/ndb/node.h"

namespace mailfold::pst::ltp {
namespace {

constexpr std::uint8_t kTableType = 0x7C;
constexpr std::size_t kInfoSize = 22;
constexpr std::size_t kDescriptorSize = 8;
// Rows never straddle a block of the row matrix.
constexpr std::uint32_t kMaxRowSize = ndb::kMaxBlockPayload;

void sortByTag(std::vector<ColumnDescriptor>& columns) {
  std::sort(columns.begin(), columns.end(), [](const ColumnDescriptor& a, const ColumnDescriptor& b) { return a.tag < b.tag; });
}

}  // namespace

std::uint8_t cellWidth(PropTag tag) {
  const std::uint32_t w = fixedWidth(tagType(tag));
  return static_cast<std::uint8_t>(w != 0 && w <= 8 ? w : 4);
}

const ColumnDescriptor* TableLayout::find(PropTag tag) const {
  auto it = std::lower_bound(columns.begin(), columns.end(), tag,
                             [](const ColumnDescriptor& c, PropTag t) { return c.tag < t; });
  return it != columns.end() && it->tag == tag ? &*it : nullptr;
}

TableLayout TableLayout::withColumns(std::span<const PropTag> tags) const {
  std::vector<PropTag> added;
  for (PropTag t : tags)
    if (!find(t) && std::find(added.begin(), added.end(), t) == added.end()) added.push_back(t);
  if (added.empty()) return *this;
  std::sort(added.begin(), added.end());
  const std::size_t total = columns.size() + added.size();
  if (total > 255) throw Error(ErrorKind::kBadInput, "a table holds at most 255 columns, not " + std::to_string(total));
  // New bits follow the highest one in use: the template's bits need not be 0..n-1.
  std::uint32_t nextBit = 0;
  for (const ColumnDescriptor& c : columns) nextBit = std::max<std::uint32_t>(nextBit, c.bit + 1u);
  if (nextBit + added.size() > 256) throw Error(ErrorKind::kBadInput, "no existence bits left for " + std::to_string(added.size()) + " new columns");

  TableLayout out;
  std::uint16_t wideEnd = groupEnds[0];
  std::vector<ColumnDescriptor> narrow;  // 2- and 1-byte cells, placed after every wide cell
  for (const ColumnDescriptor& c : columns) {
    if (c.size >= 4) {
      out.columns.push_back(c);
    } else {
      narrow.push_back(c);
    }
  }
  std::sort(narrow.begin(), narrow.end(), [](const ColumnDescriptor& a, const ColumnDescriptor& b) { return a.offset < b.offset; });
  for (PropTag t : added) {
    const std::uint8_t w = cellWidth(t);
    ColumnDescriptor c{t, 0, w, static_cast<std::uint8_t>(nextBit++)};
    if (w >= 4) {
      c.offset = wideEnd;
      wideEnd = static_cast<std::uint16_t>(wideEnd + w);
      out.columns.push_back(c);
    } else {
      narrow.push_back(c);
    }
  }
  // Existing narrow cells keep their order within their group, new ones follow.
  std::uint16_t at = wideEnd;
  for (std::uint8_t w : {std::uint8_t{2}, std::uint8_t{1}}) {
    for (ColumnDescriptor& c : narrow) {
      if (c.size != w) continue;
      c.offset = at;
      at = static_cast<std::uint16_t>(at + w);
      out.columns.push_back(c);
    }
    out.groupEnds[w == 2 ? 1 : 2] = at;
  }
  out.groupEnds[0] = wideEnd;
  const std::uint32_t bitmap = std::max<std::uint32_t>(groupEnds[3] - groupEnds[2], (nextBit + 7) / 8);
  out.groupEnds[3] = static_cast<std::uint16_t>(at + bitmap);
  sortByTag(out.columns);
  return out;
}

void TableLayout::validate() const {
  if (columns.size() > 255) throw Error(ErrorKind::kCorrupt, "table has " + std::to_string(columns.size()) + " columns, at most 255 allowed");
  for (std::size_t i = 1; i < 4; ++i)
    if (groupEnds[i] < groupEnds[i - 1]) throw Error(ErrorKind::kCorrupt, "table group offsets are out of order");
  if (groupEnds[3] < 4 || groupEnds[3] > kMaxRowSize)
    throw Error(ErrorKind::kCorrupt, "table row size " + std::to_string(groupEnds[3]) + " is outside 4.." + std::to_string(kMaxRowSize));
  const std::uint32_t bitmapBits = 8u * (groupEnds[3] - groupEnds[2]);
  std::set<std::uint8_t> bits;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const ColumnDescriptor& c = columns[i];
    if (i > 0 && columns[i - 1].tag >= c.tag) throw Error(ErrorKind::kCorrupt, "table columns are not sorted by tag at " + tagName(c.tag));
    if (c.size != 1 && c.size != 2 && c.size != 4 && c.size != 8)
      throw Error(ErrorKind::kCorrupt, "column " + tagName(c.tag) + " has a cell of " + std::to_string(c.size) + " bytes");
    if (std::uint32_t{c.offset} + c.size > groupEnds[2])
      throw Error(ErrorKind::kCorrupt, "column " + tagName(c.tag) + " at offset " + std::to_string(c.offset) + " runs into the bitmap");
    if (c.bit >= bitmapBits) throw Error(ErrorKind::kCorrupt, "column " + tagName(c.tag) + " has existence bit " + std::to_string(c.bit) + " outside the bitmap");
    if (!bits.insert(c.bit).second) throw Error(ErrorKind::kCorrupt, "column " + tagName(c.tag) + " shares existence bit " + std::to_string(c.bit));
  }
}

Bytes encodeTableInfo(const TableInfo& t) {
  const TableLayout& layout = t.layout;
  Bytes info(kInfoSize + kDescriptorSize * layout.columns.size(), 0);
  info[0] = kTableType;
  info[1] = static_cast<std::uint8_t>(layout.columns.size());
  for (std::size_t i = 0; i < 4; ++i) store<std::uint16_t>(info.data() + 2 + 2 * i, layout.groupEnds[i]);
  store<std::uint32_t>(info.data() + 10, t.rowIndex);
  store<std::uint32_t>(info.data() + 14, t.rowMatrix);
  for (std::size_t i = 0; i < layout.columns.size(); ++i) {
    std::uint8_t* d = info.data() + kInfoSize + kDescriptorSize * i;
    const ColumnDescriptor& c = layout.columns[i];
    store<std::uint32_t>(d, c.tag);
    store<std::uint16_t>(d + 4, c.offset);
    d[6] = c.size;
    d[7] = c.bit;
  }
  return info;
}

TableInfo decodeTableInfo(ByteView info) {
  if (info.size() < kInfoSize || info[0] != kTableType) throw Error(ErrorKind::kCorrupt, "table header is missing or malformed");
  const std::uint8_t count = info[1];
  if (info.size() < kInfoSize + kDescriptorSize * count)
    throw Error(ErrorKind::kCorrupt, "table header of " + std::to_string(info.size()) + " bytes is too short for " + std::to_string(count) + " columns");
  TableInfo t;
  for (std::size_t i = 0; i < 4; ++i) t.layout.groupEnds[i] = load<std::uint16_t>(info.data() + 2 + 2 * i);
  t.rowIndex = load<std::uint32_t>(info.data() + 10);
  t.rowMatrix = load<std::uint32_t>(info.data() + 14);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* d = info.data() + kInfoSize + kDescriptorSize * i;
    t.layout.columns.push_back({load<std::uint32_t>(d), load<std::uint16_t>(d + 4), d[6], d[7]});
  }
  sortByTag(t.layout.columns);
  t.layout.validate();
  return t;
}

}  // namespace mailfold::pst::ltp
