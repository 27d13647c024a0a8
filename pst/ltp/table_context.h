// The table context: rows of fixed-layout cells (folder hierarchies, folder contents,
// recipients, attachments). Each row has the same size and layout (table_layout.h); the rows
// sit in the row matrix (row_matrix.h), their cells hold values or references to them
// (table_cells.h), and a BTH (row id -> row index) finds rows by id.
//
// Appending a row writes the last matrix block, the row index leaf and the cells' heap items:
// the cost does not depend on the number of rows. Every change is written to the node before
// the call returns.
#pragma once

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
#include "pst/ltp/row_matrix.h"
#include "pst/ltp/table_cells.h"
#include "pst/ltp/table_layout.h"
#include "pst/ndb/node.h"

namespace mailfold::pst::ltp {

// One row's cells that exist, by tag (the row id and version included).
using RowValues = std::map<PropTag, PropertyValue>;

class TableContext {
 public:
  // Writes an empty table with `layout` (a template's, or one grown from it) into `node`,
  // whose data must be empty.
  static TableContext create(ndb::Node& node, const TableLayout& layout);
  // Opens the table held by `node`, keeping its layout; throws Error when it is none.
  static TableContext open(ndb::Node& node);

  TableContext(TableContext&&) = default;

  const TableLayout& layout() const { return layout_; }
  std::uint32_t rowCount() const { return matrix_->rowCount(); }

  // Row ids in ascending order with their row index.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> rowIds();
  std::optional<std::uint32_t> rowIndex(std::uint32_t rowId);

  RowValues readRow(std::uint32_t index);
  // The row id stored in row `index`.
  std::uint32_t rowIdAt(std::uint32_t index);

  // Adds a row; throws Error when the id exists or a value has no column.
  void appendRow(std::uint32_t rowId, const RowValues& values);
  // Sets the given cells of an existing row, keeping the others.
  void updateRow(std::uint32_t rowId, const RowValues& values);

 private:
  TableContext(ndb::Node& node, Heap heap);
  void loadInfo();
  void writeInfo();
  // Writes the header again when the row matrix moved.
  void noteMatrixMoves(std::uint32_t before);

  ndb::Node* node_;
  std::unique_ptr<Heap> heap_;
  std::unique_ptr<Bth> index_;
  Hid infoHid_ = 0;
  TableLayout layout_;
  std::unique_ptr<RowMatrix> matrix_;
  TableCells cells_;
};

}  // namespace mailfold::pst::ltp
