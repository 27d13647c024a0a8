#include "pst/ltp/table_context.h"

#include "pst/ltp/property_context.h"

#include <algorithm>
#include <cstdio>
#include <set>

namespace mailfold::pst::ltp {
namespace {

constexpr std::uint8_t kTableType = 0x7C;
constexpr std::size_t kInfoSize = 22;
constexpr std::size_t kDescriptorSize = 8;
constexpr std::uint32_t kBlockSize = ndb::kMaxBlockPayload;

// Width of a column's cell: fixed values up to 8 bytes inline, everything else an HNID.
std::uint8_t cellWidth(PropTag tag) {
  const std::uint32_t w = fixedWidth(tagType(tag));
  return static_cast<std::uint8_t>(w != 0 && w <= 8 ? w : 4);
}

bool storedInline(PropTag tag) {
  const std::uint32_t w = fixedWidth(tagType(tag));
  return w != 0 && w <= 8;
}

void writeBytes(ndb::NodeData& data, ByteView bytes) {
  std::uint32_t block = 0;
  for (std::size_t at = 0; at < bytes.size(); at += kBlockSize)
    data.writeBlock(block++, bytes.subspan(at, std::min<std::size_t>(kBlockSize, bytes.size() - at)));
}

}  // namespace

const ColumnDescriptor* TableLayout::find(PropTag tag) const {
  auto it = std::lower_bound(columns.begin(), columns.end(), tag,
                             [](const ColumnDescriptor& c, PropTag t) { return c.tag < t; });
  return it != columns.end() && it->tag == tag ? &*it : nullptr;
}

TableLayout TableLayout::forColumns(std::span<const PropTag> tags) {
  std::vector<PropTag> ordered = {kTagLtpRowId, kTagLtpRowVer};
  std::set<PropTag> seen(ordered.begin(), ordered.end());
  for (PropTag tag : tags) {
    if (tag == kTagLtpRowId || tag == kTagLtpRowVer) continue;
    if (!seen.insert(tag).second) throw Error("column " + tagName(tag) + " is listed twice");
    ordered.push_back(tag);
  }
  if (ordered.size() > 255) throw Error("a table holds at most 255 columns, not " + std::to_string(ordered.size()));
  TableLayout layout;
  layout.columns.push_back({kTagLtpRowId, 0, 4, 0});
  layout.columns.push_back({kTagLtpRowVer, 4, 4, 1});
  std::uint32_t offset = 8;
  static constexpr std::uint8_t kWidths[] = {8, 4, 2, 1};
  for (std::uint8_t width : kWidths) {
    for (std::size_t i = 2; i < ordered.size(); ++i) {
      if (cellWidth(ordered[i]) != width) continue;
      layout.columns.push_back({ordered[i], static_cast<std::uint16_t>(offset), width, static_cast<std::uint8_t>(i)});
      offset += width;
    }
    if (width == 4) layout.groupEnds[0] = static_cast<std::uint16_t>(offset);
    if (width == 2) layout.groupEnds[1] = static_cast<std::uint16_t>(offset);
    if (width == 1) layout.groupEnds[2] = static_cast<std::uint16_t>(offset);
  }
  const std::uint32_t rowSize = offset + (static_cast<std::uint32_t>(ordered.size()) + 7) / 8;
  if (rowSize > kBlockSize) throw Error("a row of " + std::to_string(rowSize) + " bytes does not fit a block");
  layout.groupEnds[3] = static_cast<std::uint16_t>(rowSize);
  std::sort(layout.columns.begin(), layout.columns.end(),
            [](const ColumnDescriptor& a, const ColumnDescriptor& b) { return a.tag < b.tag; });
  return layout;
}

void TableLayout::validate() const {
  if (columns.size() > 255) throw Error("table has " + std::to_string(columns.size()) + " columns, at most 255 allowed");
  for (std::size_t i = 1; i < 4; ++i)
    if (groupEnds[i] < groupEnds[i - 1]) throw Error("table group offsets are out of order");
  if (groupEnds[3] < 4 || groupEnds[3] > kBlockSize)
    throw Error("table row size " + std::to_string(groupEnds[3]) + " is outside 4.." + std::to_string(kBlockSize));
  const std::uint32_t bitmapBits = 8u * (groupEnds[3] - groupEnds[2]);
  std::set<std::uint8_t> bits;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const ColumnDescriptor& c = columns[i];
    if (i > 0 && columns[i - 1].tag >= c.tag) throw Error("table columns are not sorted by tag at " + tagName(c.tag));
    if (c.size != 1 && c.size != 2 && c.size != 4 && c.size != 8)
      throw Error("column " + tagName(c.tag) + " has a cell of " + std::to_string(c.size) + " bytes");
    if (std::uint32_t{c.offset} + c.size > groupEnds[2])
      throw Error("column " + tagName(c.tag) + " at offset " + std::to_string(c.offset) + " runs into the bitmap");
    if (c.bit >= bitmapBits) throw Error("column " + tagName(c.tag) + " has existence bit " + std::to_string(c.bit) + " outside the bitmap");
    if (!bits.insert(c.bit).second) throw Error("column " + tagName(c.tag) + " shares existence bit " + std::to_string(c.bit));
  }
}

TableContext::TableContext(ndb::Node& node, Heap heap) : node_(&node), heap_(std::make_unique<Heap>(std::move(heap))) {}

TableContext TableContext::create(ndb::Node& node, std::span<const PropTag> columns) {
  return create(node, TableLayout::forColumns(columns));
}

TableContext TableContext::create(ndb::Node& node, const TableLayout& layout) {
  TableLayout sorted = layout;
  std::sort(sorted.columns.begin(), sorted.columns.end(),
            [](const ColumnDescriptor& a, const ColumnDescriptor& b) { return a.tag < b.tag; });
  sorted.validate();
  TableContext tc(node, Heap::create(node.data(), kClientTable));
  tc.layout_ = std::move(sorted);
  const Hid indexHeader = Bth::create(*tc.heap_, 4, 4);
  tc.index_ = std::make_unique<Bth>(*tc.heap_, indexHeader);
  tc.infoHid_ = tc.heap_->allocate(Bytes(kInfoSize + kDescriptorSize * tc.layout_.columns.size(), 0));
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
    throw Error("table " + hex(node.nid()) + ": " + e.what());
  }
}

void TableContext::loadInfo() {
  if (heap_->clientSignature() != kClientTable)
    throw Error("heap client signature is " + hex(heap_->clientSignature()) + ", not a table (0x7C)");
  infoHid_ = heap_->userRoot();
  const Bytes info = heap_->read(infoHid_);
  if (info.size() < kInfoSize || info[0] != kTableType) throw Error("table header is missing or malformed");
  const std::uint8_t count = info[1];
  if (info.size() < kInfoSize + kDescriptorSize * count)
    throw Error("table header of " + std::to_string(info.size()) + " bytes is too short for " + std::to_string(count) + " columns");
  for (std::size_t i = 0; i < 4; ++i) layout_.groupEnds[i] = load<std::uint16_t>(info.data() + 2 + 2 * i);
  const Hid indexHid = load<std::uint32_t>(info.data() + 10);
  rows_ = load<std::uint32_t>(info.data() + 14);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* d = info.data() + kInfoSize + kDescriptorSize * i;
    layout_.columns.push_back({load<std::uint32_t>(d), load<std::uint16_t>(d + 4), d[6], d[7]});
  }
  // Outlook keeps the descriptors sorted by tag; a store that does not is still readable.
  std::sort(layout_.columns.begin(), layout_.columns.end(),
            [](const ColumnDescriptor& a, const ColumnDescriptor& b) { return a.tag < b.tag; });
  layout_.validate();
  index_ = std::make_unique<Bth>(*heap_, indexHid);
  if (index_->keySize() != 4 || (index_->dataSize() != 4 && index_->dataSize() != 2))
    throw Error("row index has " + std::to_string(index_->keySize()) + "-byte keys and " +
                std::to_string(index_->dataSize()) + "-byte values");
  const std::uint32_t rowSize = layout_.rowSize();
  if (rows_ == 0) {
    rowCount_ = 0;
  } else if (isHid(rows_)) {
    rowCount_ = heap_->itemSize(rows_) / rowSize;
  } else {
    ndb::NodeData& data = matrixNode().data();
    const std::uint32_t blocks = data.blockCount();
    rowCount_ = blocks == 0 ? 0 : (blocks - 1) * rowsPerBlock() + static_cast<std::uint32_t>(readMatrixBlock(blocks - 1).size() / rowSize);
  }
}

void TableContext::writeInfo() {
  Bytes info(kInfoSize + kDescriptorSize * layout_.columns.size(), 0);
  info[0] = kTableType;
  info[1] = static_cast<std::uint8_t>(layout_.columns.size());
  for (std::size_t i = 0; i < 4; ++i) store<std::uint16_t>(info.data() + 2 + 2 * i, layout_.groupEnds[i]);
  store<std::uint32_t>(info.data() + 10, index_->headerHid());
  store<std::uint32_t>(info.data() + 14, rows_);
  for (std::size_t i = 0; i < layout_.columns.size(); ++i) {
    std::uint8_t* d = info.data() + kInfoSize + kDescriptorSize * i;
    const ColumnDescriptor& c = layout_.columns[i];
    store<std::uint32_t>(d, c.tag);
    store<std::uint16_t>(d + 4, c.offset);
    d[6] = c.size;
    d[7] = c.bit;
  }
  infoHid_ = heap_->reallocate(infoHid_, info);
  if (heap_->userRoot() != infoHid_) heap_->setUserRoot(infoHid_);
}

std::uint32_t TableContext::rowsPerBlock() const { return kBlockSize / layout_.rowSize(); }

ndb::Node& TableContext::matrixNode() {
  if (!matrix_) matrix_ = node_->openSubnode(rows_);
  return *matrix_;
}

const Bytes& TableContext::readMatrixBlock(std::uint32_t block) {
  if (cachedIndex_ != block) {
    cachedBlock_ = matrixNode().data().readBlock(block);
    cachedIndex_ = block;
  }
  return cachedBlock_;
}

void TableContext::writeMatrixBlock(std::uint32_t block, Bytes bytes) {
  matrixNode().data().writeBlock(block, bytes);
  cachedBlock_ = std::move(bytes);
  cachedIndex_ = block;
}

ndb::Nid TableContext::newSubnodeId() {
  std::uint32_t highest = 0;
  for (ndb::Nid nid : node_->subnodeIds())
    if (ndb::nidType(nid) == ndb::kNidTypeLtp) highest = std::max(highest, ndb::nidIndex(nid));
  if (highest >= (1u << 27) - 1) throw Error("no free sub-node id left");
  return ndb::makeNid(ndb::kNidTypeLtp, highest + 1);
}

Bytes TableContext::rowBytes(std::uint32_t index) {
  if (index >= rowCount_) throw Error("row " + std::to_string(index) + " does not exist in a table of " + std::to_string(rowCount_) + " rows");
  const std::uint32_t size = layout_.rowSize();
  if (isHid(rows_)) {
    const Bytes matrix = heap_->read(rows_);
    if ((std::uint64_t{index} + 1) * size > matrix.size()) throw Error("row matrix item is shorter than its rows");
    return Bytes(matrix.begin() + index * size, matrix.begin() + (index + 1) * size);
  }
  const std::uint32_t block = index / rowsPerBlock();
  const std::uint32_t at = (index % rowsPerBlock()) * size;
  const Bytes& bytes = readMatrixBlock(block);
  if (at + size > bytes.size())
    throw Error("row matrix block " + std::to_string(block) + " of " + std::to_string(bytes.size()) + " bytes ends before row " +
                std::to_string(index));
  return Bytes(bytes.begin() + at, bytes.begin() + at + size);
}

void TableContext::writeRowBytes(std::uint32_t index, ByteView row) {
  const std::uint32_t size = layout_.rowSize();
  if (isHid(rows_)) {
    Bytes matrix = heap_->read(rows_);
    std::copy(row.begin(), row.end(), matrix.begin() + index * size);
    rows_ = heap_->reallocate(rows_, matrix);  // same size: stays in place
    return;
  }
  const std::uint32_t block = index / rowsPerBlock();
  Bytes bytes = readMatrixBlock(block);
  std::copy(row.begin(), row.end(), bytes.begin() + (index % rowsPerBlock()) * size);
  writeMatrixBlock(block, std::move(bytes));
}

void TableContext::appendRowBytes(ByteView row) {
  const std::uint32_t size = layout_.rowSize();
  const std::uint32_t perBlock = rowsPerBlock();
  if (rows_ != 0 && isHid(rows_)) {
    Bytes matrix = heap_->read(rows_);
    matrix.insert(matrix.end(), row.begin(), row.end());
    if (matrix.size() <= kMaxHeapItem) {
      const Hid moved = heap_->reallocate(rows_, matrix);
      if (moved != rows_) {
        rows_ = moved;
        writeInfo();
      }
      return;
    }
    // Too large for the heap: the rows move to a sub-node, whole rows per block.
    const ndb::Nid nid = newSubnodeId();
    matrix_ = node_->createSubnode(nid);
    cachedIndex_.reset();
    const std::uint32_t total = static_cast<std::uint32_t>(matrix.size() / size);
    for (std::uint32_t first = 0, block = 0; first < total; first += perBlock, ++block) {
      const std::uint32_t n = std::min(perBlock, total - first);
      Bytes bytes(matrix.begin() + first * size, matrix.begin() + (first + n) * size);
      if (first + n < total) bytes.resize(kBlockSize, 0);
      writeMatrixBlock(block, std::move(bytes));
    }
    heap_->free(rows_);
    rows_ = nid;
    writeInfo();
    return;
  }
  if (rows_ == 0) {
    if (size <= kMaxHeapItem) {
      rows_ = heap_->allocate(row);
    } else {
      rows_ = newSubnodeId();
      matrix_ = node_->createSubnode(rows_);
      cachedIndex_.reset();
      writeMatrixBlock(0, Bytes(row.begin(), row.end()));
    }
    writeInfo();
    return;
  }
  const std::uint32_t block = rowCount_ / perBlock;
  const std::uint32_t blocks = matrixNode().data().blockCount();
  if (block + 1 == blocks) {
    Bytes bytes = readMatrixBlock(block);
    bytes.resize((rowCount_ % perBlock) * size);
    bytes.insert(bytes.end(), row.begin(), row.end());
    writeMatrixBlock(block, std::move(bytes));
  } else if (block == blocks) {
    if (block > 0) {
      Bytes previous = readMatrixBlock(block - 1);
      if (previous.size() != kBlockSize) {
        previous.resize(kBlockSize, 0);  // no longer the last block: padded to full size
        writeMatrixBlock(block - 1, std::move(previous));
      }
    }
    writeMatrixBlock(block, Bytes(row.begin(), row.end()));
  } else {
    throw Error("row matrix has " + std::to_string(blocks) + " blocks for " + std::to_string(rowCount_) + " rows");
  }
}

void TableContext::dropLastRow() {
  const std::uint32_t remaining = rowCount_ - 1;
  const std::uint32_t size = layout_.rowSize();
  if (isHid(rows_)) {
    if (remaining == 0) {
      heap_->free(rows_);
      rows_ = 0;
      writeInfo();
    } else {
      Bytes matrix = heap_->read(rows_);
      matrix.resize(remaining * size);
      rows_ = heap_->reallocate(rows_, matrix);
      writeInfo();
    }
    return;
  }
  if (remaining == 0) {
    matrix_.reset();
    cachedIndex_.reset();
    node_->deleteSubnode(rows_);
    rows_ = 0;
    writeInfo();
    return;
  }
  const std::uint32_t lastBlock = (remaining - 1) / rowsPerBlock();
  ndb::NodeData& data = matrixNode().data();
  if (data.blockCount() > lastBlock + 1) {
    data.truncate(lastBlock + 1);
    cachedIndex_.reset();
  }
  Bytes bytes = readMatrixBlock(lastBlock);
  bytes.resize((remaining - lastBlock * rowsPerBlock()) * size);
  writeMatrixBlock(lastBlock, std::move(bytes));
}

bool TableContext::cellExists(const Bytes& row, const ColumnDescriptor& column) const {
  return (row[layout_.groupEnds[2] + column.bit / 8] & (0x80 >> (column.bit % 8))) != 0;
}

PropertyValue TableContext::decodeCell(const Bytes& row, const ColumnDescriptor& column) {
  const std::uint16_t type = tagType(column.tag);
  const std::uint8_t* cell = row.data() + column.offset;
  if (storedInline(column.tag)) {
    const std::uint32_t width = fixedWidth(type);
    if (column.size < width)
      throw Error("column " + tagName(column.tag) + " has " + std::to_string(column.size) + "-byte cells for a " +
                  std::to_string(width) + "-byte type");
    return decodeValue(type, ByteView(cell, width));
  }
  if (column.size != 4) throw Error("column " + tagName(column.tag) + " holds references in " + std::to_string(column.size) + "-byte cells");
  const std::uint32_t hnid = load<std::uint32_t>(cell);
  if (hnid == 0) return emptyValue(type);
  if (isHid(hnid)) return decodeValue(type, heap_->read(hnid));
  auto sub = node_->openSubnode(hnid);
  return decodeValue(type, ndb::readAll(sub->data()));
}

void TableContext::releaseCell(const Bytes& row, const ColumnDescriptor& column) {
  if (!cellExists(row, column) || storedInline(column.tag) || column.size != 4) return;
  const std::uint32_t hnid = load<std::uint32_t>(row.data() + column.offset);
  if (hnid == 0) return;
  if (isHid(hnid))
    heap_->free(hnid);
  else if (node_->hasSubnode(hnid))
    node_->deleteSubnode(hnid);
}

void TableContext::setCell(Bytes& row, const ColumnDescriptor& column, const PropertyValue& value, bool existed) {
  const std::uint16_t type = tagType(column.tag);
  std::uint8_t* cell = row.data() + column.offset;
  if (existed) releaseCell(row, column);
  std::fill(cell, cell + column.size, 0);
  if (storedInline(column.tag)) {
    const Bytes bytes = encodeValue(type, value);
    if (bytes.size() > column.size)
      throw Error("column " + tagName(column.tag) + " has " + std::to_string(column.size) + "-byte cells for a " +
                  std::to_string(bytes.size()) + "-byte value");
    std::copy(bytes.begin(), bytes.end(), cell);
  } else {
    if (column.size != 4) throw Error("column " + tagName(column.tag) + " cannot hold a reference");
    std::uint32_t hnid = 0;
    if (const auto* src = std::get_if<std::shared_ptr<const ByteSource>>(&value)) {
      if (type != kPtBinary || !*src) throw Error("a streamed value needs a binary column");
      if ((*src)->size() > kMaxHeapItem) {
        hnid = newSubnodeId();
        writeStream(node_->createSubnode(hnid)->data(), **src);
      } else {
        Bytes bytes(static_cast<std::size_t>((*src)->size()));
        std::size_t got = 0;
        while (got < bytes.size()) {
          const std::size_t n = (*src)->read(got, std::span<std::uint8_t>(bytes.data() + got, bytes.size() - got));
          if (n == 0) throw Error("value ended before its announced size");
          got += n;
        }
        if (!bytes.empty()) hnid = heap_->allocate(bytes);
      }
    } else {
      const Bytes bytes = encodeValue(type, value);
      if (bytes.size() > kMaxHeapItem) {
        hnid = newSubnodeId();
        writeBytes(node_->createSubnode(hnid)->data(), bytes);
      } else if (!bytes.empty()) {
        hnid = heap_->allocate(bytes);
      }
    }
    store<std::uint32_t>(cell, hnid);
  }
  row[layout_.groupEnds[2] + column.bit / 8] |= static_cast<std::uint8_t>(0x80 >> (column.bit % 8));
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

std::uint32_t TableContext::rowIdAt(std::uint32_t index) { return load<std::uint32_t>(rowBytes(index).data()); }

RowValues TableContext::readRow(std::uint32_t index) {
  const Bytes row = rowBytes(index);
  RowValues values;
  for (const ColumnDescriptor& column : layout_.columns) {
    if (!cellExists(row, column)) continue;
    try {
      values.emplace(column.tag, decodeCell(row, column));
    } catch (const Error& e) {
      throw Error("table " + hex(node_->nid()) + " row " + std::to_string(index) + ": " + e.what());
    }
  }
  return values;
}

std::optional<RowValues> TableContext::findRow(std::uint32_t rowId) {
  const auto index = rowIndex(rowId);
  if (!index) return std::nullopt;
  if (*index >= rowCount_)
    throw Error("table " + hex(node_->nid()) + ": row id " + hex(rowId) + " points to row " + std::to_string(*index) +
                " of " + std::to_string(rowCount_));
  return readRow(*index);
}

// Refuses a value that cannot go into its cell before anything is allocated for the row.
void TableContext::checkValue(PropTag tag, const PropertyValue& value) {
  if (const auto* src = std::get_if<std::shared_ptr<const ByteSource>>(&value)) {
    if (tagType(tag) != kPtBinary || !*src) throw Error("a streamed value needs a binary column, not " + tagName(tag));
    return;
  }
  (void)encodeValue(tagType(tag), value);
}

void TableContext::appendRow(std::uint32_t rowId, const RowValues& values) {
  try {
    if (index_->find(Bth::encodeInt(rowId, 4))) throw Error("row id " + hex(rowId) + " already exists");
    if (index_->dataSize() < 4 && rowCount_ >= (1u << (8 * index_->dataSize())))
      throw Error("the row index of this table cannot count beyond " + std::to_string(rowCount_) + " rows");
    for (const auto& [tag, value] : values) {
      if (!layout_.find(tag)) throw Error("no column " + tagName(tag));
      if (tag == kTagLtpRowId) continue;
      checkValue(tag, value);
    }
    Bytes row(layout_.rowSize(), 0);
    store<std::uint32_t>(row.data(), rowId);
    if (const ColumnDescriptor* c = layout_.find(kTagLtpRowId)) setCell(row, *c, static_cast<std::int32_t>(rowId), false);
    if (const ColumnDescriptor* c = layout_.find(kTagLtpRowVer)) setCell(row, *c, std::int32_t{0}, false);
    for (const auto& [tag, value] : values) {
      if (tag != kTagLtpRowId) setCell(row, *layout_.find(tag), value, false);
    }
    appendRowBytes(row);
    index_->put(Bth::encodeInt(rowId, 4), Bth::encodeInt(rowCount_, index_->dataSize()));
    ++rowCount_;
    heap_->flush();
  } catch (const Error& e) {
    throw Error("appending row " + hex(rowId) + " to table " + hex(node_->nid()) + ": " + e.what());
  }
}

void TableContext::updateRow(std::uint32_t rowId, const RowValues& values) {
  try {
    const auto index = rowIndex(rowId);
    if (!index) throw Error("no row " + hex(rowId));
    for (const auto& [tag, value] : values) {
      if (!layout_.find(tag)) throw Error("no column " + tagName(tag));
      if (tag == kTagLtpRowId) throw Error("the row id cannot change");
      checkValue(tag, value);
    }
    Bytes row = rowBytes(*index);
    for (const auto& [tag, value] : values) {
      const ColumnDescriptor& column = *layout_.find(tag);
      setCell(row, column, value, cellExists(row, column));
    }
    writeRowBytes(*index, row);
    heap_->flush();
  } catch (const Error& e) {
    throw Error("updating row " + hex(rowId) + " of table " + hex(node_->nid()) + ": " + e.what());
  }
}

void TableContext::clearCells(std::uint32_t rowId, std::span<const PropTag> tags) {
  const auto index = rowIndex(rowId);
  if (!index) throw Error("table " + hex(node_->nid()) + " has no row " + hex(rowId));
  Bytes row = rowBytes(*index);
  for (PropTag tag : tags) {
    const ColumnDescriptor* column = layout_.find(tag);
    if (!column) throw Error("table " + hex(node_->nid()) + " has no column " + tagName(tag));
    if (tag == kTagLtpRowId) throw Error("the row id cell cannot be cleared");
    releaseCell(row, *column);
    std::fill(row.begin() + column->offset, row.begin() + column->offset + column->size, 0);
    row[layout_.groupEnds[2] + column->bit / 8] &= static_cast<std::uint8_t>(~(0x80 >> (column->bit % 8)));
  }
  writeRowBytes(*index, row);
  heap_->flush();
}

bool TableContext::deleteRow(std::uint32_t rowId) {
  const auto index = rowIndex(rowId);
  if (!index) return false;
  if (*index >= rowCount_) throw Error("table " + hex(node_->nid()) + ": row id " + hex(rowId) + " points past the rows");
  const Bytes row = rowBytes(*index);
  for (const ColumnDescriptor& column : layout_.columns) releaseCell(row, column);
  const std::uint32_t last = rowCount_ - 1;
  if (*index != last) {
    const Bytes moved = rowBytes(last);
    writeRowBytes(*index, moved);
    index_->put(ByteView(moved.data(), 4), Bth::encodeInt(*index, index_->dataSize()));
  }
  dropLastRow();
  --rowCount_;
  index_->erase(Bth::encodeInt(rowId, 4));
  heap_->flush();
  return true;
}

void TableContext::addColumns(std::span<const PropTag> tags) {
  try {
    std::vector<PropTag> added;
    for (PropTag tag : tags)
      if (!layout_.find(tag) && std::find(added.begin(), added.end(), tag) == added.end()) added.push_back(tag);
    if (added.empty()) return;
    const std::size_t total = layout_.columns.size() + added.size();
    if (total > 255) throw Error("a table holds at most 255 columns, not " + std::to_string(total));

    TableLayout wider = layout_;
    std::uint32_t nextBit = 0;
    for (const ColumnDescriptor& c : layout_.columns) nextBit = std::max<std::uint32_t>(nextBit, c.bit + 1u);
    std::array<std::uint32_t, 3> grown{};  // bytes added to the 8/4-, 2- and 1-byte groups
    static constexpr std::uint8_t kWidths[] = {8, 4, 2, 1};
    std::vector<ColumnDescriptor> fresh;
    for (std::uint8_t width : kWidths) {
      const std::size_t group = width >= 4 ? 0 : width == 2 ? 1 : 2;
      for (PropTag tag : added) {
        if (cellWidth(tag) != width) continue;
        // Offsets are fixed below, once every group's growth is known.
        fresh.push_back({tag, static_cast<std::uint16_t>(grown[group]), width, 0});
        grown[group] += width;
      }
    }
    if (nextBit + added.size() > 255 + 1u) throw Error("no existence bits left for new columns");
    const std::uint32_t shift2 = grown[0];
    const std::uint32_t shift1 = grown[0] + grown[1];
    for (ColumnDescriptor& c : wider.columns) {
      if (c.offset >= layout_.groupEnds[1] && c.offset < layout_.groupEnds[2])
        c.offset = static_cast<std::uint16_t>(c.offset + shift1);
      else if (c.offset >= layout_.groupEnds[0] && c.offset < layout_.groupEnds[1])
        c.offset = static_cast<std::uint16_t>(c.offset + shift2);
    }
    for (ColumnDescriptor& c : fresh) {
      const std::uint32_t base = c.size >= 4 ? layout_.groupEnds[0] : c.size == 2 ? layout_.groupEnds[1] + shift2
                                                                                   : layout_.groupEnds[2] + shift1;
      c.offset = static_cast<std::uint16_t>(base + c.offset);
    }
    // New columns take existence bits in the order given.
    for (PropTag tag : added)
      for (ColumnDescriptor& c : fresh)
        if (c.tag == tag) c.bit = static_cast<std::uint8_t>(nextBit++);
    wider.columns.insert(wider.columns.end(), fresh.begin(), fresh.end());
    std::sort(wider.columns.begin(), wider.columns.end(),
              [](const ColumnDescriptor& a, const ColumnDescriptor& b) { return a.tag < b.tag; });
    wider.groupEnds[0] = static_cast<std::uint16_t>(layout_.groupEnds[0] + grown[0]);
    wider.groupEnds[1] = static_cast<std::uint16_t>(layout_.groupEnds[1] + shift1);
    wider.groupEnds[2] = static_cast<std::uint16_t>(layout_.groupEnds[2] + shift1 + grown[2]);
    const std::uint32_t oldBitmap = layout_.groupEnds[3] - layout_.groupEnds[2];
    const std::uint32_t bitmap = std::max<std::uint32_t>(oldBitmap, (nextBit + 7) / 8);
    const std::uint32_t rowSize = wider.groupEnds[2] + bitmap;
    if (rowSize > kBlockSize) throw Error("a row of " + std::to_string(rowSize) + " bytes does not fit a block");
    wider.groupEnds[3] = static_cast<std::uint16_t>(rowSize);
    wider.validate();
    rewriteRows(wider);
    layout_ = std::move(wider);
    writeInfo();
    heap_->flush();
  } catch (const Error& e) {
    throw Error("adding columns to table " + hex(node_->nid()) + ": " + e.what());
  }
}

// Writes every row again in the wider layout: each group moves to its new start, the bitmap
// keeps its bits, new cells are zero. The new matrix replaces the old one when complete.
void TableContext::rewriteRows(const TableLayout& wider) {
  const TableLayout& old = layout_;
  const std::uint32_t newSize = wider.rowSize();
  // Where each old group starts in the wider row.
  const std::uint32_t to2 = wider.groupEnds[0];
  const std::uint32_t to1 = wider.groupEnds[1];
  auto widen = [&old, &wider, newSize, to2, to1](const Bytes& row) {
    Bytes out(newSize, 0);
    auto move = [&](std::uint32_t from, std::uint32_t to, std::uint32_t at) {
      std::copy(row.begin() + from, row.begin() + to, out.begin() + at);
    };
    move(0, old.groupEnds[0], 0);
    move(old.groupEnds[0], old.groupEnds[1], to2);
    move(old.groupEnds[1], old.groupEnds[2], to1);
    move(old.groupEnds[2], old.groupEnds[3], wider.groupEnds[2]);
    return out;
  };
  if (rowCount_ == 0) return;
  const std::uint32_t count = rowCount_;
  const std::uint32_t perBlock = kBlockSize / newSize;
  if (std::uint64_t{count} * newSize <= kMaxHeapItem) {
    Bytes matrix;
    for (std::uint32_t i = 0; i < count; ++i) {
      const Bytes row = widen(rowBytes(i));
      matrix.insert(matrix.end(), row.begin(), row.end());
    }
    const std::uint32_t oldRows = rows_;
    if (isHid(oldRows)) {
      rows_ = heap_->reallocate(oldRows, matrix);
    } else {
      rows_ = heap_->allocate(matrix);
      matrix_.reset();
      cachedIndex_.reset();
      node_->deleteSubnode(oldRows);
    }
    return;
  }
  const ndb::Nid nid = newSubnodeId();
  auto target = node_->createSubnode(nid);
  Bytes block;
  std::uint32_t written = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    const Bytes row = widen(rowBytes(i));
    block.insert(block.end(), row.begin(), row.end());
    if ((i + 1) % perBlock == 0 && i + 1 < count) {
      block.resize(kBlockSize, 0);
      target->data().writeBlock(written++, block);
      block.clear();
    }
  }
  target->data().writeBlock(written, block);
  const std::uint32_t oldRows = rows_;
  if (isHid(oldRows)) {
    heap_->free(oldRows);
  } else {
    matrix_.reset();
    node_->deleteSubnode(oldRows);
  }
  rows_ = nid;
  matrix_ = std::move(target);
  cachedIndex_.reset();
}

}  // namespace mailfold::pst::ltp
