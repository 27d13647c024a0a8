#include "pst/ndb/btree.h"

#include <algorithm>

namespace mailfold::pst::ndb {
namespace {

std::uint64_t keyOf(const NbtEntry& e) { return e.nid; }
std::uint64_t keyOf(const BbtEntry& e) { return bidKey(e.ref.bid); }

std::vector<NbtEntry>& leaves(BtPage& p, const NbtEntry*) { return p.nodes; }
std::vector<BbtEntry>& leaves(BtPage& p, const BbtEntry*) { return p.blocks; }

// Index of the child whose key range holds `key`: the last entry with a key not above it.
std::size_t childFor(const BtPage& p, std::uint64_t key) {
  auto it = std::upper_bound(p.index.begin(), p.index.end(), key,
                             [](std::uint64_t k, const BtIndexEntry& e) { return k < e.key; });
  return it == p.index.begin() ? 0 : static_cast<std::size_t>(it - p.index.begin() - 1);
}

std::uint64_t pageKey(const BtPage& p, std::size_t i) {
  if (p.level == 0 && p.type == PageType::kBbt) return bidKey(p.blocks[i].ref.bid);
  return p.keyAt(i);
}

}  // namespace

BTree::BTree(PageIo& io, PageType type, Bref root) : io_(io), type_(type), root_(root) {}

std::shared_ptr<const BtPage> BTree::page(const Bref& ref) {
  if (auto it = dirty_.find(ref.ib); it != dirty_.end()) return it->second.page;
  return io_.readPage(ref, type_);
}

std::shared_ptr<const BtPage> BTree::child(const BtPage& parent, std::size_t i) {
  auto c = page(parent.index[i].child);
  if (c->level + 1 != parent.level)
    throw Error(ErrorKind::kCorrupt, "B-tree page " + hex(parent.index[i].child.bid) + " at " + hex(parent.index[i].child.ib) +
                " has level " + std::to_string(c->level) + " under a page of level " + std::to_string(parent.level));
  return c;
}

std::shared_ptr<const BtPage> BTree::findLeaf(std::uint64_t key, std::size_t& pos) {
  auto p = page(root_);
  while (p->level > 0) {
    if (p->index.empty()) return nullptr;
    const std::size_t i = childFor(*p, key);
    if (key < p->index[i].key) return nullptr;
    p = child(*p, i);
  }
  std::size_t lo = 0, hi = p->size();
  while (lo < hi) {
    const std::size_t mid = (lo + hi) / 2;
    if (pageKey(*p, mid) < key) lo = mid + 1; else hi = mid;
  }
  if (lo >= p->size() || pageKey(*p, lo) != key) return nullptr;
  pos = lo;
  return p;
}

std::optional<NbtEntry> BTree::findNode(std::uint64_t nid) {
  std::size_t pos = 0;
  auto p = findLeaf(nid, pos);
  if (!p) return std::nullopt;
  return p->nodes[pos];
}

std::optional<BbtEntry> BTree::findBlock(std::uint64_t bid) {
  std::size_t pos = 0;
  auto p = findLeaf(bidKey(bid), pos);
  if (!p) return std::nullopt;
  return p->blocks[pos];
}

template <class Visit>
bool BTree::walk(const Bref& ref, int expectLevel, const Visit& visit) {
  auto p = page(ref);
  if (expectLevel >= 0 && p->level != expectLevel)
    throw Error(ErrorKind::kCorrupt, "B-tree page " + hex(ref.bid) + " at " + hex(ref.ib) + " has level " + std::to_string(p->level) +
                ", expected " + std::to_string(expectLevel));
  if (p->level == 0) return visit(*p);
  for (std::size_t i = 0; i < p->index.size(); ++i)
    if (!walk(p->index[i].child, p->level - 1, visit)) return false;
  return true;
}

void BTree::forEachNode(const std::function<bool(const NbtEntry&)>& visit) {
  walk(root_, -1, [&](const BtPage& leaf) {
    for (const auto& e : leaf.nodes)
      if (!visit(e)) return false;
    return true;
  });
}

void BTree::forEachBlock(const std::function<bool(const BbtEntry&)>& visit) {
  walk(root_, -1, [&](const BtPage& leaf) {
    for (const auto& e : leaf.blocks)
      if (!visit(e)) return false;
    return true;
  });
}

BtPage& BTree::mutablePage(Bref& ref) {
  if (auto it = dirty_.find(ref.ib); it != dirty_.end()) {
    noteDirty(ref.ib);
    return *it->second.page;
  }
  auto copy = std::make_shared<BtPage>(*io_.readPage(ref, type_));
  io_.releasePage(ref);
  ref = io_.allocatePage();
  noteDirty(ref.ib);
  dirty_[ref.ib] = {ref, copy};
  return *copy;
}

void BTree::release(const Bref& ref) {
  noteDirty(ref.ib);
  dirty_.erase(ref.ib);
  io_.releasePage(ref);
}

void BTree::noteDirty(std::uint64_t ib) {
  if (!mark_ || mark_->before.count(ib)) return;
  auto it = dirty_.find(ib);
  if (it == dirty_.end()) {
    mark_->before.emplace(ib, std::nullopt);
  } else {
    // The page is edited in place from now on: keep a copy as it is.
    mark_->before.emplace(ib, DirtyPage{it->second.ref, std::make_shared<BtPage>(*it->second.page)});
  }
}

void BTree::mark() { mark_ = Mark{root_, {}}; }

void BTree::release() { mark_.reset(); }

void BTree::rollback() {
  if (!mark_) return;
  for (auto& [ib, page] : mark_->before) {
    if (page) {
      dirty_[ib] = std::move(*page);
    } else {
      dirty_.erase(ib);
    }
  }
  root_ = mark_->root;
  mark_.reset();
}

template <class Entry>
BTree::PutResult BTree::putAt(Bref ref, const Entry& entry, std::uint64_t key) {
  BtPage& p = mutablePage(ref);
  std::size_t pos = 0;
  bool appended = false;
  if (p.level == 0) {
    auto& v = leaves(p, &entry);
    auto it = std::lower_bound(v.begin(), v.end(), key, [](const Entry& e, std::uint64_t k) { return keyOf(e) < k; });
    pos = static_cast<std::size_t>(it - v.begin());
    if (it != v.end() && keyOf(*it) == key) {
      *it = entry;
    } else {
      appended = pos == v.size();
      v.insert(it, entry);
    }
  } else {
    pos = childFor(p, key);
    if (child(p, pos)->level + 1 != p.level) throw Error(ErrorKind::kCorrupt, "B-tree levels are inconsistent");
    PutResult r = putAt(p.index[pos].child, entry, key);
    p.index[pos].child = r.ref;
    p.index[pos].key = r.firstKey;
    if (r.split) {
      appended = pos + 1 == p.index.size();
      p.index.insert(p.index.begin() + static_cast<std::ptrdiff_t>(pos + 1), BtIndexEntry{r.split->key, r.split->ref});
    }
  }
  PutResult out{ref, pageKey(p, 0), std::nullopt};
  const std::size_t cap = btCapacity(type_, p.level);
  if (p.size() > cap) {
    // Keys mostly grow (new ids count up): when the overflow came from an append, keep the
    // left page full instead of leaving two half-empty pages behind.
    const std::size_t keep = appended ? cap : p.size() / 2;
    auto right = std::make_shared<BtPage>();
    right->type = p.type;
    right->level = p.level;
    if (p.level > 0) {
      right->index.assign(p.index.begin() + static_cast<std::ptrdiff_t>(keep), p.index.end());
      p.index.resize(keep);
    } else {
      auto& v = leaves(p, &entry);
      auto& rv = leaves(*right, &entry);
      rv.assign(v.begin() + static_cast<std::ptrdiff_t>(keep), v.end());
      v.resize(keep);
    }
    const Bref rightRef = io_.allocatePage();
    noteDirty(rightRef.ib);
    dirty_[rightRef.ib] = {rightRef, right};
    out.split = Split{pageKey(*right, 0), rightRef};
  }
  return out;
}

template <class Entry>
void BTree::putRoot(const Entry& entry, std::uint64_t key) {
  PutResult r = putAt(root_, entry, key);
  root_ = r.ref;
  if (r.split) {
    auto top = std::make_shared<BtPage>();
    top->type = type_;
    top->level = static_cast<std::uint8_t>(page(root_)->level + 1);
    if (top->level > 8) throw Error(ErrorKind::kRefused, "B-tree would grow beyond 8 levels");
    top->index = {{r.firstKey, root_}, {r.split->key, r.split->ref}};
    root_ = io_.allocatePage();
    noteDirty(root_.ib);
    dirty_[root_.ib] = {root_, top};
  }
}

void BTree::put(const NbtEntry& entry) {
  if (type_ != PageType::kNbt) throw Error(ErrorKind::kInternal, "internal: node entry put into the block tree");
  putRoot(entry, entry.nid);
}

void BTree::put(const BbtEntry& entry) {
  if (type_ != PageType::kBbt) throw Error(ErrorKind::kInternal, "internal: block entry put into the node tree");
  putRoot(entry, bidKey(entry.ref.bid));
}

BTree::EraseResult BTree::eraseAt(Bref ref, std::uint64_t key) {
  BtPage& p = mutablePage(ref);
  if (p.level == 0) {
    for (std::size_t i = 0; i < p.size(); ++i) {
      if (pageKey(p, i) != key) continue;
      if (p.type == PageType::kNbt) p.nodes.erase(p.nodes.begin() + static_cast<std::ptrdiff_t>(i));
      else p.blocks.erase(p.blocks.begin() + static_cast<std::ptrdiff_t>(i));
      break;
    }
  } else {
    const std::size_t i = childFor(p, key);
    EraseResult r = eraseAt(p.index[i].child, key);
    if (r.empty) {
      p.index.erase(p.index.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      p.index[i].child = r.ref;
      p.index[i].key = r.firstKey;
    }
  }
  if (p.size() == 0) {
    release(ref);
    return {ref, 0, true};
  }
  return {ref, pageKey(p, 0), false};
}

bool BTree::erase(std::uint64_t key) {
  if (type_ == PageType::kBbt) key = bidKey(key);
  std::size_t pos = 0;
  if (!findLeaf(key, pos)) return false;
  EraseResult r = eraseAt(root_, key);
  if (r.empty) {
    initEmpty();
    return true;
  }
  root_ = r.ref;
  // A root with a single child adds a level for nothing: let the child be the root.
  for (auto p = page(root_); p->level > 0 && p->index.size() == 1; p = page(root_)) {
    const Bref only = p->index[0].child;
    release(root_);
    root_ = only;
  }
  return true;
}

void BTree::initEmpty() {
  auto leaf = std::make_shared<BtPage>();
  leaf->type = type_;
  leaf->level = 0;
  root_ = io_.allocatePage();
  noteDirty(root_.ib);
  dirty_[root_.ib] = {root_, leaf};
}

void BTree::writeDirty(const std::function<void(const Bref&, const Bytes&)>& write) {
  for (auto& [ib, d] : dirty_) write(d.ref, encodeBtPage(*d.page, d.ref.bid, d.ref.ib));
  dirty_.clear();
}

}  // namespace mailfold::pst::ndb
