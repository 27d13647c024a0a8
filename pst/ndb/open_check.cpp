// What a writer checks before it changes a store. Every change builds on the B-trees (copied page
// by page into new space) and on the allocation maps (new space is what they mark free), so a
// damaged page or a map that marks used space free would let a writer lose data that is still
// in the file. A writable open therefore reads every B-tree page (trailer, CRC, level, key
// order) and checks that the maps mark every page and block in use; it reads no data blocks.
// checkNodeBlocks() reads the blocks of the nodes a writer is about to change (the messaging
// layer names them: folders and their tables).
#include <functional>
#include <unordered_set>

#include "pst/ndb/database_impl.h"

namespace mailfold::pst::ndb::detail {
namespace {

std::uint64_t keyAt(const BtPage& p, std::size_t i) {
  return p.level == 0 && p.type == PageType::kBbt ? bidKey(p.blocks[i].ref.bid) : p.keyAt(i);
}

}  // namespace

void Database::checkBeforeWriting() {
  const std::uint64_t eof = header_.root.fileEof;
  std::unordered_set<std::uint64_t> pages;
  std::vector<std::uint64_t> blocks;  // BBT keys, ascending (the walk visits them in order)
  std::vector<NbtEntry> nodes;
  std::function<void(const Bref&, PageType, int, std::uint64_t, std::uint64_t)> walk =
      [&](const Bref& ref, PageType type, int level, std::uint64_t lo, std::uint64_t hi) {
        const std::string tree = type == PageType::kNbt ? "node B-tree" : "block B-tree";
        const std::string where = tree + " page " + hex(ref.bid) + " at " + hex(ref.ib);
        if (!pages.insert(ref.ib).second) throw Error(ErrorKind::kCorrupt, where + " is reached twice");
        if (ref.ib + kPageSize > eof) throw Error(ErrorKind::kCorrupt, where + " lies past the end of the file");
        const auto page = readPage(ref, type);  // trailer and CRC
        if (level >= 0 && page->level != level)
          throw Error(ErrorKind::kCorrupt, where + " has level " + std::to_string(page->level) + ", expected " + std::to_string(level));
        if (!allocator_.allInUse(ref.ib, kPageSize)) throw Error(ErrorKind::kCorrupt, where + " is marked free in the allocation map");
        for (std::size_t i = 0; i < page->size(); ++i) {
          const std::uint64_t k = keyAt(*page, i);
          if (k < lo || k >= hi || (i > 0 && k <= keyAt(*page, i - 1)))
            throw Error(ErrorKind::kCorrupt, where + ": key " + hex(k) + " is out of order");
        }
        if (page->level == 0) {
          for (const auto& e : page->nodes) nodes.push_back(e);
          for (const auto& e : page->blocks) {
            const std::uint32_t size = blockAllocSize(header_.format, e.cb);
            const std::string block = "block " + hex(e.ref.bid) + " at " + hex(e.ref.ib);
            if (e.ref.ib < kAMapFirst || e.ref.ib % kBlockAlign != 0 || size > kMaxBlockSize || e.ref.ib + size > eof)
              throw Error(ErrorKind::kCorrupt, block + " (" + std::to_string(e.cb) + " bytes) lies outside the file");
            if (!allocator_.allInUse(e.ref.ib, size)) throw Error(ErrorKind::kCorrupt, block + " is marked free in the allocation map");
            blocks.push_back(bidKey(e.ref.bid));
          }
          return;
        }
        for (std::size_t i = 0; i < page->index.size(); ++i) {
          const std::uint64_t next = i + 1 < page->index.size() ? page->index[i + 1].key : hi;
          walk(page->index[i].child, type, page->level - 1, page->index[i].key, next);
        }
      };
  walk(header_.root.nbt, PageType::kNbt, -1, 0, UINT64_MAX);
  walk(header_.root.bbt, PageType::kBbt, -1, 0, UINT64_MAX);
  // Every node's data and sub-node roots are blocks the BBT lists.
  for (const auto& n : nodes)
    for (const std::uint64_t bid : {n.bidData, n.bidSub})
      if (bid != 0 && !std::binary_search(blocks.begin(), blocks.end(), bidKey(bid)))
        throw Error(ErrorKind::kCorrupt, "node " + hex(n.nid) + " refers to block " + hex(bid) + ", which the block B-tree does not list");
}

void Database::checkNodeBlocks(Nid nid) {
  guardUsable();
  const auto e = nbt_->findNode(nid);
  if (!e) throw Error(ErrorKind::kNotFound, "node " + hex(nid) + " does not exist");
  std::unordered_set<std::uint64_t> seen;  // a block listed twice is read once
  // Sub-node trees nest once per embedded message; a damaged file can nest them without end.
  constexpr int kMaxDepth = 256;
  std::function<void(std::uint64_t, bool, int)> visit = [&](std::uint64_t bid, bool subnodes, int depth) {
    if (bid == 0 || !seen.insert(bidKey(bid)).second) return;
    if (depth > kMaxDepth) throw Error(ErrorKind::kCorrupt, "node " + hex(nid) + ": sub-node trees nest deeper than " + std::to_string(kMaxDepth) + " levels");
    const BbtEntry entry = blockEntry(bid, nid);
    Bytes payload;
    try {
      payload = readBlockPayloadChecked(entry);
    } catch (const Error& err) {
      throw Error("node " + hex(nid) + ": ", err);
    }
    if (!bidIsInternal(bid)) {
      if (subnodes) throw Error(ErrorKind::kCorrupt, "node " + hex(nid) + ": sub-node tree " + hex(bid) + " is a data block");
      return;
    }
    if (!subnodes) {
      for (const std::uint64_t b : decodeDataTree(header_.format, payload, bid).bids) visit(b, false, depth + 1);
      return;
    }
    const SubnodeBlock sb = decodeSubnodeBlock(header_.format, payload, bid);
    for (const auto& l : sb.leaves) {
      visit(l.bidData, false, depth + 1);
      visit(l.bidSub, true, depth + 1);
    }
    for (const auto& i : sb.index) visit(i.bid, true, depth + 1);
  };
  visit(e->bidData, false, 0);
  visit(e->bidSub, true, 0);
}

}  // namespace mailfold::pst::ndb::detail
