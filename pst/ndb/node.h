// The node view that the NDB layer offers to the layers above it.
//
// A node (or a sub-node) is a stream of data blocks plus its own sub-nodes. The layers above
// address data block by block: the heap-on-node keeps one heap page per data block, and a
// table's row matrix never splits a row across blocks. Every change goes into the open
// transaction of the NodeDatabase that handed out the node; nothing reaches the file before
// that transaction commits.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "pst/bytes.h"

namespace mailfold::pst::ndb {

using Nid = std::uint32_t;
using Bid = std::uint64_t;

// Largest payload of one data block in a Unicode store (8192 minus the 16-byte trailer).
inline constexpr std::uint32_t kMaxBlockPayload = 8176;

enum NidType : std::uint8_t {
  kNidTypeHid = 0x00,
  kNidTypeInternal = 0x01,
  kNidTypeNormalFolder = 0x02,
  kNidTypeSearchFolder = 0x03,
  kNidTypeNormalMessage = 0x04,
  kNidTypeAttachment = 0x05,
  kNidTypeSearchUpdateQueue = 0x06,
  kNidTypeSearchCriteriaObject = 0x07,
  kNidTypeAssocMessage = 0x08,
  kNidTypeContentsTableIndex = 0x0A,
  kNidTypeReceiveFolderTable = 0x0B,
  kNidTypeOutgoingQueueTable = 0x0C,
  kNidTypeHierarchyTable = 0x0D,
  kNidTypeContentsTable = 0x0E,
  kNidTypeAssocContentsTable = 0x0F,
  kNidTypeSearchContentsTable = 0x10,
  kNidTypeAttachmentTable = 0x11,
  kNidTypeRecipientTable = 0x12,
  kNidTypeSearchTableIndex = 0x13,
  kNidTypeLtp = 0x1F,
};

constexpr Nid makeNid(NidType type, std::uint32_t index) { return (index << 5) | type; }
constexpr NidType nidType(Nid nid) { return static_cast<NidType>(nid & 0x1F); }
constexpr std::uint32_t nidIndex(Nid nid) { return nid >> 5; }

// The data stream of one node or sub-node, seen as its data blocks (decoded payloads).
class NodeData {
 public:
  virtual ~NodeData() = default;
  virtual std::uint32_t blockCount() = 0;
  virtual std::uint64_t size() = 0;  // sum of the block sizes
  virtual Bytes readBlock(std::uint32_t index) = 0;
  // Replaces block `index`, or appends one when index == blockCount(). At most kMaxBlockPayload bytes.
  virtual void writeBlock(std::uint32_t index, ByteView payload) = 0;
  // Drops every block from `count` on (0 empties the node's data).
  virtual void truncate(std::uint32_t count) = 0;
};

// A node or a sub-node: its data and its sub-nodes (which may have sub-nodes of their own).
class Node {
 public:
  virtual ~Node() = default;
  virtual Nid nid() const = 0;
  virtual NodeData& data() = 0;
  virtual std::vector<Nid> subnodeIds() = 0;  // ascending
  virtual bool hasSubnode(Nid nid) = 0;
  virtual std::unique_ptr<Node> openSubnode(Nid nid) = 0;    // throws Error when missing
  virtual std::unique_ptr<Node> createSubnode(Nid nid) = 0;  // empty data; throws when present
  virtual void deleteSubnode(Nid nid) = 0;                   // with everything below it
};

// Reads a node's whole data as one byte string (small nodes: property values, name maps).
inline Bytes readAll(NodeData& data) {
  Bytes out;
  const std::uint32_t n = data.blockCount();
  for (std::uint32_t i = 0; i < n; ++i) {
    Bytes b = data.readBlock(i);
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

}  // namespace mailfold::pst::ndb
