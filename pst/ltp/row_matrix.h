// The row matrix of a table context: every row's bytes, one after the other. It is one heap
// item while it is small and a sub-node data stream once it grows; there rows never straddle a
// block, and every block but the last is padded to the full block size.
//
// Appending a row writes the last block only (and pads the one before when a block is started):
// the cost does not depend on the number of rows.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "pst/bytes.h"
#include "pst/ltp/heap.h"
#include "pst/ndb/node.h"

namespace mailfold::pst::ltp {

class RowMatrix {
 public:
  // The matrix `hnid` (0: none yet) of a table in `node` whose rows are `rowSize` bytes; `heap`
  // is the table's heap. Counts the rows (reading the last block of a sub-node matrix).
  RowMatrix(ndb::Node& node, Heap& heap, std::uint32_t hnid, std::uint16_t rowSize);
  RowMatrix(RowMatrix&&) = default;

  // Where the matrix is, for the table header: it changes when the matrix is made, moves in
  // the heap or moves to a sub-node.
  std::uint32_t hnid() const { return hnid_; }
  std::uint32_t rowCount() const { return rowCount_; }

  Bytes row(std::uint32_t index);
  // Replaces the bytes of an existing row.
  void write(std::uint32_t index, ByteView row);
  void append(ByteView row);

 private:
  std::uint32_t rowsPerBlock() const;
  ndb::Node& subnode();
  const Bytes& readBlock(std::uint32_t block);  // the cached copy of one block
  void writeBlock(std::uint32_t block, Bytes bytes);

  ndb::Node* node_;
  Heap* heap_;
  std::uint32_t hnid_;
  std::uint16_t rowSize_;
  std::uint32_t rowCount_ = 0;
  std::unique_ptr<ndb::Node> subnode_;  // the sub-node holding the rows, once opened
  std::optional<std::uint32_t> cachedIndex_;
  Bytes cachedBlock_;
};

}  // namespace mailfold::pst::ltp
