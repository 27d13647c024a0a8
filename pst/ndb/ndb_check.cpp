#include "pst/ndb/ndb_check.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include "pst/ndb/block.h"
#include "pst/ndb/file.h"
#include "pst/ndb/header.h"
#include "pst/ndb/node_database.h"
#include "pst/ndb/page.h"

namespace mailfold::pst::ndb {
namespace {

// Outlook-made stores record cRef 2 for a block with one owner: the BBT entry counts itself.
constexpr int kRefBase = 1;

class Checker {
 public:
  Checker(const std::string& path, const CheckOptions& options) : path_(path), options_(options) {}

  CheckReport run() {
    try {
      file_ = File::open(path_, File::Mode::kRead);
      size_ = file_->size();
      Bytes head = file_->read(0, static_cast<std::size_t>(std::min<std::uint64_t>(size_, kHeaderReadSize)), "header");
      if (std::string p = checkHeader(head); !p.empty()) {
        report("header: " + p);
        return finish();
      }
      h_ = decodeHeader(head);
      f_ = h_.format;
      checkRoot();
      walk(h_.root.nbt, PageType::kNbt, -1, 0, UINT64_MAX, std::nullopt, true);
      walk(h_.root.bbt, PageType::kBbt, -1, 0, UINT64_MAX, std::nullopt, true);
      checkBlocks();
      checkReferences();
      checkCounters();
      checkMaps();
      checkDensityList();
    } catch (const Error& e) {
      report(std::string("cannot continue: ") + e.what());
    }
    return finish();
  }

 private:
  struct Block {
    std::uint64_t bid = 0, ib = 0;
    std::uint16_t cb = 0, cRef = 0;
    int refs = 0;
    bool sound = false;  // trailer checked
  };

  void report(const std::string& line) {
    if (out_.size() < options_.maxViolations) out_.push_back(line);
    ++total_;
  }
  void note(const std::string& line) {
    if (notes_.size() < options_.maxViolations) notes_.push_back(line);
  }
  CheckReport finish() {
    if (total_ > out_.size()) out_.push_back("... and " + std::to_string(total_ - out_.size()) + " more violations");
    return {out_, notes_};
  }

  bool inData(std::uint64_t ib, std::uint64_t size) const {
    return ib >= kAMapFirst && ib + size <= std::min(size_, h_.root.fileEof) && ib + size > ib;
  }

  void checkRoot() {
    const Root& r = h_.root;
    if (r.fileEof > size_)
      report("header: records a file of " + std::to_string(r.fileEof) + " bytes, the file has " + std::to_string(size_) + " (truncated)");
    if (r.amapLast < kAMapFirst || (r.amapLast - kAMapFirst) % kAMapCoverage != 0) {
      report("header: last allocation map offset " + hex(r.amapLast) + " is not an AMap position");
    } else if (r.fileEof > amapOffset((r.amapLast - kAMapFirst) / kAMapCoverage + 1) || r.fileEof <= r.amapLast) {
      // Outlook grows files a whole section at a time; some other writers stop the last
      // section short, which readers accept, so only a file end outside it is wrong.
      report("header: file end " + hex(r.fileEof) + " lies outside the section of the last AMap at " + hex(r.amapLast));
    }
    if (r.amapValid != kAMapValid && r.amapValid != kAMapValidOld && r.amapValid != kAMapInvalid)
      report("header: fAMapValid has the unknown value " + std::to_string(r.amapValid));
  }

  std::uint64_t keyOf(const BtPage& p, std::size_t i) const {
    return (p.level == 0 && p.type == PageType::kBbt) ? bidKey(p.blocks[i].ref.bid) : p.keyAt(i);
  }

  void walk(const Bref& ref, PageType type, int level, std::uint64_t lo, std::uint64_t hi,
            std::optional<std::uint64_t> parentKey, bool isRoot) {
    const std::string tree = type == PageType::kNbt ? "NBT" : "BBT";
    const std::string where = tree + " page " + hex(ref.bid) + " at " + hex(ref.ib);
    if (!inData(ref.ib, kPageSize) || (ref.ib - kAMapFirst) % kPageSize != 0) {
      report(where + ": offset outside the data area or not page-aligned");
      return;
    }
    if (!pagesSeen_.insert(ref.ib).second) {
      report(where + ": page reached twice");
      return;
    }
    Bytes raw = file_->read(ref.ib, kPageSize, "B-tree page");
    if (std::string p = checkPage(f_, raw, type, ref.bid, ref.ib); !p.empty()) {
      report(tree + " " + p);
      return;
    }
    used_.push_back({ref.ib, kPageSize, where});
    maxPageBid_ = std::max(maxPageBid_, ref.bid);
    BtPage page;
    try {
      page = decodeBtPage(f_, raw, type);
    } catch (const Error& e) {
      report(where + ": " + e.what());
      return;
    }
    const std::size_t n = f_.btEntriesSize();
    if (raw[n] > raw[n + 1]) report(where + ": holds " + std::to_string(raw[n]) + " entries, more than its maximum " + std::to_string(raw[n + 1]));
    if (level >= 0 && page.level != level) {
      report(where + ": level " + std::to_string(page.level) + ", expected " + std::to_string(level));
      return;
    }
    if (page.size() == 0 && !isRoot) report(where + ": empty page below the root");
    for (std::size_t i = 0; i < page.size(); ++i) {
      const std::uint64_t k = keyOf(page, i);
      if (i > 0 && k <= keyOf(page, i - 1))
        report(where + ": key " + hex(k) + " (entry " + std::to_string(i) + ") is not above the key before it " + hex(keyOf(page, i - 1)));
      if (k < lo || k >= hi)
        report(where + ": key " + hex(k) + " lies outside the range [" + hex(lo) + ", " + hex(hi) + ") its parent gives");
    }
    if (parentKey && page.size() > 0 && keyOf(page, 0) != *parentKey)
      report(where + ": lowest key " + hex(keyOf(page, 0)) + " differs from the parent's key " + hex(*parentKey));
    if (page.level == 0) {
      for (const auto& e : page.nodes) nodes_.push_back(e);
      for (const auto& e : page.blocks) {
        Block b;
        b.bid = e.ref.bid;
        b.ib = e.ref.ib;
        b.cb = e.cb;
        b.cRef = e.cRef;
        if (!blocks_.emplace(bidKey(e.ref.bid), b).second) report("BBT: block " + hex(e.ref.bid) + " listed twice");
      }
      return;
    }
    for (std::size_t i = 0; i < page.index.size(); ++i) {
      const std::uint64_t next = i + 1 < page.index.size() ? page.index[i + 1].key : hi;
      walk(page.index[i].child, type, page.level - 1, page.index[i].key, next, page.index[i].key, false);
    }
  }

  void checkBlocks() {
    for (auto& [key, b] : blocks_) {
      const std::uint32_t size = blockAllocSize(f_, b.cb);
      const std::string where = "block " + hex(b.bid) + " at " + hex(b.ib);
      if (size > kMaxBlockSize || b.ib % kBlockAlign != 0 || !inData(b.ib, size)) {
        report(where + ": size or place impossible (" + std::to_string(b.cb) + " bytes)");
        continue;
      }
      Bytes raw = file_->read(b.ib, size, "block");
      if (std::string p = checkBlockBytes(f_, raw, b.bid, b.ib, b.cb); !p.empty()) {
        report(p);
        continue;
      }
      b.sound = true;
      used_.push_back({b.ib, size, where});
      maxBlockBid_ = std::max(maxBlockBid_, bidKey(b.bid));
    }
  }

  Block* refer(std::uint64_t bid, const std::string& from) {
    if (bid == 0) return nullptr;
    auto it = blocks_.find(bidKey(bid));
    if (it == blocks_.end()) {
      report(from + " refers to block " + hex(bid) + ", which the BBT does not list");
      return nullptr;
    }
    ++it->second.refs;
    return &it->second;
  }

  std::optional<Bytes> payload(const Block& b) {
    if (!b.sound) return std::nullopt;
    Bytes raw = file_->read(b.ib, b.cb, "block");
    return raw;
  }

  void checkReferences() {
    for (const auto& n : nodes_) {
      const std::string from = "node " + hex(n.nid);
      if (Block* d = refer(n.bidData, from)) expectDataRoot(*d, from);
      if (Block* s = refer(n.bidSub, from)) expectSubRoot(*s, from);
    }
    // Every internal block holds references to the blocks it lists.
    for (auto& [key, b] : blocks_) {
      if (!bidIsInternal(b.bid)) continue;
      auto p = payload(b);
      if (!p) continue;
      const std::string from = "block " + hex(b.bid);
      try {
        if (!p->empty() && (*p)[0] == kBlockTypeDataTree) {
          const DataTreeBlock t = decodeDataTree(f_, *p, b.bid);
          std::uint64_t sum = 0;
          for (std::size_t i = 0; i < t.bids.size(); ++i) {
            const std::uint64_t c = t.bids[i];
            const bool last = i + 1 == t.bids.size();
            Block* cb = refer(c, from);
            if (!cb) continue;
            if (t.level == 1) {
              if (bidIsInternal(cb->bid)) report(from + " (XBLOCK) lists internal block " + hex(c));
              if (options_.requireFullDataBlocks && !last && cb->cb != f_.maxBlockPayload())
                report(from + ": data block " + hex(c) + " is not full (" + std::to_string(cb->cb) + " bytes) but is not the last");
              sum += cb->cb;
            } else {
              auto cp = payload(*cb);
              if (!bidIsInternal(cb->bid) || !cp || cp->size() < 8 || (*cp)[0] != kBlockTypeDataTree || (*cp)[1] != 1) {
                report(from + " (XXBLOCK) lists " + hex(c) + ", which is not an XBLOCK");
              } else {
                const auto childTotal = load<std::uint32_t>(&(*cp)[4]);
                const auto childCount = load<std::uint16_t>(&(*cp)[2]);
                if (options_.requireFullDataBlocks && !last && childTotal != std::uint64_t{childCount} * f_.maxBlockPayload())
                  report(from + ": XBLOCK " + hex(c) + " is not full of full blocks but is not the last");
                sum += childTotal;
              }
            }
          }
          if (sum != t.totalSize)
            report(from + ": records " + std::to_string(t.totalSize) + " bytes of data, its blocks hold " + std::to_string(sum));
        } else {
          const SubnodeBlock s = decodeSubnodeBlock(f_, *p, b.bid);
          if (s.leaves.empty() && s.index.empty()) report(from + ": sub-node block without entries");
          for (std::size_t i = 0; i < s.leaves.size(); ++i) {
            const auto& e = s.leaves[i];
            if (i > 0 && e.nid <= s.leaves[i - 1].nid) report(from + ": sub-node " + hex(e.nid) + " out of order");
            const std::string sub = from + " sub-node " + hex(e.nid);
            if (Block* d = refer(e.bidData, sub)) expectDataRoot(*d, sub);
            if (Block* sb = refer(e.bidSub, sub)) expectSubRoot(*sb, sub);
          }
          for (std::size_t i = 0; i < s.index.size(); ++i) {
            const auto& e = s.index[i];
            if (i > 0 && e.nid <= s.index[i - 1].nid) report(from + ": index key " + hex(e.nid) + " out of order");
            Block* c = refer(e.bid, from);
            if (!c) continue;
            auto cp = payload(*c);
            if (!cp) continue;
            const SubnodeBlock child = decodeSubnodeBlock(f_, *cp, c->bid);
            if (child.level != 0) report(from + " (SIBLOCK) lists " + hex(e.bid) + ", which is not an SLBLOCK");
            else if (child.leaves.empty() || child.leaves[0].nid != e.nid)
              report(from + ": index key " + hex(e.nid) + " differs from the lowest sub-node of " + hex(e.bid));
          }
        }
      } catch (const Error& e) {
        report(from + ": " + e.what());
      }
    }
    // A count below the references is a fault (a writer dropping one of them would free a block
    // still in use); a count above them only keeps a block longer than needed.
    std::uint64_t overCounted = 0;
    std::string firstOver;
    for (const auto& [key, b] : blocks_) {
      const int expected = b.refs + kRefBase;
      if (b.cRef < expected)
        report("block " + hex(b.bid) + ": reference count " + std::to_string(b.cRef) + ", but " + std::to_string(b.refs) +
               " references found (expected " + std::to_string(expected) + ")");
      else if (b.cRef > expected && overCounted++ == 0)
        firstOver = hex(b.bid) + ": " + std::to_string(b.cRef) + " for " + std::to_string(b.refs) + " references";
    }
    if (overCounted)
      note(std::to_string(overCounted) + " blocks count more references than they have (first: block " + firstOver +
           "); they are kept longer than needed");
  }

  void expectDataRoot(const Block& b, const std::string& from) {
    if (!bidIsInternal(b.bid)) return;
    auto p = payload(b);
    if (p && (p->size() < 2 || (*p)[0] != kBlockTypeDataTree))
      report(from + ": data " + hex(b.bid) + " is an internal block but not a data tree");
  }
  void expectSubRoot(const Block& b, const std::string& from) {
    auto p = payload(b);
    if (!bidIsInternal(b.bid) || (p && (p->size() < 2 || (*p)[0] != kBlockTypeSubnode)))
      report(from + ": sub-nodes " + hex(b.bid) + " is not a sub-node block");
  }

  void checkCounters() {
    if (maxBlockBid_ >= h_.bidNextB) report("header: next block id " + hex(h_.bidNextB) + " is not above block " + hex(maxBlockBid_));
    if (maxPageBid_ >= h_.bidNextP) report("header: next page id " + hex(h_.bidNextP) + " is not above page " + hex(maxPageBid_));
    for (const auto& n : nodes_) {
      const auto nid = static_cast<Nid>(n.nid);
      if (nidIndex(nid) > h_.rgnid[nidType(nid)])
        report("header: NID counter of type " + hex(nidType(nid)) + " (" + hex(h_.rgnid[nidType(nid)]) + ") is below node " + hex(nid));
    }
  }

  void checkMaps() {
    const Root& r = h_.root;
    if (r.amapLast < kAMapFirst || (r.amapLast - kAMapFirst) % kAMapCoverage != 0) return;
    const std::uint64_t sections = (r.amapLast - kAMapFirst) / kAMapCoverage + 1;
    // Everything allocated, with the map pages themselves.
    for (std::uint64_t s = 0; s < sections; ++s) {
      const SectionMaps m = sectionMaps(s);
      std::uint64_t at = amapOffset(s);
      used_.push_back({at, kPageSize, "AMap page at " + hex(at)});
      const PageType kinds[] = {PageType::kPMap, PageType::kFMap, PageType::kFPMap};
      const bool present[] = {m.pmap, m.fmap && f_.unicode, m.fpmap && f_.unicode};
      for (int k = 0; k < 3; ++k) {
        if (!present[k]) continue;
        at += kPageSize;
        used_.push_back({at, kPageSize, "map page at " + hex(at)});
        if (at + kPageSize <= size_) {
          Bytes raw = file_->read(at, kPageSize, "map page");
          if (std::string p = checkPage(f_, raw, kinds[k], at, at); !p.empty()) report("map " + p);
        }
      }
    }
    std::sort(used_.begin(), used_.end(), [](const auto& a, const auto& b) { return a.ib < b.ib; });
    for (std::size_t i = 1; i < used_.size(); ++i)
      if (used_[i].ib < used_[i - 1].ib + used_[i - 1].size)
        report(used_[i].what + " overlaps " + used_[i - 1].what);
    if (!h_.amapsValid()) {
      note("header: the allocation maps are marked untrusted (a writer stopped before it finished them); the next "
           "writer rebuilds them, so they are not compared");
      return;
    }
    std::uint64_t freeUnits = 0, leakedUnits = 0, leakedMaps = 0, firstLeak = 0;
    std::size_t u = 0;
    amapFreeSlots_.assign(sections, kUnknownFree);
    for (std::uint64_t s = 0; s < sections; ++s) {
      const std::uint64_t ib = amapOffset(s);
      if (ib + kPageSize > size_) break;
      Bytes raw = file_->read(ib, kPageSize, "allocation map page");
      if (std::string p = checkPage(f_, raw, PageType::kAMap, ib, ib); !p.empty()) {
        report("allocation map " + p);
        continue;
      }
      std::vector<bool> expect(kAMapBits, false);
      for (; u < used_.size() && used_[u].ib < ib + kAMapCoverage; ++u) {
        if (used_[u].ib < ib) continue;
        for (std::uint64_t x = (used_[u].ib - ib) / 64; x < (used_[u].ib - ib + used_[u].size + 63) / 64 && x < kAMapBits; ++x) expect[x] = true;
      }
      const std::uint8_t* bits = raw.data() + mapDataOffset(f_);
      std::uint64_t missing = 0, leaked = 0, firstMissing = 0;
      std::uint32_t& sectionFree = amapFreeSlots_[s];
      sectionFree = 0;
      for (std::uint32_t x = 0; x < kAMapBits; ++x) {
        const bool set = (bits[x / 8] >> (7 - x % 8)) & 1;
        if (!set) ++freeUnits, ++sectionFree;
        if (expect[x] && !set && missing++ == 0) firstMissing = ib + x * 64ull;
        if (!expect[x] && set && ib + x * 64ull < r.fileEof && !reservedPage(ib + x * 64ull)) ++leaked;
      }
      if (missing)
        report("allocation map at " + hex(ib) + ": " + std::to_string(missing) + " units in use are marked free (first at " + hex(firstMissing) + ")");
      if (leaked) {
        leakedUnits += leaked;
        if (leakedMaps++ == 0) firstLeak = ib;
      }
    }
    if (leakedUnits)
      note(std::to_string(leakedUnits * 64) + " bytes in " + std::to_string(leakedMaps) + " allocation maps (first at " +
           hex(firstLeak) + ") are marked in use but nothing uses them: space a repair would give back");
    if (freeUnits * 64 != r.amapFree)
      note("header: free space " + std::to_string(r.amapFree) + " bytes, the allocation maps show " + std::to_string(freeUnits * 64) +
           " (the total is not used to find space)");
  }

  // The density list, when there is one (Outlook 2003 and early 2007 stores have none): a sound
  // page; with the maps trusted, entries that name real AMaps once each with their true free
  // counts, most free first. Findings are notes: the list is a hint that the format lets any
  // program overwrite, and a writer that finds it wrong rebuilds it from the maps. With the backfill flag set the list must be whole: every AMap but
  // the current page and the last (the one Outlook leaves out) listed, or, on a full page,
  // none left out with more room than the least listed. An empty list without the flag is
  // what Outlook writes for one section, and what older ones leave in larger stores.
  void checkDensityList() {
    if (size_ < kDListOffset + kPageSize) return;
    const Bytes raw = file_->read(kDListOffset, kPageSize, "density list page");
    const PageTrailer t = decodePageTrailer(f_, raw);
    if (t.ptype != static_cast<std::uint8_t>(PageType::kDList)) return;
    if (std::string p = checkPage(f_, raw, PageType::kDList, t.bid, kDListOffset); !p.empty()) {
      note("density list " + p);
      return;
    }
    const std::string where = "density list at " + hex(kDListOffset);
    DListPage list;
    try {
      list = decodeDListPage(f_, raw);
    } catch (const Error& e) {
      note(where + ": " + e.what());
      return;
    }
    if (list.flags & ~kDListBackfillComplete) note(where + ": unknown flags " + hex(list.flags));
    if (load<std::uint16_t>(raw.data() + 2) != 0) note(where + ": padding bytes are not zero");
    if (!h_.amapsValid() || amapFreeSlots_.empty()) return;  // nothing trustworthy to compare with
    const std::uint64_t sections = amapFreeSlots_.size();
    if ((list.flags & kDListBackfillComplete || !list.entries.empty()) && list.currentPage >= sections)
      note(where + ": current page " + std::to_string(list.currentPage) + " is not an AMap (the store has " +
             std::to_string(sections) + ")");
    std::vector<bool> listed(sections, false);
    bool sorted = true;
    for (std::size_t i = 0; i < list.entries.size(); ++i) {
      const DListEntry& e = list.entries[i];
      const std::string entry = where + ": entry " + std::to_string(i) + " (AMap " + std::to_string(e.amapIndex) + ")";
      if (sorted && i > 0 && e.freeSlots > list.entries[i - 1].freeSlots) {
        note(entry + " has " + std::to_string(e.freeSlots) + " free slots, more than the entry before it: not sorted by free space");
        sorted = false;
      }
      if (e.amapIndex >= sections) {
        note(entry + " names an AMap the store does not have");
        continue;
      }
      if (listed[e.amapIndex]) note(entry + " lists that AMap a second time");
      listed[e.amapIndex] = true;
      const std::uint32_t actual = amapFreeSlots_[e.amapIndex];
      if (actual != kUnknownFree && e.freeSlots != actual)
        note(entry + " records " + std::to_string(e.freeSlots) + " free slots, the AMap has " + std::to_string(actual));
    }
    if (!(list.flags & kDListBackfillComplete)) return;
    const bool full = list.entries.size() == dlistCapacity(f_);
    std::uint32_t leastListed = UINT32_MAX;
    for (const auto& e : list.entries) leastListed = std::min<std::uint32_t>(leastListed, e.freeSlots);
    std::uint64_t missing = 0, firstMissing = 0;
    for (std::uint64_t s = 0; s + 1 < sections; ++s) {
      if (listed[s] || s == list.currentPage) continue;
      if (full && (amapFreeSlots_[s] == kUnknownFree || amapFreeSlots_[s] <= leastListed)) continue;
      if (missing++ == 0) firstMissing = s;
    }
    if (missing)
      note(where + ": " + std::to_string(missing) + " AMaps are not listed (first: AMap " + std::to_string(firstMissing) +
             ") although the list is marked complete");
  }

  // Older Outlook versions take pages from the AMap eight at a time and keep the ones not yet
  // used as free in the PMap: such space is allocated without anything in it, legitimately.
  bool reservedPage(std::uint64_t ib) {
    const std::uint64_t section = (ib - kAMapFirst) / kAMapCoverage;
    const std::uint64_t pmapSection = section / kPMapEvery * kPMapEvery;
    const std::uint64_t pmapIb = amapOffset(pmapSection) + kPageSize;
    auto it = pmaps_.find(pmapIb);
    if (it == pmaps_.end()) {
      Bytes raw;
      if (pmapIb + kPageSize <= size_) raw = file_->read(pmapIb, kPageSize, "page map");
      if (raw.size() == kPageSize && !checkPage(f_, raw, PageType::kPMap, pmapIb, pmapIb).empty()) raw.clear();
      it = pmaps_.emplace(pmapIb, std::move(raw)).first;
    }
    if (it->second.empty()) return false;
    const std::uint64_t page = (ib - amapOffset(pmapSection)) / kPageSize;
    const std::uint8_t* bits = it->second.data() + mapDataOffset(f_);
    return page < kAMapBits && !((bits[page / 8] >> (7 - page % 8)) & 1);
  }

  std::map<std::uint64_t, Bytes> pmaps_;
  // Per AMap, its free 64-byte units as its bits say (kUnknownFree: page unreadable or damaged).
  static constexpr std::uint32_t kUnknownFree = UINT32_MAX;
  std::vector<std::uint32_t> amapFreeSlots_;

  struct Used {
    std::uint64_t ib, size;
    std::string what;
  };

  std::string path_;
  CheckOptions options_;
  std::unique_ptr<File> file_;
  std::uint64_t size_ = 0;
  Header h_;
  Format f_;
  std::vector<std::string> out_;
  std::vector<std::string> notes_;
  std::size_t total_ = 0;
  std::set<std::uint64_t> pagesSeen_;
  std::vector<Used> used_;
  std::vector<NbtEntry> nodes_;
  std::map<std::uint64_t, Block> blocks_;
  std::uint64_t maxPageBid_ = 0, maxBlockBid_ = 0;
};

}  // namespace

CheckReport examineNdb(const std::string& path, const CheckOptions& options) { return Checker(path, options).run(); }

std::vector<std::string> checkNdb(const std::string& path, const CheckOptions& options) {
  CheckReport report = examineNdb(path, options);
  for (const auto& n : report.notes) report.violations.push_back("note: " + n);
  return report.violations;
}

std::vector<std::string> checkNdb(NodeDatabase& db, const CheckOptions& options) {
  return checkNdb(db.path(), options);
}

}  // namespace mailfold::pst::ndb
