// Tables for the tests: a layout of the columns every table has plus the given ones, and a row
// looked up by its id.
#pragma once

#include <optional>
#include <span>

#include "pst/ltp/table_context.h"

namespace mailfold::test {

inline pst::ltp::TableLayout layoutFor(std::span<const pst::ltp::PropTag> tags) {
  using namespace pst::ltp;
  const TableLayout rowIdAndVersion{{8, 8, 8, 9}, {{kTagLtpRowId, 0, 4, 0}, {kTagLtpRowVer, 4, 4, 1}}};
  return rowIdAndVersion.withColumns(tags);
}

inline std::optional<pst::ltp::RowValues> findRow(pst::ltp::TableContext& table, std::uint32_t rowId) {
  const auto index = table.rowIndex(rowId);
  if (!index) return std::nullopt;
  return table.readRow(*index);
}

}  // namespace mailfold::test
