// Internal: the state behind NodeDatabase. node_database.cpp opens and reads, node_handle.cpp
// serves the Node/NodeData views, transaction.cpp turns the changes into blocks and pages and
// commits them, savepoint.cpp undoes the changes made since a savepoint, open_check.cpp looks
// for damage before a store is changed.
#pragma once

#include <array>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "pst/ndb/allocator.h"
#include "pst/ndb/block.h"
#include "pst/ndb/btree.h"
#include "pst/ndb/file.h"
#include "pst/ndb/header.h"
#include "pst/ndb/lru_cache.h"
#include "pst/ndb/node_database.h"

namespace mailfold::pst::ndb::detail {

// A block reference held by one owner counts one; the BBT entry itself counts one more.
// Outlook-made stores show cRef 2 for a block with one owner.
inline constexpr std::uint16_t kRefBase = 1;

// The data stream of a node as a list of data blocks, loaded when first used.
struct Stream {
  struct Leaf {
    std::uint64_t bid = 0;  // 0 while the block is still pending
    std::uint32_t size = kUnknownSize;
    // A block written in this transaction but not yet to the file: replacing it again (the
    // last block of a growing table, row after row) then costs no file write at all.
    std::shared_ptr<const Bytes> pending;
  };
  static constexpr std::uint32_t kUnknownSize = 0xFFFFFFFF;
  // An XBLOCK of the tree as loaded: reused as it is while none of its leaves change.
  struct Chunk {
    std::uint64_t xbid = 0;
    std::size_t first = 0, count = 0;
    std::uint32_t total = 0;
  };
  bool loaded = false;
  bool dirty = false;
  std::vector<Leaf> leaves;
  std::uint64_t total = 0;
  std::vector<Chunk> chunks;                     // of an XXBLOCK tree as loaded
  std::size_t firstChanged = static_cast<std::size_t>(-1);  // lowest leaf changed since loading
};

// A node or sub-node: where its data and sub-node tree are (as its owner records them),
// plus whatever of it was loaded or changed in this transaction.
struct NodeState {
  Nid nid = 0;
  std::uint64_t dataRoot = 0;
  std::uint64_t subRoot = 0;
  Stream data;
  bool subsLoaded = false;
  bool subsDirty = false;
  std::map<Nid, std::unique_ptr<NodeState>> subs;
};

// What the open transaction looked like when a savepoint was taken, and the changes since that
// cannot simply be taken back wholesale (see savepoint.cpp).
struct Savepoint {
  std::array<std::uint32_t, 32> rgnid{};
  bool changed = false;
  bool failed = false;
  std::int64_t pendingBytes = 0;
  std::size_t pendingFree = 0;
  // Top-level nodes as they were before their first change since the savepoint; null for a
  // node that was not loaded (it is read from the rolled-back trees again when needed).
  std::map<Nid, std::unique_ptr<NodeState>> nodesBefore;
  struct RefChange {
    std::uint64_t key;
    int delta;
    bool existed;  // the block had an entry in refDelta_ before this change
  };
  std::vector<RefChange> refChanges;
  std::vector<std::pair<std::uint64_t, bool>> spaceChanges;  // offset, added to (or taken from) newSpace_
};

class Database final : public NodeDatabase, public PageIo {
 public:
  Database(std::unique_ptr<File> file, Header header);
  ~Database() override;

  static std::unique_ptr<Database> openFile(const std::string& path, OpenMode mode);
  static std::unique_ptr<Database> createFile(const std::string& path, const CreateOptions& options);

  // NodeDatabase
  const std::string& path() const override { return file_->path(); }
  bool writable() const override { return file_->writable(); }
  FormatInfo format() const override;
  bool hasNode(Nid nid) override;
  std::unique_ptr<Node> openNode(Nid nid) override;
  Nid parentOf(Nid nid) override;
  std::vector<NodeInfo> nodes() override;
  Nid allocateNid(NidType type) override;
  std::unique_ptr<Node> createNode(Nid nid, Nid parent) override;
  void deleteNode(Nid nid) override;
  void setParent(Nid nid, Nid parent) override;
  void commit() override;
  void close() override;
  void discard() override;
  void beginSavepoint() override;
  void rollbackToSavepoint() override;
  void releaseSavepoint() override;
  bool inSavepoint() const override { return savepoint_ != nullptr; }
  void checkNodeBlocks(Nid nid) override;
  File& file() override { return *file_; }

  // PageIo
  std::shared_ptr<const BtPage> readPage(const Bref& ref, PageType type) override;
  Bref allocatePage() override;
  void releasePage(const Bref& ref) override;

  // Used by the node views (node_handle.cpp).
  NodeState& resolve(const std::vector<Nid>& path);
  void loadStream(NodeState& s, Nid topNid);
  void loadSubs(NodeState& s, Nid topNid);
  std::uint32_t leafSize(Stream::Leaf& leaf);
  Bytes readDataBlock(std::uint64_t bid, Nid topNid);
  std::uint64_t writeDataBlock(ByteView payload);
  // Pending blocks: counted, and written out when they hold too much memory or at commit.
  void addPending(std::int64_t bytes);
  void writePending(Stream& stream);
  void writeAllPending();
  void beginChange();  // checks that the store is writable and usable; marks the transaction changed
  // beginChange, then the node at `path` (under top-level node path[0]) ready to be changed.
  NodeState& resolveForChange(const std::vector<Nid>& path);
  void dropClean();    // keeps memory bounded: forgets loaded nodes that carry no changes

 private:
  void guardUsable() const;
  BbtEntry blockEntry(std::uint64_t bid, Nid topNid);
  Bytes readBlockPayloadChecked(const BbtEntry& e);
  std::uint64_t createBlock(ByteView payload, bool internal);
  void addRef(std::uint64_t bid);
  void release(std::uint64_t bid);
  void freeSpace(std::uint64_t ib, std::uint64_t size);
  std::pair<std::uint64_t, std::uint64_t> materialize(NodeState& s);
  std::uint64_t buildDataTree(Stream& stream);
  std::uint64_t buildSubTree(NodeState& s);
  void settleReferences();
  void applyDelta(std::uint64_t key, int delta);
  void writeHeader(std::uint8_t amapValid);
  void rebuildMaps();
  void truncateToDurable();
  // Savepoints (savepoint.cpp): records what a rollback needs before a change is made.
  void noteNodeChange(Nid nid);
  void noteRefChange(std::uint64_t key, int delta);
  void noteSpaceChange(std::uint64_t ib, bool added);
  // A writable open's look for damage (open_check.cpp): B-tree pages, and the allocation maps
  // against what the trees use.
  void checkBeforeWriting();

  std::unique_ptr<File> file_;
  Header header_;
  std::unique_ptr<BTree> nbt_;
  std::unique_ptr<BTree> bbt_;
  Allocator allocator_;

  std::map<Nid, std::unique_ptr<NodeState>> open_;  // top-level nodes loaded or changed
  std::unordered_map<std::uint64_t, int> refDelta_;  // by block id: references gained/lost
  std::unordered_set<std::uint64_t> newSpace_;       // offsets allocated in this transaction
  std::vector<std::pair<std::uint64_t, std::uint64_t>> pendingFree_;  // freed, reusable after commit
  bool changed_ = false;
  bool failed_ = false;
  // The store has a density list page to keep up to date. A store made without one (by
  // Outlook 2003 or early 2007) keeps none: the reserved area it would go in is left as found.
  bool keepsDensityList_ = false;
  bool closed_ = false;
  std::uint64_t durableEof_ = 0;
  // What the file is cut back to when the open transaction is dropped: the end of the last
  // commit, or of the file as found (bytes past a commit that never finished are left until
  // the next commit, so that a store that is only opened is not changed at all).
  std::uint64_t keepSize_ = 0;
  std::uint64_t firstNewBid_ = 0;  // blocks with ids from here on were made in this transaction
  std::int64_t pendingBytes_ = 0;
  // dropClean() looks for clean nodes once open_ reaches this size; after a look it waits for
  // the map to double, so that a transaction with many changed nodes costs linear time.
  std::size_t dropCleanAt_ = 0;
  std::unique_ptr<Savepoint> savepoint_;

  // Bounded caches of committed pages (2 MB) and decoded data blocks (2 MB).
  LruCache<std::uint64_t, std::shared_ptr<const BtPage>> pageCache_{4096};
  LruCache<std::uint64_t, Bytes> blockCache_{256};
};

std::unique_ptr<Node> makeNodeHandle(Database& db, std::vector<Nid> path);

}  // namespace mailfold::pst::ndb::detail
