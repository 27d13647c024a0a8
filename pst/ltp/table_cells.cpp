#include "pst/ltp/table_cells.h"

#include <algorithm>
#include <string>

#include "pst/ltp/property.h"
#include "pst/ltp/property_context.h"

namespace mailfold::pst::ltp {
namespace {

constexpr std::uint32_t kBlockSize = ndb::kMaxBlockPayload;

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

void TableCells::check(PropTag tag, const PropertyValue& value) {
  if (const auto* src = std::get_if<std::shared_ptr<const ByteSource>>(&value)) {
    if (tagType(tag) != kPtBinary || !*src) throw Error(ErrorKind::kBadInput, "a streamed value needs a binary column, not " + tagName(tag));
    return;
  }
  (void)encodeValue(tagType(tag), value);
}

bool TableCells::exists(const TableLayout& layout, ByteView row, const ColumnDescriptor& column) {
  return (row[layout.groupEnds[2] + column.bit / 8] & (0x80 >> (column.bit % 8))) != 0;
}

PropertyValue TableCells::read(ByteView row, const ColumnDescriptor& column) {
  const std::uint16_t type = tagType(column.tag);
  const std::uint8_t* cell = row.data() + column.offset;
  if (storedInline(column.tag)) {
    const std::uint32_t width = fixedWidth(type);
    if (column.size < width)
      throw Error(ErrorKind::kCorrupt, "column " + tagName(column.tag) + " has " + std::to_string(column.size) + "-byte cells for a " +
                  std::to_string(width) + "-byte type");
    return decodeValue(type, ByteView(cell, width));
  }
  if (column.size != 4) throw Error(ErrorKind::kCorrupt, "column " + tagName(column.tag) + " holds references in " + std::to_string(column.size) + "-byte cells");
  const std::uint32_t hnid = load<std::uint32_t>(cell);
  if (hnid == 0) return emptyValue(type);
  if (isHid(hnid)) return decodeValue(type, heap_->read(hnid));
  auto sub = node_->openSubnode(hnid);
  return decodeValue(type, ndb::readAll(sub->data()));
}

void TableCells::release(const TableLayout& layout, ByteView row, const ColumnDescriptor& column) {
  if (!exists(layout, row, column) || storedInline(column.tag) || column.size != 4) return;
  const std::uint32_t hnid = load<std::uint32_t>(row.data() + column.offset);
  if (hnid == 0) return;
  if (isHid(hnid))
    heap_->free(hnid);
  else if (node_->hasSubnode(hnid))
    node_->deleteSubnode(hnid);
}

void TableCells::write(const TableLayout& layout, Bytes& row, const ColumnDescriptor& column, const PropertyValue& value,
                       bool existed) {
  const std::uint16_t type = tagType(column.tag);
  std::uint8_t* cell = row.data() + column.offset;
  if (existed) release(layout, row, column);
  std::fill(cell, cell + column.size, 0);
  if (storedInline(column.tag)) {
    const Bytes bytes = encodeValue(type, value);
    if (bytes.size() > column.size)
      throw Error(ErrorKind::kCorrupt, "column " + tagName(column.tag) + " has " + std::to_string(column.size) + "-byte cells for a " +
                  std::to_string(bytes.size()) + "-byte value");
    std::copy(bytes.begin(), bytes.end(), cell);
  } else {
    if (column.size != 4) throw Error(ErrorKind::kCorrupt, "column " + tagName(column.tag) + " cannot hold a reference");
    std::uint32_t hnid = 0;
    if (const auto* src = std::get_if<std::shared_ptr<const ByteSource>>(&value)) {
      if (type != kPtBinary || !*src) throw Error(ErrorKind::kBadInput, "a streamed value needs a binary column");
      if ((*src)->size() > kMaxHeapItem) {
        hnid = nextLtpSubnodeId(*node_);
        writeStream(node_->createSubnode(hnid)->data(), **src);
      } else {
        Bytes bytes(static_cast<std::size_t>((*src)->size()));
        std::size_t got = 0;
        while (got < bytes.size()) {
          const std::size_t n = (*src)->read(got, std::span<std::uint8_t>(bytes.data() + got, bytes.size() - got));
          if (n == 0) throw Error(ErrorKind::kBadInput, "value ended before its announced size");
          got += n;
        }
        if (!bytes.empty()) hnid = heap_->allocate(bytes);
      }
    } else {
      const Bytes bytes = encodeValue(type, value);
      if (bytes.size() > kMaxHeapItem) {
        hnid = nextLtpSubnodeId(*node_);
        writeBytes(node_->createSubnode(hnid)->data(), bytes);
      } else if (!bytes.empty()) {
        hnid = heap_->allocate(bytes);
      }
    }
    store<std::uint32_t>(cell, hnid);
  }
  row[layout.groupEnds[2] + column.bit / 8] |= static_cast<std::uint8_t>(0x80 >> (column.bit % 8));
}

}  // namespace mailfold::pst::ltp
