#include "pst/ndb/node_database.h"

#include <algorithm>

#include "pst/ndb/database_impl.h"

namespace mailfold::pst::ndb {

std::unique_ptr<NodeDatabase> NodeDatabase::open(const std::string& path, OpenMode mode) {
  return detail::Database::openFile(path, mode);
}

std::unique_ptr<NodeDatabase> NodeDatabase::create(const std::string& path, const CreateOptions& options) {
  return detail::Database::createFile(path, options);
}

Error damagedStoreError(const std::string& path, const std::string& damage) {
  return Error(ErrorKind::kCorrupt, "\"" + path + "\" is damaged (" + damage +
                                        "): copy it, repair the copy with Outlook's Inbox Repair Tool (scanpst.exe), "
                                        "then add to the repaired copy");
}

namespace detail {
namespace {

constexpr std::size_t kOpenNodeLimit = 4096;

std::string nodeText(Nid nid) { return "node " + hex(nid); }

}  // namespace

Database::Database(std::unique_ptr<File> file, Header header) : file_(std::move(file)), header_(std::move(header)) {
  nbt_ = std::make_unique<BTree>(*this, PageType::kNbt, header_.root.nbt);
  bbt_ = std::make_unique<BTree>(*this, PageType::kBbt, header_.root.bbt);
  durableEof_ = header_.root.fileEof;
  firstNewBid_ = header_.bidNextB;
}

Database::~Database() {
  // An open transaction is dropped: nothing it wrote is reachable from the header, and the file
  // is cut back to what it was before the transaction.
  if (!closed_ && file_->writable()) {
    try {
      truncateToDurable();
    } catch (const Error&) {
    }
  }
}

void Database::truncateToDurable() {
  if (file_->writable() && keepSize_ > 0 && file_->size() > keepSize_) file_->truncate(keepSize_);
}

void Database::discard() {
  if (closed_) return;
  savepoint_.reset();
  closed_ = true;
  try {
    truncateToDurable();
  } catch (const Error&) {
    // Bytes past the end stay (after a failed write the disk may refuse this too); no reader
    // looks past the end the header records, and the next commit cuts them off.
  }
  file_->close();
}

std::unique_ptr<Database> Database::openFile(const std::string& path, OpenMode mode) {
  auto file = File::open(path, mode == OpenMode::kReadWrite ? File::Mode::kReadWrite : File::Mode::kRead);
  const std::uint64_t size = file->size();
  Bytes head = file->read(0, static_cast<std::size_t>(std::min<std::uint64_t>(size, kHeaderReadSize)), "header");
  Header header;
  try {
    header = decodeHeader(head);
  } catch (const Error& e) {
    throw Error("\"" + path + "\": ", e);
  }
  const Root& r = header.root;
  auto badRoot = [&](const std::string& what) { return Error(ErrorKind::kCorrupt, "\"" + path + "\": bad header: " + what); };
  if (r.fileEof > size)
    throw badRoot("records " + std::to_string(r.fileEof) + " bytes but the file has " + std::to_string(size) +
                  " (truncated)");
  for (const Bref* b : {&r.nbt, &r.bbt})
    if (b->ib < kAMapFirst || b->ib % kPageSize != (kAMapFirst % kPageSize) || b->ib + kPageSize > r.fileEof)
      throw badRoot("B-tree root page at " + hex(b->ib) + " lies outside the file or is misaligned");
  if (r.amapLast < kAMapFirst || (r.amapLast - kAMapFirst) % kAMapCoverage != 0 || r.amapLast >= r.fileEof)
    throw badRoot("last allocation map at " + hex(r.amapLast) + " is not where one can be");
  if (mode == OpenMode::kReadWrite && !header.format.unicode)
    throw Error(ErrorKind::kRefused, "\"" + path + "\": 32-bit (ANSI) stores can be read but not changed");
  auto db = std::make_unique<Database>(std::move(file), std::move(header));
  try {
    // Touch both roots now so that a damaged root page is reported at open.
    db->readPage(db->header_.root.nbt, PageType::kNbt);
    db->readPage(db->header_.root.bbt, PageType::kBbt);
    if (mode == OpenMode::kReadWrite) {
      db->keepSize_ = std::max(size, r.fileEof);
      // A DList page is known by its type bytes; a damaged one is still ours to rewrite.
      const PageTrailer dl = decodePageTrailer(db->header_.format, db->file_->read(kDListOffset, kPageSize, "density list page"));
      db->keepsDensityList_ = dl.ptype == static_cast<std::uint8_t>(PageType::kDList) && dl.ptypeRepeat == dl.ptype;
      const std::uint64_t sections = (r.amapLast - kAMapFirst) / kAMapCoverage + 1;
      if (db->header_.amapsValid()) {
        db->allocator_.load(*db->file_, db->header_.format, sections);
      } else {
        // The maps cannot be trusted (a writer stopped before it finished them): rebuild them
        // from the trees; the next commit or close writes them and marks them valid again.
        db->allocator_.init(sections, false);
        db->allocator_.reviewFixedMapPages(*db->file_, db->header_.format);
        db->rebuildMaps();
        db->changed_ = true;
      }
      // Bytes past the recorded end (left by a transaction that never committed) go with the
      // next commit; until then the file stays as found.
      db->checkBeforeWriting();
    }
  } catch (const Error& e) {
    db->closed_ = true;  // nothing was written: nothing to cut back
    if (mode == OpenMode::kReadWrite && e.kind() == ErrorKind::kCorrupt) throw damagedStoreError(path, e.what());
    throw;
  }
  return db;
}

std::unique_ptr<Database> Database::createFile(const std::string& path, const CreateOptions& options) {
  if (options.crypt != CryptMethod::kNone && options.crypt != CryptMethod::kPermute &&
      options.crypt != CryptMethod::kCyclic)
    throw Error(ErrorKind::kBadInput, "unknown block encoding for a new store");
  auto file = File::open(path, File::Mode::kCreate);
  auto db = std::make_unique<Database>(std::move(file), newUnicodeHeader(options.crypt));
  db->allocator_.init(1);
  // An empty list now, before the first header: a writer stopped before its first map update
  // leaves a store that is still known to keep one.
  db->keepsDensityList_ = true;
  db->file_->write(kDListOffset, encodeDListPage({}, db->header_.bidNextP));
  db->durableEof_ = 0;
  db->keepSize_ = 0;
  db->changed_ = true;
  db->nbt_->initEmpty();
  db->bbt_->initEmpty();
  db->commit();
  return db;
}

void Database::rebuildMaps() {
  // Marks everything the trees reach: their pages and every block in the BBT.
  std::function<void(const Bref&, PageType, int)> walk = [&](const Bref& ref, PageType type, int level) {
    allocator_.markUsed(ref.ib, kPageSize);
    auto p = readPage(ref, type);
    if (level >= 0 && p->level != level) throw Error(ErrorKind::kCorrupt, "B-tree page " + hex(ref.bid) + " has the wrong level");
    if (p->level == 0) {
      for (const auto& b : p->blocks) allocator_.markUsed(b.ref.ib, blockAllocSize(header_.format, b.cb));
      return;
    }
    for (const auto& e : p->index) walk(e.child, type, p->level - 1);
  };
  walk(header_.root.nbt, PageType::kNbt, -1);
  walk(header_.root.bbt, PageType::kBbt, -1);
  // Older Outlook versions reserve pages eight at a time and list the unused ones as free in
  // the PMap; they would hand those out again, so they stay allocated in the AMap too.
  for (std::uint64_t s = 0; s < allocator_.sections(); s += kPMapEvery) {
    const std::uint64_t pmap = amapOffset(s) + kPageSize;
    if (pmap + kPageSize > file_->size()) break;
    Bytes raw = file_->read(pmap, kPageSize, "page map");
    if (!checkPage(header_.format, raw, PageType::kPMap, pmap, pmap).empty()) continue;
    const std::uint8_t* bits = raw.data() + mapDataOffset(header_.format);
    for (std::uint32_t n = 0; n < kAMapBits; ++n) {
      const std::uint64_t page = amapOffset(s) + std::uint64_t{n} * kPageSize;
      if ((bits[n / 8] >> (7 - n % 8)) & 1 || page + kPageSize > header_.root.fileEof) continue;
      if (allocator_.isFree(page, kPageSize)) allocator_.markUsed(page, kPageSize);
    }
  }
}

FormatInfo Database::format() const {
  FormatInfo f;
  f.unicode = header_.format.unicode;
  f.version = header_.version;
  f.crypt = header_.crypt;
  f.fileSize = header_.root.fileEof;
  f.freeBytes = header_.root.amapFree;
  return f;
}

void Database::guardUsable() const {
  if (closed_) throw Error(ErrorKind::kRefused, "\"" + file_->path() + "\" is closed");
  if (failed_) throw Error(ErrorKind::kIo, "\"" + file_->path() + "\" had a failed write; reopen it to continue from the last commit");
}

void Database::beginChange() {
  guardUsable();
  if (!file_->writable()) throw Error(ErrorKind::kRefused, "\"" + file_->path() + "\" is open read-only");
  changed_ = true;
}

std::shared_ptr<const BtPage> Database::readPage(const Bref& ref, PageType type) {
  if (const auto* cached = pageCache_.find(ref.ib); cached && (*cached)->type == type) return *cached;
  const char* name = type == PageType::kNbt ? "node B-tree page" : "block B-tree page";
  if (ref.ib < kAMapFirst || ref.ib % kBlockAlign != 0)
    throw Error(ErrorKind::kCorrupt, std::string(name) + " " + hex(ref.bid) + " has an impossible offset " + hex(ref.ib));
  Bytes raw = file_->read(ref.ib, kPageSize, name);
  if (std::string p = checkPage(header_.format, raw, type, ref.bid, ref.ib); !p.empty())
    throw Error(ErrorKind::kCorrupt, std::string(name) + " damaged: " + p);
  auto page = std::make_shared<const BtPage>(decodeBtPage(header_.format, raw, type));
  pageCache_.put(ref.ib, page);
  return page;
}

Bref Database::allocatePage() {
  const std::uint64_t ib = allocator_.allocate(kPageSize, true);
  noteSpaceChange(ib, true);
  newSpace_.insert(ib);
  pageCache_.erase(ib);
  return {header_.bidNextP++, ib};
}

void Database::releasePage(const Bref& ref) {
  pageCache_.erase(ref.ib);
  freeSpace(ref.ib, kPageSize);
}

void Database::freeSpace(std::uint64_t ib, std::uint64_t size) {
  if (newSpace_.erase(ib)) {
    noteSpaceChange(ib, false);
    allocator_.free(ib, size);  // never committed: nobody else can see it
  } else {
    pendingFree_.emplace_back(ib, size);  // the committed state still uses it until the next commit
  }
}

BbtEntry Database::blockEntry(std::uint64_t bid, Nid topNid) {
  auto e = bbt_->findBlock(bid);
  if (!e) throw Error(ErrorKind::kCorrupt, "block " + hex(bid) + " of " + nodeText(topNid) + " is missing from the block B-tree");
  return *e;
}

Bytes Database::readBlockPayloadChecked(const BbtEntry& e) {
  return readBlockPayload(*file_, header_.format, e.ref.bid, e.ref.ib, e.cb);
}

Bytes Database::readDataBlock(std::uint64_t bid, Nid topNid) {
  if (bidIsInternal(bid))
    throw Error(ErrorKind::kCorrupt, nodeText(topNid) + ": data tree lists internal block " + hex(bid) + " where a data block belongs");
  if (const Bytes* cached = blockCache_.find(bidKey(bid))) return *cached;
  const BbtEntry e = blockEntry(bid, topNid);
  Bytes payload;
  try {
    payload = readBlockPayloadChecked(e);
  } catch (const Error& err) {
    throw Error(nodeText(topNid) + ": ", err);
  }
  decodePayload(header_.crypt, payload, e.ref.bid);
  blockCache_.put(bidKey(bid), payload);
  return payload;
}

void Database::loadStream(NodeState& s, Nid topNid) {
  if (s.data.loaded) return;
  Stream st;
  st.loaded = true;
  const std::uint64_t root = s.dataRoot;
  if (root != 0) {
    if (!bidIsInternal(root)) {
      st.leaves.push_back({root, Stream::kUnknownSize, nullptr});
      st.total = leafSize(st.leaves.back());
    } else {
      const BbtEntry e = blockEntry(root, topNid);
      const DataTreeBlock top = decodeDataTree(header_.format, readBlockPayloadChecked(e), root);
      st.total = top.totalSize;
      if (top.level == 1) {
        for (auto b : top.bids) st.leaves.push_back({b, Stream::kUnknownSize, nullptr});
      } else {
        for (auto xb : top.bids) {
          if (!bidIsInternal(xb)) throw Error(ErrorKind::kCorrupt, nodeText(topNid) + ": XXBLOCK " + hex(root) + " lists data block " + hex(xb));
          const DataTreeBlock x = decodeDataTree(header_.format, readBlockPayloadChecked(blockEntry(xb, topNid)), xb);
          if (x.level != 1) throw Error(ErrorKind::kCorrupt, nodeText(topNid) + ": XXBLOCK " + hex(root) + " lists a block of level " + std::to_string(x.level));
          st.chunks.push_back({xb, st.leaves.size(), x.bids.size(), x.totalSize});
          for (auto b : x.bids) st.leaves.push_back({b, Stream::kUnknownSize, nullptr});
        }
      }
      for (const auto& l : st.leaves)
        if (bidIsInternal(l.bid)) throw Error(ErrorKind::kCorrupt, nodeText(topNid) + ": data tree lists internal block " + hex(l.bid));
    }
  }
  s.data = std::move(st);
}

std::uint32_t Database::leafSize(Stream::Leaf& leaf) {
  if (leaf.size == Stream::kUnknownSize) leaf.size = blockEntry(leaf.bid, 0).cb;
  return leaf.size;
}

void Database::loadSubs(NodeState& s, Nid topNid) {
  if (s.subsLoaded) return;
  std::map<Nid, std::unique_ptr<NodeState>> subs;
  auto addLeafBlock = [&](std::uint64_t bid, const SubnodeBlock& b) {
    if (b.level != 0) throw Error(ErrorKind::kCorrupt, nodeText(topNid) + ": sub-node block " + hex(bid) + " is not a leaf block");
    for (const auto& e : b.leaves) {
      auto child = std::make_unique<NodeState>();
      child->nid = e.nid;
      child->dataRoot = e.bidData;
      child->subRoot = e.bidSub;
      if (!subs.emplace(e.nid, std::move(child)).second)
        throw Error(ErrorKind::kCorrupt, nodeText(topNid) + ": sub-node " + hex(e.nid) + " is listed twice");
    }
  };
  if (s.subRoot != 0) {
    if (!bidIsInternal(s.subRoot))
      throw Error(ErrorKind::kCorrupt, nodeText(topNid) + ": sub-node tree root " + hex(s.subRoot) + " is not an internal block");
    const SubnodeBlock top = decodeSubnodeBlock(header_.format, readBlockPayloadChecked(blockEntry(s.subRoot, topNid)), s.subRoot);
    if (top.level == 0) {
      addLeafBlock(s.subRoot, top);
    } else {
      for (const auto& e : top.index)
        addLeafBlock(e.bid, decodeSubnodeBlock(header_.format, readBlockPayloadChecked(blockEntry(e.bid, topNid)), e.bid));
    }
  }
  s.subs = std::move(subs);
  s.subsLoaded = true;
}

NodeState& Database::resolve(const std::vector<Nid>& path) {
  guardUsable();
  auto it = open_.find(path[0]);
  if (it == open_.end()) {
    auto e = nbt_->findNode(path[0]);
    if (!e) throw Error(ErrorKind::kNotFound, nodeText(path[0]) + " does not exist (deleted?)");
    auto s = std::make_unique<NodeState>();
    s->nid = path[0];
    s->dataRoot = e->bidData;
    s->subRoot = e->bidSub;
    it = open_.emplace(path[0], std::move(s)).first;
  }
  NodeState* s = it->second.get();
  std::vector<std::uint64_t> above;  // sub-node trees of the nodes on the way down
  for (std::size_t i = 1; i < path.size(); ++i) {
    loadSubs(*s, path[0]);
    above.push_back(s->subRoot);
    auto c = s->subs.find(path[i]);
    if (c == s->subs.end()) throw Error(ErrorKind::kNotFound, "sub-node " + hex(path[i]) + " of " + nodeText(path[0]) + " does not exist");
    s = c->second.get();
    // A damaged file can make a sub-node list the sub-nodes of a node above it; a caller
    // walking the tree would never stop.
    if (s->subRoot != 0 && std::find(above.begin(), above.end(), s->subRoot) != above.end())
      throw Error(ErrorKind::kCorrupt, nodeText(path[0]) + ": sub-node " + hex(path[i]) + " lists the sub-nodes of a node above it (damaged file)");
  }
  return *s;
}

NodeState& Database::resolveForChange(const std::vector<Nid>& path) {
  beginChange();
  noteNodeChange(path[0]);
  return resolve(path);
}

namespace {
bool hasDirt(const NodeState& s) {
  if (s.data.dirty || s.subsDirty) return true;
  for (const auto& [nid, c] : s.subs)
    if (hasDirt(*c)) return true;
  return false;
}
}  // namespace

void Database::dropClean() {
  if (open_.size() < std::max(dropCleanAt_, kOpenNodeLimit)) return;
  for (auto it = open_.begin(); it != open_.end();) {
    if (!hasDirt(*it->second)) it = open_.erase(it); else ++it;
  }
  // The nodes left carry changes and stay until the commit: look again once the map doubled.
  dropCleanAt_ = 2 * open_.size();
}

bool Database::hasNode(Nid nid) {
  guardUsable();
  return nbt_->findNode(nid).has_value();
}

std::unique_ptr<Node> Database::openNode(Nid nid) {
  guardUsable();
  dropClean();
  resolve({nid});
  return makeNodeHandle(*this, {nid});
}

Nid Database::parentOf(Nid nid) {
  guardUsable();
  auto e = nbt_->findNode(nid);
  if (!e) throw Error(ErrorKind::kNotFound, nodeText(nid) + " does not exist");
  return e->nidParent;
}

std::vector<NodeInfo> Database::nodes() {
  guardUsable();
  std::vector<NodeInfo> out;
  nbt_->forEachNode([&](const NbtEntry& e) {
    out.push_back({static_cast<Nid>(e.nid), e.nidParent, e.bidData, e.bidSub});
    return true;
  });
  return out;
}

Nid Database::allocateNid(NidType type) {
  beginChange();
  if (static_cast<unsigned>(type) >= 32) throw Error(ErrorKind::kInternal, "NID type out of range");
  std::uint32_t& last = header_.rgnid[type];
  if (last >= (1u << 27) - 1) throw Error(ErrorKind::kRefused, "no NIDs of type " + std::to_string(type) + " left");
  ++last;
  return makeNid(type, last);
}

std::unique_ptr<Node> Database::createNode(Nid nid, Nid parent) {
  beginChange();
  if (nbt_->findNode(nid)) throw Error(ErrorKind::kInternal, nodeText(nid) + " already exists");
  noteNodeChange(nid);
  NbtEntry e;
  e.nid = nid;
  e.nidParent = parent;
  nbt_->put(e);
  // Ids handed out by hand still move the counter on, so allocateNid never repeats them.
  const NidType type = nidType(nid);
  if (nidIndex(nid) > header_.rgnid[type] && nidIndex(nid) < (1u << 27)) header_.rgnid[type] = nidIndex(nid);
  auto s = std::make_unique<NodeState>();
  s->nid = nid;
  s->data.loaded = true;
  s->subsLoaded = true;
  open_[nid] = std::move(s);
  return makeNodeHandle(*this, {nid});
}

void Database::deleteNode(Nid nid) {
  beginChange();
  auto e = nbt_->findNode(nid);
  if (!e) throw Error(ErrorKind::kNotFound, "cannot delete " + nodeText(nid) + ": it does not exist");
  noteNodeChange(nid);
  release(e->bidData);
  release(e->bidSub);
  nbt_->erase(nid);
  open_.erase(nid);
}

void Database::setParent(Nid nid, Nid parent) {
  beginChange();
  auto e = nbt_->findNode(nid);
  if (!e) throw Error(ErrorKind::kNotFound, "cannot move " + nodeText(nid) + ": it does not exist");
  if (e->nidParent == parent) return;
  e->nidParent = parent;
  nbt_->put(*e);
}

}  // namespace detail
}  // namespace mailfold::pst::ndb
