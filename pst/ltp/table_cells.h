// The cells of a table context's rows: the encoding of one value in its cell, and the existence
// bit that says the cell holds one. Fixed values up to 8 bytes sit in the cell itself; any other
// value sits in the table's heap (up to 3580 bytes) or in a sub-node of the table's node, and
// the cell holds its HNID (0 for an empty value).
#pragma once

#include "pst/bytes.h"
#include "pst/ltp/heap.h"
#include "pst/ltp/property_value.h"
#include "pst/ltp/table_layout.h"
#include "pst/ndb/node.h"

namespace mailfold::pst::ltp {

class TableCells {
 public:
  // Cells of the table held by `node`, whose heap is `heap`.
  TableCells(ndb::Node& node, Heap& heap) : node_(&node), heap_(&heap) {}

  // Throws Error when `value` cannot go into a cell of column `tag`; nothing is allocated.
  static void check(PropTag tag, const PropertyValue& value);

  static bool exists(const TableLayout& layout, ByteView row, const ColumnDescriptor& column);
  PropertyValue read(ByteView row, const ColumnDescriptor& column);
  // Stores `value` in the cell and sets its existence bit; `existed` says the cell held a value
  // whose storage is to be freed first.
  void write(const TableLayout& layout, Bytes& row, const ColumnDescriptor& column, const PropertyValue& value, bool existed);

 private:
  void release(const TableLayout& layout, ByteView row, const ColumnDescriptor& column);

  ndb::Node* node_;
  Heap* heap_;
};

}  // namespace mailfold::pst::ltp
