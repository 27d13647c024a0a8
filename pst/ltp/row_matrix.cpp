#include "pst/ltp/row_matrix.h"

#include <algorithm>
#include <string>

#include "pst/ltp/property_context.h"

namespace mailfold::pst::ltp {
namespace {

constexpr std::uint32_t kBlockSize = ndb::kMaxBlockPayload;

}  // namespace

RowMatrix::RowMatrix(ndb::Node& node, Heap& heap, std::uint32_t hnid, std::uint16_t rowSize)
    : node_(&node), heap_(&heap), hnid_(hnid), rowSize_(rowSize) {
  if (hnid_ == 0) {
    rowCount_ = 0;
  } else if (isHid(hnid_)) {
    rowCount_ = heap_->itemSize(hnid_) / rowSize_;
  } else {
    const std::uint32_t blocks = subnode().data().blockCount();
    rowCount_ = blocks == 0 ? 0 : (blocks - 1) * rowsPerBlock() + static_cast<std::uint32_t>(readBlock(blocks - 1).size() / rowSize_);
  }
}

std::uint32_t RowMatrix::rowsPerBlock() const { return kBlockSize / rowSize_; }

ndb::Node& RowMatrix::subnode() {
  if (!subnode_) subnode_ = node_->openSubnode(hnid_);
  return *subnode_;
}

const Bytes& RowMatrix::readBlock(std::uint32_t block) {
  if (cachedIndex_ != block) {
    cachedBlock_ = subnode().data().readBlock(block);
    cachedIndex_ = block;
  }
  return cachedBlock_;
}

void RowMatrix::writeBlock(std::uint32_t block, Bytes bytes) {
  subnode().data().writeBlock(block, bytes);
  cachedBlock_ = std::move(bytes);
  cachedIndex_ = block;
}

Bytes RowMatrix::row(std::uint32_t index) {
  if (index >= rowCount_) throw Error(ErrorKind::kCorrupt, "row " + std::to_string(index) + " does not exist in a table of " + std::to_string(rowCount_) + " rows");
  const std::uint32_t size = rowSize_;
  if (isHid(hnid_)) {
    const Bytes matrix = heap_->read(hnid_);
    if ((std::uint64_t{index} + 1) * size > matrix.size()) throw Error(ErrorKind::kCorrupt, "row matrix item is shorter than its rows");
    return Bytes(matrix.begin() + index * size, matrix.begin() + (index + 1) * size);
  }
  const std::uint32_t block = index / rowsPerBlock();
  const std::uint32_t at = (index % rowsPerBlock()) * size;
  const Bytes& bytes = readBlock(block);
  if (at + size > bytes.size())
    throw Error(ErrorKind::kCorrupt, "row matrix block " + std::to_string(block) + " of " + std::to_string(bytes.size()) + " bytes ends before row " +
                std::to_string(index));
  return Bytes(bytes.begin() + at, bytes.begin() + at + size);
}

void RowMatrix::write(std::uint32_t index, ByteView row) {
  const std::uint32_t size = rowSize_;
  if (isHid(hnid_)) {
    Bytes matrix = heap_->read(hnid_);
    std::copy(row.begin(), row.end(), matrix.begin() + index * size);
    hnid_ = heap_->reallocate(hnid_, matrix);  // same size: stays in place
    return;
  }
  const std::uint32_t block = index / rowsPerBlock();
  Bytes bytes = readBlock(block);
  std::copy(row.begin(), row.end(), bytes.begin() + (index % rowsPerBlock()) * size);
  writeBlock(block, std::move(bytes));
}

void RowMatrix::append(ByteView row) {
  const std::uint32_t size = rowSize_;
  const std::uint32_t perBlock = rowsPerBlock();
  if (hnid_ != 0 && isHid(hnid_)) {
    Bytes matrix = heap_->read(hnid_);
    matrix.insert(matrix.end(), row.begin(), row.end());
    if (matrix.size() <= kMaxHeapItem) {
      hnid_ = heap_->reallocate(hnid_, matrix);
      ++rowCount_;
      return;
    }
    // Too large for the heap: the rows move to a sub-node, whole rows per block.
    const ndb::Nid nid = nextLtpSubnodeId(*node_);
    subnode_ = node_->createSubnode(nid);
    cachedIndex_.reset();
    const std::uint32_t total = static_cast<std::uint32_t>(matrix.size() / size);
    for (std::uint32_t first = 0, block = 0; first < total; first += perBlock, ++block) {
      const std::uint32_t n = std::min(perBlock, total - first);
      Bytes bytes(matrix.begin() + first * size, matrix.begin() + (first + n) * size);
      if (first + n < total) bytes.resize(kBlockSize, 0);
      writeBlock(block, std::move(bytes));
    }
    heap_->free(hnid_);
    hnid_ = nid;
    ++rowCount_;
    return;
  }
  if (hnid_ == 0) {
    if (size <= kMaxHeapItem) {
      hnid_ = heap_->allocate(row);
    } else {
      hnid_ = nextLtpSubnodeId(*node_);
      subnode_ = node_->createSubnode(hnid_);
      cachedIndex_.reset();
      writeBlock(0, Bytes(row.begin(), row.end()));
    }
    ++rowCount_;
    return;
  }
  const std::uint32_t block = rowCount_ / perBlock;
  const std::uint32_t blocks = subnode().data().blockCount();
  if (block + 1 == blocks) {
    Bytes bytes = readBlock(block);
    bytes.resize((rowCount_ % perBlock) * size);
    bytes.insert(bytes.end(), row.begin(), row.end());
    writeBlock(block, std::move(bytes));
  } else if (block == blocks) {
    if (block > 0) {
      Bytes previous = readBlock(block - 1);
      if (previous.size() != kBlockSize) {
        previous.resize(kBlockSize, 0);  // no longer the last block: padded to full size
        writeBlock(block - 1, std::move(previous));
      }
    }
    writeBlock(block, Bytes(row.begin(), row.end()));
  } else {
    throw Error(ErrorKind::kCorrupt, "row matrix has " + std::to_string(blocks) + " blocks for " + std::to_string(rowCount_) + " rows");
  }
  ++rowCount_;
}

}  // namespace mailfold::pst::ltp
