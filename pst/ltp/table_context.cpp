#include "pst/ltp/table_context.h"

#include <algorithm>
#include <string>

namespace mailfold::pst::ltp {

TableContext::TableContext(ndb::Node& node, Heap heap)
    : node_(&node), heap_(std::make_unique<Heap>(std::move(heap))), cells_(node, *heap_) {}

TableContext TableContext::create(ndb::Node& node, const TableLayout& layout) {
  TableLayout sorted = layout;
  std::sort(sorted.columns.begin(), sorted.columns.end(),
            [](const ColumnDescriptor& a, const ColumnDescriptor& b) { return a.tag < b.tag; });
  sorted.validate();
  TableContext tc(node, Heap::create(node.data(), kClientTable));
  tc.layout_ = std::move(sorted);
  const Hid indexHeader = Bth::create(*tc.heap_, 4, 4);
  tc.index_ = std::make_unique<Bth>(*tc.heap_, indexHeader);
  tc.matrix_ = std::make_unique<RowMatrix>(node, *tc.heap_, 0, tc.layout_.rowSize());
  tc.infoHid_ = tc.heap_->allocate(Bytes(encodeTableInfo({tc.layout_, 0, 0}).size(), 0));
  tc.heap_->setUserRoot(tc.infoHid_);
  tc.writeInfo();
  tc.heap_->flush();
  return tc;
}

TableContext TableContext::open(ndb::Node& node) {
  try {
    TableContext tc(node, Heap::open(node.data()));
    tc.loadInfo();
    return tc;
  } catch (const Error& e) {
    throw Error("table " + hex(node.nid()) + ": ", e);
  }
}

void TableContext::loadInfo() {
  if (heap_->clientSignature() != kClientTable)
    throw Error(ErrorKind::kCorrupt, "heap client signature is " + hex(heap_->clientSignature()) + ", not a table (0x7C)");
  infoHid_ = heap_->userRoot();
  TableInfo info = decodeTableInfo(heap_->read(infoHid_));
  layout_ = std::move(info.layout);
  index_ = std::make_unique<Bth>(*heap_, info.rowIndex);
  if (index_->keySize() != 4 || (index_->dataSize() != 4 && index_->dataSize() != 2))
    throw Error(ErrorKind::kCorrupt, "row index has " + std::to_string(index_->keySize()) + "-byte keys and " +
                std::to_string(index_->dataSize()) + "-byte values");
  matrix_ = std::make_unique<RowMatrix>(*node_, *heap_, info.rowMatrix, layout_.rowSize());
}

void TableContext::writeInfo() {
  infoHid_ = heap_->reallocate(infoHid_, encodeTableInfo({layout_, index_->headerHid(), matrix_->hnid()}));
  if (heap_->userRoot() != infoHid_) heap_->setUserRoot(infoHid_);
}

void TableContext::noteMatrixMoves(std::uint32_t before) {
  if (matrix_->hnid() != before) writeInfo();
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> TableContext::rowIds() {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
  index_->forEach([&out](ByteView key, ByteView data) {
    out.emplace_back(static_cast<std::uint32_t>(Bth::decodeInt(key)), static_cast<std::uint32_t>(Bth::decodeInt(data)));
    return true;
  });
  return out;
}

std::optional<std::uint32_t> TableContext::rowIndex(std::uint32_t rowId) {
  const auto data = index_->find(Bth::encodeInt(rowId, 4));
  if (!data) return std::nullopt;
  return static_cast<std::uint32_t>(Bth::decodeInt(*data));
}

std::uint32_t TableContext::rowIdAt(std::uint32_t index) { return load<std::uint32_t>(matrix_->row(index).data()); }

RowValues TableContext::readRow(std::uint32_t index) {
  const Bytes row = matrix_->row(index);
  RowValues values;
  for (const ColumnDescriptor& column : layout_.columns) {
    if (!TableCells::exists(layout_, row, column)) continue;
    try {
      values.emplace(column.tag, cells_.read(row, column));
    } catch (const Error& e) {
      throw Error("table " + hex(node_->nid()) + " row " + std::to_string(index) + ": ", e);
    }
  }
  return values;
}

void TableContext::appendRow(std::uint32_t rowId, const RowValues& values) {
  try {
    if (index_->find(Bth::encodeInt(rowId, 4))) throw Error(ErrorKind::kBadInput, "row id " + hex(rowId) + " already exists");
    const std::uint32_t index = matrix_->rowCount();
    if (index_->dataSize() < 4 && index >= (1u << (8 * index_->dataSize())))
      throw Error(ErrorKind::kRefused, "the row index of this table cannot count beyond " + std::to_string(index) + " rows");
    // A value that cannot go into its cell is refused before anything is allocated for the row.
    for (const auto& [tag, value] : values) {
      if (!layout_.find(tag)) throw Error(ErrorKind::kBadInput, "no column " + tagName(tag));
      if (tag == kTagLtpRowId) continue;
      TableCells::check(tag, value);
    }
    Bytes row(layout_.rowSize(), 0);
    store<std::uint32_t>(row.data(), rowId);
    if (const ColumnDescriptor* c = layout_.find(kTagLtpRowId)) cells_.write(layout_, row, *c, static_cast<std::int32_t>(rowId), false);
    if (const ColumnDescriptor* c = layout_.find(kTagLtpRowVer)) cells_.write(layout_, row, *c, std::int32_t{0}, false);
    for (const auto& [tag, value] : values) {
      if (tag != kTagLtpRowId) cells_.write(layout_, row, *layout_.find(tag), value, false);
    }
    const std::uint32_t matrixBefore = matrix_->hnid();
    matrix_->append(row);
    noteMatrixMoves(matrixBefore);
    index_->put(Bth::encodeInt(rowId, 4), Bth::encodeInt(index, index_->dataSize()));
    heap_->flush();
  } catch (const Error& e) {
    throw Error("appending row " + hex(rowId) + " to table " + hex(node_->nid()) + ": ", e);
  }
}

void TableContext::updateRow(std::uint32_t rowId, const RowValues& values) {
  try {
    const auto index = rowIndex(rowId);
    if (!index) throw Error(ErrorKind::kNotFound, "no row " + hex(rowId));
    for (const auto& [tag, value] : values) {
      if (!layout_.find(tag)) throw Error(ErrorKind::kBadInput, "no column " + tagName(tag));
      if (tag == kTagLtpRowId) throw Error(ErrorKind::kBadInput, "the row id cannot change");
      TableCells::check(tag, value);
    }
    Bytes row = matrix_->row(*index);
    for (const auto& [tag, value] : values) {
      const ColumnDescriptor& column = *layout_.find(tag);
      cells_.write(layout_, row, column, value, TableCells::exists(layout_, row, column));
    }
    const std::uint32_t matrixBefore = matrix_->hnid();
    matrix_->write(*index, row);
    noteMatrixMoves(matrixBefore);
    heap_->flush();
  } catch (const Error& e) {
    throw Error("updating row " + hex(rowId) + " of table " + hex(node_->nid()) + ": ", e);
  }
}

}  // namespace mailfold::pst::ltp
