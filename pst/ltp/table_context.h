// The table context: rows of fixed-layout cells (folder hierarchies, folder contents,
// recipients, attachments). Each row has the same size: the row id at offset 0, the row
// version at 4, then 8-, 4-, 2- and 1-byte cells, then the cell-existence bitmap. Values that
// do not fit a cell (strings, binaries, GUIDs, multi-valued) sit in the heap or in a sub-node
// and the cell holds their HNID. The row matrix is one heap item while it is small and a
// sub-node data stream once it grows; there rows never straddle a block, and every block but
// the last is padded to the full block size. A BTH (row id -> row index) finds rows by id.
//
// Appending a row writes the last matrix block, the row index leaf and the cells' heap items:
// the cost does not depend on the number of rows. Every change is written to the node before
// the call returns.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "pst/ltp/bth.h"
#include "pst/ltp/heap.h"
#include "pst/ltp/property.h"
#include "pst/ltp/property_value.h"
#include "pst/ndb/node.h"

namespace mailfold::pst::ltp {

struct ColumnDescriptor {
  PropTag tag = 0;
  std::uint16_t offset = 0;  // of the cell within the row
  std::uint8_t size = 0;     // 1, 2, 4 or 8 bytes
  std::uint8_t bit = 0;      // index of the cell's bit in the cell-existence bitmap
  friend bool operator==(const ColumnDescriptor&, const ColumnDescriptor&) = default;
};

struct TableLayout {
  std::vector<ColumnDescriptor> columns;  // sorted by tag
  // End offsets of the 8/4-byte cells, the 2-byte cells, the 1-byte cells and the bitmap
  // (the last one is the row size).
  std::array<std::uint16_t, 4> groupEnds{};

  std::uint16_t rowSize() const { return groupEnds[3]; }
  const ColumnDescriptor* find(PropTag tag) const;

  // The layout for these columns: row id and row version first (added when missing), then
  // 8-, 4-, 2- and 1-byte cells in the order given, the bitmap last; existence bits in the
  // order given. Throws Error for duplicate tags or too many columns.
  static TableLayout forColumns(std::span<const PropTag> tags);
  // Throws Error when cells overlap the bitmap, exceed the row or share a bit.
  void validate() const;
};

// One row's cells that exist, by tag (the row id and version included).
using RowValues = std::map<PropTag, PropertyValue>;

class TableContext {
 public:
  // Writes an empty table with `layout` (computed, or copied from a template table) into
  // `node`, whose data must be empty.
  static TableContext create(ndb::Node& node, const TableLayout& layout);
  static TableContext create(ndb::Node& node, std::span<const PropTag> columns);
  // Opens the table held by `node`, keeping its layout; throws Error when it is none.
  static TableContext open(ndb::Node& node);

  TableContext(TableContext&&) = default;

  const TableLayout& layout() const { return layout_; }
  std::uint32_t rowCount() const { return rowCount_; }

  // Row ids in ascending order with their row index.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> rowIds();
  std::optional<std::uint32_t> rowIndex(std::uint32_t rowId);

  RowValues readRow(std::uint32_t index);
  std::optional<RowValues> findRow(std::uint32_t rowId);
  // The row id stored in row `index`.
  std::uint32_t rowIdAt(std::uint32_t index);

  // Adds a row; throws Error when the id exists or a value has no column.
  void appendRow(std::uint32_t rowId, const RowValues& values);
  // Sets the given cells of an existing row, keeping the others.
  void updateRow(std::uint32_t rowId, const RowValues& values);
  // Marks cells as absent and frees what they referenced.
  void clearCells(std::uint32_t rowId, std::span<const PropTag> tags);
  // Removes a row (the last row takes its place); false when the id is absent.
  bool deleteRow(std::uint32_t rowId);

  // Adds columns (absent in every existing row). The 8- and 4-byte cells already there keep
  // their offsets and existence bits, as Outlook expects of a table made from its template;
  // new wide cells go after them, and the 2-byte, 1-byte and bitmap groups move up. Every row
  // is rewritten once, block by block. Tags already present are skipped.
  void addColumns(std::span<const PropTag> tags);

 private:
  TableContext(ndb::Node& node, Heap heap);
  void loadInfo();
  void writeInfo();
  std::uint32_t rowsPerBlock() const;
  Bytes rowBytes(std::uint32_t index);
  void writeRowBytes(std::uint32_t index, ByteView row);
  void appendRowBytes(ByteView row);
  void dropLastRow();
  static void checkValue(PropTag tag, const PropertyValue& value);
  void setCell(Bytes& row, const ColumnDescriptor& column, const PropertyValue& value, bool existed);
  void releaseCell(const Bytes& row, const ColumnDescriptor& column);
  PropertyValue decodeCell(const Bytes& row, const ColumnDescriptor& column);
  bool cellExists(const Bytes& row, const ColumnDescriptor& column) const;
  ndb::Node& matrixNode();
  const Bytes& readMatrixBlock(std::uint32_t block);  // the cached copy of one block
  void writeMatrixBlock(std::uint32_t block, Bytes bytes);
  ndb::Nid newSubnodeId();
  void rewriteRows(const TableLayout& wider);

  ndb::Node* node_;
  std::unique_ptr<Heap> heap_;
  std::unique_ptr<Bth> index_;
  Hid infoHid_ = 0;
  TableLayout layout_;
  std::uint32_t rows_ = 0;  // hnidRows
  std::uint32_t rowCount_ = 0;
  std::unique_ptr<ndb::Node> matrix_;  // the row matrix sub-node, when there is one
  std::optional<std::uint32_t> cachedIndex_;
  Bytes cachedBlock_;
};

}  // namespace mailfold::pst::ltp
