// The layout of a table context's rows: where each column's cell sits, how wide it is and which
// bit of the cell-existence bitmap says the cell exists; and the table header (TCINFO) that
// records the layout with the row index and the row matrix.
//
// A row is the row id at offset 0, the row version at 4, then the 8- and 4-byte cells, the
// 2-byte cells, the 1-byte cells and the bitmap. Values that do not fit a cell (strings,
// binaries, GUIDs, multi-valued) sit in the heap or in a sub-node and the cell holds their HNID.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "pst/bytes.h"
#include "pst/ltp/property_value.h"

namespace mailfold::pst::ltp {

struct ColumnDescriptor {
  PropTag tag = 0;
  std::uint16_t offset = 0;  // of the cell within the row
  std::uint8_t size = 0;     // 1, 2, 4 or 8 bytes
  std::uint8_t bit = 0;      // index of the cell's bit in the cell-existence bitmap
  friend bool operator==(const ColumnDescriptor&, const ColumnDescriptor&) = default;
};

// Width of a column's cell: fixed values up to 8 bytes inline (1 for booleans, 2 for 16-bit
// integers, 8 for 64-bit values and times, else 4), everything else a 4-byte HNID.
std::uint8_t cellWidth(PropTag tag);

struct TableLayout {
  // End offsets of the 8/4-byte cells, the 2-byte cells, the 1-byte cells and the bitmap
  // (the last one is the row size), as the table header records them.
  std::array<std::uint16_t, 4> groupEnds{};
  std::vector<ColumnDescriptor> columns;  // sorted by tag

  std::uint16_t rowSize() const { return groupEnds[3]; }
  const ColumnDescriptor* find(PropTag tag) const;

  // This layout with a column for each of `tags` it lacks, the way Outlook expects a table made
  // from its template to grow: the 8- and 4-byte cells keep their offsets and every column its
  // existence bit; new 8- and 4-byte cells follow the existing ones in tag order, the 2- and
  // 1-byte groups move behind them (existing cells first, new ones after, in tag order); new
  // existence bits follow the highest one in use, in tag order. Throws Error when the columns or
  // their existence bits would exceed 255.
  TableLayout withColumns(std::span<const PropTag> tags) const;

  // Throws Error when cells overlap the bitmap, exceed the row or share a bit.
  void validate() const;
};

// The table header: the layout, the HID of the row index and the HNID of the row matrix (0
// while the table has no rows).
struct TableInfo {
  TableLayout layout;
  std::uint32_t rowIndex = 0;
  std::uint32_t rowMatrix = 0;
};

Bytes encodeTableInfo(const TableInfo& info);
// Never trusts `bytes`: throws Error when the header is malformed or its layout is not valid.
// The columns come back sorted by tag (Outlook keeps them so; a store that does not is still
// readable).
TableInfo decodeTableInfo(ByteView bytes);

}  // namespace mailfold::pst::ltp
