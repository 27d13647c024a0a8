// The node and block B-trees over 512-byte pages: lookup, full walk, and copy-on-write
// insert/replace/erase. A page that is part of the committed state is never changed: the
// first change in a transaction copies it to a new place (and so its parents, up to a new
// root), and later changes in the same transaction edit that copy in memory until commit.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>

#include "pst/ndb/page.h"

namespace mailfold::pst::ndb {

// What a tree needs from the database: committed pages (checked), new page places, and a
// way to give up a page it no longer uses.
class PageIo {
 public:
  virtual ~PageIo() = default;
  virtual std::shared_ptr<const BtPage> readPage(const Bref& ref, PageType type) = 0;
  virtual Bref allocatePage() = 0;
  virtual void releasePage(const Bref& ref) = 0;
};

class BTree {
 public:
  BTree(PageIo& io, PageType type, Bref root);

  const Bref& root() const { return root_; }
  PageType type() const { return type_; }

  std::optional<NbtEntry> findNode(std::uint64_t nid);
  std::optional<BbtEntry> findBlock(std::uint64_t bid);  // ignores the reserved low bit

  // Visits every leaf entry in key order; stop by returning false.
  void forEachNode(const std::function<bool(const NbtEntry&)>& visit);
  void forEachBlock(const std::function<bool(const BbtEntry&)>& visit);

  void put(const NbtEntry& entry);  // insert, or replace the entry with the same key
  void put(const BbtEntry& entry);
  bool erase(std::uint64_t key);    // false when absent (nothing changes then)

  bool dirty() const { return !dirty_.empty(); }
  // Encodes and hands over every page changed in this transaction; they count as committed
  // afterwards.
  void writeDirty(const std::function<void(const Bref&, const Bytes&)>& write);

  // Makes a new empty tree (one empty leaf page).
  void initEmpty();

  // Savepoints: mark() remembers the tree as it is; rollback() puts the root and the pages
  // changed in this transaction back as they were at the mark (the space of pages made since is
  // the database's to give back); release() keeps the changes. Each page changed after the
  // mark is copied once, before its first change.
  void mark();
  void rollback();
  void release();

 private:
  struct Split {
    std::uint64_t key;
    Bref ref;
  };
  struct PutResult {
    Bref ref;
    std::uint64_t firstKey;
    std::optional<Split> split;
  };
  struct EraseResult {
    Bref ref;
    std::uint64_t firstKey = 0;
    bool empty = false;
  };

  std::shared_ptr<const BtPage> page(const Bref& ref);
  BtPage& mutablePage(Bref& ref);  // copy-on-write; updates `ref` to the copy's place
  template <class Entry>
  PutResult putAt(Bref ref, const Entry& entry, std::uint64_t key);
  EraseResult eraseAt(Bref ref, std::uint64_t key);
  template <class Entry>
  void putRoot(const Entry& entry, std::uint64_t key);
  template <class Visit>
  bool walk(const Bref& ref, int expectLevel, const Visit& visit);
  std::shared_ptr<const BtPage> findLeaf(std::uint64_t key, std::size_t& pos);
  std::shared_ptr<const BtPage> child(const BtPage& parent, std::size_t i);
  void release(const Bref& ref);

  PageIo& io_;
  PageType type_;
  Bref root_;
  struct DirtyPage {
    Bref ref;
    std::shared_ptr<BtPage> page;
  };
  std::unordered_map<std::uint64_t, DirtyPage> dirty_;  // by page offset
  // Called before dirty_[ib] is added, changed or removed while a mark is set.
  void noteDirty(std::uint64_t ib);
  struct Mark {
    Bref root;
    // Each page offset touched since the mark: its dirty page as it was, or none.
    std::unordered_map<std::uint64_t, std::optional<DirtyPage>> before;
  };
  std::optional<Mark> mark_;
};

}  // namespace mailfold::pst::ndb
