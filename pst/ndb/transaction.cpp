// The write path: new blocks, reference counts, and the commit.
//
// Blocks are written as soon as they are made (into space the committed state does not use),
// so a transaction holds in memory only the changed B-tree pages, the block lists of changed
// nodes and the pending reference-count changes. Reference counts are gathered as deltas and
// settled at commit: a block that loses its last owner is removed from the BBT, its space is
// freed (after the commit when the committed state still uses it), and an internal block
// passes the loss on to the blocks it lists.
#include "pst/ndb/database_impl.h"

#include <functional>
#include <optional>

#include "pst/ndb/crypt.h"

namespace mailfold::pst::ndb::detail {
namespace {

constexpr std::uint64_t kMaxStream = 0xFFFFFFFFull;  // a data tree records its size in 32 bits
constexpr std::int64_t kPendingLimit = 8 << 20;       // bytes of blocks held back in memory

}  // namespace

std::uint64_t Database::createBlock(ByteView payload, bool internal) {
  const std::uint64_t bid = header_.bidNextB | (internal ? kBidInternal : 0);
  header_.bidNextB += 4;
  const std::uint32_t size = blockAllocSize(header_.format, payload.size());
  const std::uint64_t ib = allocator_.allocate(size, false);
  noteSpaceChange(ib, true);
  newSpace_.insert(ib);
  try {
    file_->write(ib, buildBlock(payload, bid, ib));
  } catch (...) {
    failed_ = true;
    throw;
  }
  BbtEntry e;
  e.ref = {bid, ib};
  e.cb = static_cast<std::uint16_t>(payload.size());
  e.cRef = kRefBase;  // owners add theirs; a block nobody takes is dropped at commit
  bbt_->put(e);
  noteRefChange(bidKey(bid), 0);
  refDelta_[bidKey(bid)] += 0;
  return bid;
}

std::uint64_t Database::writeDataBlock(ByteView payload) {
  // The cyclic encoding is keyed by the block id, so the id is fixed before encoding.
  const std::uint64_t bid = header_.bidNextB;
  Bytes stored(payload.begin(), payload.end());
  encodePayload(header_.crypt, stored, bid);
  const std::uint64_t made = createBlock(stored, false);
  if (made != bid) throw Error(ErrorKind::kInternal, "internal: block id moved while writing");
  blockCache_.put(bidKey(bid), Bytes(payload.begin(), payload.end()));
  return bid;
}

void Database::addRef(std::uint64_t bid) {
  if (bid == 0) return;
  noteRefChange(bidKey(bid), 1);
  refDelta_[bidKey(bid)] += 1;
}

void Database::release(std::uint64_t bid) {
  if (bid == 0) return;
  noteRefChange(bidKey(bid), -1);
  refDelta_[bidKey(bid)] -= 1;
}

void Database::addPending(std::int64_t bytes) {
  pendingBytes_ += bytes;
  if (pendingBytes_ > kPendingLimit) writeAllPending();
}

void Database::writePending(Stream& st) {
  for (auto& leaf : st.leaves) {
    if (!leaf.pending) continue;
    leaf.bid = writeDataBlock(*leaf.pending);
    leaf.pending.reset();
  }
}

void Database::writeAllPending() {
  std::function<bool(const NodeState&)> pending = [&](const NodeState& s) {
    if (s.data.dirty)
      for (const auto& leaf : s.data.leaves)
        if (leaf.pending) return true;
    for (const auto& [nid, c] : s.subs)
      if (pending(*c)) return true;
    return false;
  };
  std::function<void(NodeState&)> visit = [&](NodeState& s) {
    if (s.data.dirty) writePending(s.data);
    for (auto& [nid, c] : s.subs) visit(*c);
  };
  for (auto& [nid, s] : open_) {
    // Under a savepoint a node changed before it is written out too: a rollback gives it back
    // its pending blocks, since the blocks written now go with the rollback.
    if (savepoint_ && pending(*s)) noteNodeChange(nid);
    visit(*s);
  }
  pendingBytes_ = 0;
}

std::uint64_t Database::buildDataTree(Stream& st) {
  writePending(st);
  const std::size_t n = st.leaves.size();
  if (n == 0) return 0;
  if (n == 1) return st.leaves[0].bid;
  if (st.total > kMaxStream) throw Error(ErrorKind::kBadInput, "node data of " + std::to_string(st.total) + " bytes exceeds the 4 GB a data tree can hold");
  // `total` is known for the whole stream; only XBLOCKs other than the last of several that
  // are rewritten need their leaves' sizes looked up.
  auto makeX = [&](std::size_t from, std::size_t to, std::optional<std::uint64_t> total) {
    DataTreeBlock x;
    x.level = 1;
    std::uint64_t sum = 0;
    for (std::size_t i = from; i < to; ++i) {
      if (!total) sum += leafSize(st.leaves[i]);
      x.bids.push_back(st.leaves[i].bid);
    }
    x.totalSize = static_cast<std::uint32_t>(total ? *total : sum);
    const std::uint64_t bid = createBlock(encodeDataTree(x), true);
    for (auto b : x.bids) addRef(b);
    return std::pair{bid, x.totalSize};
  };
  if (n <= kDataTreeCapacity) return makeX(0, n, st.total).first;
  const std::size_t chunks = (n + kDataTreeCapacity - 1) / kDataTreeCapacity;
  if (chunks > kDataTreeCapacity) throw Error(ErrorKind::kBadInput, "node data has too many blocks for a data tree");
  DataTreeBlock xx;
  xx.level = 2;
  xx.totalSize = static_cast<std::uint32_t>(st.total);
  std::uint64_t before = 0;  // bytes in the XBLOCKs already placed
  for (std::size_t c = 0; c < chunks; ++c) {
    const std::size_t from = c * kDataTreeCapacity, to = std::min(n, from + kDataTreeCapacity);
    const Stream::Chunk* same = nullptr;
    if (to <= st.firstChanged)
      for (const auto& old : st.chunks)
        if (old.first == from && old.count == to - from) same = &old;
    if (same) {
      xx.bids.push_back(same->xbid);
      addRef(same->xbid);
      before += same->total;
      continue;
    }
    const bool last = c + 1 == chunks;
    auto [bid, total] = makeX(from, to, last ? std::optional<std::uint64_t>(st.total - before) : std::nullopt);
    xx.bids.push_back(bid);
    addRef(bid);
    before += total;
  }
  return createBlock(encodeDataTree(xx), true);
}

std::uint64_t Database::buildSubTree(NodeState& s) {
  std::vector<SlEntry> entries;
  for (const auto& [nid, c] : s.subs) entries.push_back({nid, c->dataRoot, c->subRoot});
  if (entries.empty()) return 0;
  auto makeSl = [&](std::size_t from, std::size_t to) {
    SubnodeBlock sl;
    sl.level = 0;
    sl.leaves.assign(entries.begin() + static_cast<std::ptrdiff_t>(from), entries.begin() + static_cast<std::ptrdiff_t>(to));
    const std::uint64_t bid = createBlock(encodeSubnodeBlock(sl), true);
    for (const auto& e : sl.leaves) {
      addRef(e.bidData);
      addRef(e.bidSub);
    }
    return bid;
  };
  if (entries.size() <= kSlCapacity) return makeSl(0, entries.size());
  const std::size_t chunks = (entries.size() + kSlCapacity - 1) / kSlCapacity;
  if (chunks > kSiCapacity) throw Error(ErrorKind::kBadInput, "node " + hex(s.nid) + " has too many sub-nodes");
  SubnodeBlock si;
  si.level = 1;
  for (std::size_t c = 0; c < chunks; ++c) {
    const std::size_t from = c * kSlCapacity;
    si.index.push_back({entries[from].nid, makeSl(from, std::min(entries.size(), from + kSlCapacity))});
  }
  const std::uint64_t bid = createBlock(encodeSubnodeBlock(si), true);
  for (const auto& e : si.index) addRef(e.bid);
  return bid;
}

std::pair<std::uint64_t, std::uint64_t> Database::materialize(NodeState& s) {
  std::uint64_t data = s.dataRoot, sub = s.subRoot;
  if (s.subsLoaded) {
    bool changed = s.subsDirty;
    for (auto& [nid, c] : s.subs) {
      auto [d, sb] = materialize(*c);
      if (d != c->dataRoot || sb != c->subRoot) {
        changed = true;
        c->dataRoot = d;
        c->subRoot = sb;
      }
    }
    if (changed) sub = buildSubTree(s);
  }
  if (s.data.dirty) data = buildDataTree(s.data);
  return {data, sub};
}

void Database::settleReferences() {
  // Losses first: freeing an internal block only ever takes references away from the blocks
  // it lists, so once no block is left with a loss, the gains that remain are final. (Taking
  // them in any order would update, and copy, the BBT entries of every block an unchanged
  // data tree lists, only to set them back when the old tree's loss arrives.)
  for (bool again = true; again;) {
    again = false;
    std::vector<std::uint64_t> losing;
    for (const auto& [key, delta] : refDelta_)
      if (delta <= 0) losing.push_back(key);
    for (std::uint64_t key : losing) {
      auto it = refDelta_.find(key);
      if (it == refDelta_.end() || it->second > 0) continue;
      const int delta = it->second;
      refDelta_.erase(it);
      // A block of an earlier commit whose gains and losses cancel out keeps its count: no
      // lookup. Rewriting the last XBLOCK of a growing table lists every block it already
      // listed again, up to 1,021 of them per commit. (A block made in this transaction with
      // no gain is looked up: nobody took it, so it is dropped.)
      if (delta == 0 && (key & ~std::uint64_t{3}) < firstNewBid_) continue;
      applyDelta(key, delta);
      again = true;
    }
  }
  for (const auto& [key, delta] : refDelta_) applyDelta(key, delta);
  refDelta_.clear();
}

void Database::applyDelta(std::uint64_t key, int delta) {
  auto e = bbt_->findBlock(key);
  if (!e) {
    if (delta == 0) return;
    throw Error(ErrorKind::kCorrupt, "block " + hex(key) + " is referenced but missing from the block B-tree");
  }
  const int refs = static_cast<int>(e->cRef) + delta;
  if (refs > kRefBase) {
    if (delta == 0) return;
    if (refs > 0xFFFF) throw Error(ErrorKind::kCorrupt, "block " + hex(key) + " has more references than can be counted");
    e->cRef = static_cast<std::uint16_t>(refs);
    bbt_->put(*e);
    return;
  }
  // Nobody refers to the block any more.
  bbt_->erase(key);
  blockCache_.erase(key);
  if (bidIsInternal(e->ref.bid)) {
    const Bytes payload = readBlockPayloadChecked(*e);
    if (!payload.empty() && payload[0] == kBlockTypeDataTree) {
      for (auto b : decodeDataTree(header_.format, payload, e->ref.bid).bids) release(b);
    } else {
      const SubnodeBlock sb = decodeSubnodeBlock(header_.format, payload, e->ref.bid);
      for (const auto& l : sb.leaves) {
        release(l.bidData);
        release(l.bidSub);
      }
      for (const auto& i : sb.index) release(i.bid);
    }
  }
  freeSpace(e->ref.ib, blockAllocSize(header_.format, e->cb));
}

void Database::writeHeader(std::uint8_t amapValid) {
  header_.root.amapValid = amapValid;
  ++header_.unique;
  Bytes bytes = encodeHeader(header_);
  file_->write(0, bytes);
  header_.raw = std::move(bytes);
}

void Database::commit() {
  guardUsable();
  if (!file_->writable()) throw Error(ErrorKind::kRefused, "\"" + file_->path() + "\" is open read-only");
  if (savepoint_) throw Error(ErrorKind::kInternal, "internal: commit while a savepoint is open");
  if (!changed_) return;
  try {
    for (auto& [nid, s] : open_) {
      auto [data, sub] = materialize(*s);
      if (data == s->dataRoot && sub == s->subRoot) continue;
      auto e = nbt_->findNode(nid);
      if (!e) throw Error(ErrorKind::kInternal, "internal: changed node " + hex(nid) + " is missing from the node B-tree");
      addRef(data);
      addRef(sub);
      release(e->bidData);
      release(e->bidSub);
      e->bidData = data;
      e->bidSub = sub;
      nbt_->put(*e);
    }
    pendingBytes_ = 0;
    settleReferences();
    auto write = [&](const Bref& ref, const Bytes& page) { file_->write(ref.ib, page); };
    nbt_->writeDirty(write);
    bbt_->writeDirty(write);
    // The file ends where the last section ends: bytes past it (written under a savepoint that
    // was rolled back, or left by a transaction that never committed) go.
    const std::uint64_t eof = allocator_.fileEof();
    if (file_->size() != eof) file_->truncate(eof);
    file_->flush();  // everything the new header points at is on disk before the header

    // The commit point. The maps are marked untrusted while they are brought up to date, so a
    // crash in between makes the next writer rebuild them from the trees.
    header_.root.nbt = nbt_->root();
    header_.root.bbt = bbt_->root();
    header_.root.fileEof = eof;
    header_.root.amapLast = allocator_.amapLast();
    writeHeader(kAMapInvalid);
    durableEof_ = eof;
    keepSize_ = eof;
    firstNewBid_ = header_.bidNextB;
    file_->flush();

    for (const auto& [ib, size] : pendingFree_) allocator_.free(ib, size);
    pendingFree_.clear();
    newSpace_.clear();
    allocator_.writeMaps(*file_);
    // The density list follows the maps just written. Its page id is the next one, not taken:
    // nothing refers to the page by id (Outlook's carry ids just past its bidNextP).
    if (keepsDensityList_) file_->write(kDListOffset, encodeDListPage(allocator_.densityList(), header_.bidNextP));
    file_->flush();
    header_.root.amapFree = allocator_.freeBytes();
    writeHeader(kAMapValid);
    file_->flush();
  } catch (...) {
    failed_ = true;
    throw;
  }
  open_.clear();
  dropCleanAt_ = 0;
  changed_ = false;
}

void Database::close() {
  if (closed_) return;
  if (changed_) commit();
  closed_ = true;
  file_->close();
}

}  // namespace mailfold::pst::ndb::detail
