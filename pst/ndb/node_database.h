// The node database: a PST file seen as numbered nodes, each a data stream plus sub-nodes.
//
// Reading:  auto db = NodeDatabase::open(path);  db->openNode(nid)->data().readBlock(0) ...
// Writing:  auto db = NodeDatabase::create(path);  (or open(path, OpenMode::kReadWrite))
//           Nid nid = db->allocateNid(kNidTypeNormalMessage);
//           auto node = db->createNode(nid, folderNid);  node->data().writeBlock(0, bytes);
//           db->commit();   // the only moment changes become part of the file
//           db->close();
//
// Every change goes into one open transaction. Until commit() nothing that the last committed
// header reaches is overwritten, so a crash or a failed write leaves the previous commit
// readable. Destroying the object without commit() (or discard()) drops the open transaction.
// After a failed write or flush the object refuses further use (reopen the file), unless the
// write failed inside a savepoint that is then rolled back.
//
// Savepoints make a group of changes all or nothing inside the open transaction:
//   db->beginSavepoint();  ... changes ...;  db->releaseSavepoint();   // or rollbackToSavepoint()
// A rollback undoes every change since the savepoint: nodes created, changed or deleted, node
// ids handed out, blocks and pages written, space allocated. Taking one costs O(1); the changes
// under it cost a copy of each top-level node and B-tree page they touch first.
//
// A writable open refuses (kCorrupt) a store whose header, B-tree pages or allocation maps are
// damaged, before anything is written: such a store is repaired first, not added to.
//
// Costs: a changed block is held in memory until commit (up to 8 MB in all, then written
// out), so replacing the last block of a growing table row after row writes it once. A
// commit writes the changed B-tree pages and index blocks (O(log n) each), the maps it
// touched and the header twice, with four flushes: commit in groups (every few hundred
// changes), not after each one. Memory is bounded by the open transaction and fixed caches.
//
// Stores read: Unicode (64-bit) and ANSI (32-bit), blocks encoded none / permute / cyclic.
// Stores written: Unicode only. One writer per file at a time (an exclusive lock; a second
// writable open fails with an Error); readers take no lock. Not thread-safe: one thread per
// NodeDatabase.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pst/ndb/crypt.h"
#include "pst/ndb/node.h"

namespace mailfold::pst::ndb {

class File;

enum class OpenMode { kReadOnly, kReadWrite };

// The refusal (kCorrupt) of a store that is damaged where a writer would build on it, with what
// the user can do about it.
Error damagedStoreError(const std::string& path, const std::string& damage);

struct CreateOptions {
  CryptMethod crypt = CryptMethod::kPermute;  // what Outlook writes by default; kNone is the option
};

// One entry of the node B-tree.
struct NodeInfo {
  Nid nid = 0;
  Nid parent = 0;
  Bid dataBid = 0;
  Bid subnodeBid = 0;
};

struct FormatInfo {
  bool unicode = true;
  std::uint16_t version = 0;  // 23 for Unicode, 14 or 15 for ANSI
  CryptMethod crypt = CryptMethod::kNone;
  std::uint64_t fileSize = 0;   // as the header records it
  std::uint64_t freeBytes = 0;  // free space in the allocation maps, as the header records it
};

class NodeDatabase {
 public:
  // Throws Error when the file is missing, is not a PST store, is damaged in its header, or
  // (for kReadWrite) is in the 32-bit format.
  static std::unique_ptr<NodeDatabase> open(const std::string& path, OpenMode mode = OpenMode::kReadOnly);
  // Makes a new empty Unicode store (replacing any file at `path`) and commits it.
  static std::unique_ptr<NodeDatabase> create(const std::string& path, const CreateOptions& options = {});

  virtual ~NodeDatabase() = default;

  virtual const std::string& path() const = 0;
  virtual bool writable() const = 0;
  virtual FormatInfo format() const = 0;

  // ---- nodes ----
  virtual bool hasNode(Nid nid) = 0;
  virtual std::unique_ptr<Node> openNode(Nid nid) = 0;  // throws Error when missing
  virtual Nid parentOf(Nid nid) = 0;                    // throws Error when missing
  virtual std::vector<NodeInfo> nodes() = 0;            // every node, ascending NID

  // ---- changes (writable stores only; all in the open transaction) ----
  // The next unused NID of `type`, from the counters in the header.
  virtual Nid allocateNid(NidType type) = 0;
  // A new node with empty data and no sub-nodes. Throws when `nid` exists.
  virtual std::unique_ptr<Node> createNode(Nid nid, Nid parent) = 0;
  // Removes a node with its data and sub-nodes. Throws when missing.
  virtual void deleteNode(Nid nid) = 0;
  virtual void setParent(Nid nid, Nid parent) = 0;
  // Makes the open transaction part of the file (header written last, flushed before and after).
  // Views (Node, NodeData) stay usable across commits.
  virtual void commit() = 0;
  // Commits what is pending and closes the file; the object is of no further use.
  virtual void close() = 0;
  // Closes the file without committing: the open transaction is dropped and the file keeps its
  // last commit. A file nothing was written to since it was opened is left byte for byte as it
  // was (a writable open writes nothing by itself). Never throws.
  virtual void discard() = 0;

  // ---- savepoints (writable stores; one at a time; commit() refuses while one is open) ----
  virtual void beginSavepoint() = 0;
  // Undoes every change since beginSavepoint(), a failed write among them, and ends the savepoint.
  virtual void rollbackToSavepoint() = 0;
  // Keeps the changes since beginSavepoint() and ends the savepoint.
  virtual void releaseSavepoint() = 0;
  virtual bool inSavepoint() const = 0;

  // Reads every block of node `nid`'s data and sub-node trees (and of its sub-nodes, to any
  // depth), checking each block's trailer and CRC; throws Error (kCorrupt) naming the first
  // damage. For a look at the nodes a writer is about to change.
  virtual void checkNodeBlocks(Nid nid) = 0;

  // The I/O seam, for tests that inject faults.
  virtual File& file() = 0;
};

}  // namespace mailfold::pst::ndb
