// New stores through the one transactional write path: many nodes, big data, many sub-nodes,
// deletes and replaces over several commits, then read back by a fresh reader and checked.
#include <gtest/gtest.h>

#include <bit>
#include <filesystem>
#include <fstream>
#include <map>
#include <numeric>
#include <random>
#include <set>

#include "pst/ndb/crc.h"
#include "pst/ndb/file.h"
#include "support/error_kind.h"
#include "support/paths.h"
#include "pst/ndb/ndb_check.h"
#include "pst/ndb/node_database.h"
#include "pst/ndb/page.h"
#include "support/temp_dir.h"

namespace mailfold::pst::ndb {
namespace {

Bytes pattern(std::size_t size, std::uint32_t seed) {
  Bytes b(size);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& c : b) {
    x = x * 1103515245u + 12345u;
    c = static_cast<std::uint8_t>(x >> 16);
  }
  return b;
}

// Writes `bytes` as the node's whole data: full blocks, the last one partial.
void writeAll(NodeData& d, const Bytes& bytes) {
  d.truncate(0);
  for (std::size_t off = 0, i = 0; off < bytes.size(); off += kMaxBlockPayload, ++i) {
    const std::size_t n = std::min<std::size_t>(kMaxBlockPayload, bytes.size() - off);
    d.writeBlock(static_cast<std::uint32_t>(i), ByteView(bytes).subspan(off, n));
  }
}

void expectClean(const std::string& path, bool fullBlocks = false) {
  CheckOptions o;
  o.requireFullDataBlocks = fullBlocks;
  for (const auto& v : checkNdb(path, o)) ADD_FAILURE() << v;
}

// The list Outlook writes, against the AMap pages in the file: empty, no flag, for one section;
// otherwise every AMap but the last (the current page) with the free units its bits show, most
// free first, as many as the page holds, flagged complete.
void expectOutlookDensityList(const std::string& path) {
  auto f = File::open(path, File::Mode::kRead);
  const std::uint64_t sections = (f->size() - 0x4400) / 253952;
  std::vector<std::uint16_t> free;
  for (std::uint64_t s = 0; s < sections; ++s) {
    const Bytes bits = f->read(0x4400 + s * 253952, 496, "AMap");
    free.push_back(static_cast<std::uint16_t>(std::accumulate(bits.begin(), bits.end(), 0, [](int n, std::uint8_t b) { return n + 8 - std::popcount(b); })));
  }
  const Bytes raw = f->read(kDListOffset, kPageSize, "density list");
  EXPECT_EQ(checkPage(Format{}, raw, PageType::kDList, decodePageTrailer(Format{}, raw).bid, kDListOffset), "");
  const DListPage d = decodeDListPage(Format{}, raw);
  if (sections == 1) {
    EXPECT_EQ(d.flags, 0);
    EXPECT_EQ(d.currentPage, 0u);
    EXPECT_TRUE(d.entries.empty());
    return;
  }
  EXPECT_EQ(d.flags, kDListBackfillComplete);
  EXPECT_EQ(d.currentPage, sections - 1);
  ASSERT_EQ(d.entries.size(), std::min<std::uint64_t>(sections - 1, 119));
  std::set<std::uint32_t> seen;
  for (std::size_t i = 0; i < d.entries.size(); ++i) {
    const DListEntry& e = d.entries[i];
    ASSERT_LT(e.amapIndex, sections - 1);
    EXPECT_TRUE(seen.insert(e.amapIndex).second);
    EXPECT_EQ(e.freeSlots, free[e.amapIndex]) << "AMap " << e.amapIndex;
    if (i > 0) {
      EXPECT_LE(e.freeSlots, d.entries[i - 1].freeSlots) << "entry " << i;
    }
  }
  for (std::uint64_t s = 0; s + 1 < sections; ++s) {
    if (!seen.count(static_cast<std::uint32_t>(s))) {
      EXPECT_LE(free[s], d.entries.back().freeSlots) << "AMap " << s << " left out";
    }
  }
}

TEST(Write, NewStoreIsOneSectionLikeOutlookAndPassesTheChecker) {
  test::TempDir dir;
  const std::string path = dir.str() + "/empty.pst";
  for (CryptMethod crypt : {CryptMethod::kPermute, CryptMethod::kNone, CryptMethod::kCyclic}) {
    NodeDatabase::create(path, {crypt})->close();
    EXPECT_EQ(std::filesystem::file_size(path), 271360u);  // header area + one AMap section
    auto db = NodeDatabase::open(path);
    EXPECT_TRUE(db->format().unicode);
    EXPECT_EQ(db->format().version, 23);
    EXPECT_EQ(db->format().crypt, crypt);
    EXPECT_TRUE(db->nodes().empty());
    expectClean(path);
  }
}

TEST(Write, ManyNodesOverSeveralCommitsReadBackAfterReopen) {
  test::TempDir dir;
  const std::string path = dir.str() + "/many.pst";
  std::map<Nid, std::pair<Nid, Bytes>> expected;
  {
    auto db = NodeDatabase::create(path);
    for (int i = 0; i < 3000; ++i) {
      const Nid nid = db->allocateNid(i % 3 ? kNidTypeNormalMessage : kNidTypeNormalFolder);
      const Nid parent = 0x122;
      auto node = db->createNode(nid, parent);
      Bytes data = pattern(1 + (i * 37) % 3000, static_cast<std::uint32_t>(i));
      node->data().writeBlock(0, data);
      expected[nid] = {parent, data};
      if (i % 700 == 699) db->commit();
    }
    db->close();
  }
  expectClean(path);
  auto db = NodeDatabase::open(path);
  const auto all = db->nodes();
  ASSERT_EQ(all.size(), expected.size());
  for (const auto& info : all) {
    auto it = expected.find(info.nid);
    ASSERT_NE(it, expected.end());
    EXPECT_EQ(info.parent, it->second.first);
    auto node = db->openNode(info.nid);
    ASSERT_EQ(node->data().blockCount(), 1u);
    EXPECT_EQ(node->data().readBlock(0), it->second.second);
  }
  // NIDs count up per type from the documented starting points.
  EXPECT_EQ(all.front().nid, makeNid(kNidTypeNormalFolder, 0x401));
  EXPECT_TRUE(db->hasNode(makeNid(kNidTypeNormalMessage, 0x10001)));
}

// Random creates, deletes and moves against a plain map: the node B-tree (splits, emptied
// pages, a root that shrinks and grows again) must agree with it after every commit.
TEST(Write, NodeTreeAgreesWithAModelUnderRandomChanges) {
  test::TempDir dir;
  const std::string path = dir.str() + "/model.pst";
  std::map<Nid, Nid> model;  // nid -> parent
  std::mt19937 rng(5);
  auto db = NodeDatabase::create(path, {CryptMethod::kNone});
  for (int round = 0; round < 16; ++round) {
    const bool shrinking = round % 4 == 3;  // some rounds empty most of the tree
    for (int op = 0; op < 1500; ++op) {
      const Nid nid = makeNid(static_cast<NidType>(rng() % 2 ? kNidTypeNormalMessage : kNidTypeNormalFolder), 0x400 + rng() % 6000);
      const auto it = model.find(nid);
      if (it == model.end() && !shrinking) {
        const Nid parent = 0x122 + 32 * (rng() % 4);
        db->createNode(nid, parent)->data().writeBlock(0, pattern(20, nid));
        model[nid] = parent;
      } else if (it != model.end() && (shrinking || rng() % 3 == 0)) {
        db->deleteNode(nid);
        model.erase(it);
      } else if (it != model.end()) {
        it->second = 0x8022;
        db->setParent(nid, 0x8022);
      }
    }
    db->commit();
    const auto nodes = db->nodes();
    ASSERT_EQ(nodes.size(), model.size()) << "round " << round;
    auto m = model.begin();
    for (const auto& n : nodes) {
      ASSERT_EQ(n.nid, m->first);
      ASSERT_EQ(n.parent, m->second);
      ++m;
    }
    for (int probe = 0; probe < 50; ++probe) {
      const Nid nid = makeNid(kNidTypeNormalMessage, 0x400 + rng() % 6000);
      EXPECT_EQ(db->hasNode(nid), model.count(nid) == 1);
    }
    if (round % 4 == 2) expectClean(path);  // the tree at its largest
  }
  db->close();
  expectClean(path);
  auto again = NodeDatabase::open(path);
  for (const auto& [nid, parent] : model) EXPECT_EQ(again->openNode(nid)->data().readBlock(0), pattern(20, nid));
}

TEST(Write, DataOverOneBlockGoesThroughXblockAndXxblock) {
  test::TempDir dir;
  const std::string path = dir.str() + "/big.pst";
  // 8,176 * 1,021 bytes fit under one XBLOCK; this needs an XXBLOCK.
  const Bytes big = pattern(9 * 1024 * 1024 + 123, 7);
  const Bytes medium = pattern(3 * kMaxBlockPayload + 5, 8);
  {
    auto db = NodeDatabase::create(path, {CryptMethod::kCyclic});
    writeAll(db->createNode(makeNid(kNidTypeNormalMessage, 0x10001), 0x122)->data(), big);
    writeAll(db->createNode(makeNid(kNidTypeNormalMessage, 0x10002), 0x122)->data(), medium);
    db->close();
  }
  expectClean(path, true);
  auto db = NodeDatabase::open(path);
  for (auto [nid, bytes] : {std::pair{makeNid(kNidTypeNormalMessage, 0x10001), &big},
                            std::pair{makeNid(kNidTypeNormalMessage, 0x10002), &medium}}) {
    auto node = db->openNode(nid);
    EXPECT_EQ(node->data().size(), bytes->size());
    EXPECT_EQ(readAll(node->data()), *bytes);
  }
  EXPECT_TRUE(db->nodes()[0].dataBid & 0x2);  // internal: a data tree
  // The file grew section by section; every section keeps its maps (the checker looks at them).
  EXPECT_EQ((std::filesystem::file_size(path) - 0x4400) % 253952, 0u);
}

// Changes at the end of a two-level tree keep the XBLOCKs before them; a change at the start
// rebuilds them. Both must leave correct totals (the checker adds them up) and bytes.
TEST(Write, ChangingALargeTreeKeepsOrRebuildsItsXblocks) {
  test::TempDir dir;
  const std::string path = dir.str() + "/xx.pst";
  Bytes data = pattern(1500 * kMaxBlockPayload + 77, 5);
  const Nid nid = makeNid(kNidTypeNormalMessage, 0x10001);
  auto db = NodeDatabase::create(path, {CryptMethod::kNone});
  writeAll(db->createNode(nid, 0x122)->data(), data);
  db->commit();

  const std::uint64_t before = db->file().bytesWritten();
  auto node = db->openNode(nid);
  const Bytes tail = pattern(kMaxBlockPayload, 6), extra = pattern(99, 7);
  node->data().writeBlock(1500, tail);  // the partial last block becomes full
  node->data().writeBlock(1501, extra);
  db->commit();
  EXPECT_LT(db->file().bytesWritten() - before, 64u * 1024);  // not 12 MB
  data.resize(1500 * kMaxBlockPayload);
  data.insert(data.end(), tail.begin(), tail.end());
  data.insert(data.end(), extra.begin(), extra.end());

  node = db->openNode(nid);
  const Bytes head = pattern(kMaxBlockPayload, 8);
  node->data().writeBlock(3, head);
  std::copy(head.begin(), head.end(), data.begin() + 3 * kMaxBlockPayload);
  node->data().truncate(1400);
  data.resize(1400 * kMaxBlockPayload);
  EXPECT_EQ(node->data().size(), data.size());
  db->close();

  expectClean(path, true);
  auto again = NodeDatabase::open(path);
  EXPECT_EQ(readAll(again->openNode(nid)->data()), data);
}

// Past 128 sections (about 32 MB) the file gets its first FMap page: allocation must go
// around it, and the checker finds it (and the AMap bits) where they belong.
TEST(Write, StoreGrowsPastTheFirstFreeMapPage) {
  test::TempDir dir;
  const std::string path = dir.str() + "/grow.pst";
  const Nid nid = makeNid(kNidTypeNormalMessage, 0x10001);
  {
    auto db = NodeDatabase::create(path, {CryptMethod::kNone});
    auto node = db->createNode(nid, 0x122);
    for (std::uint32_t i = 0; i < 4400; ++i) node->data().writeBlock(i, pattern(kMaxBlockPayload, i % 50));
    db->close();
  }
  EXPECT_GT(std::filesystem::file_size(path), 0x4400u + 129u * 253952u);
  expectClean(path, true);
  expectOutlookDensityList(path);  // more AMaps than the list holds
  auto db = NodeDatabase::open(path);
  auto node = db->openNode(nid);
  ASSERT_EQ(node->data().blockCount(), 4400u);
  for (std::uint32_t i = 0; i < 4400; i += 97) EXPECT_EQ(node->data().readBlock(i), pattern(kMaxBlockPayload, i % 50));
}

TEST(Write, SubnodeTreesNestAndSpillIntoIndexBlocks) {
  test::TempDir dir;
  const std::string path = dir.str() + "/subs.pst";
  const Nid top = makeNid(kNidTypeNormalMessage, 0x10001);
  {
    auto db = NodeDatabase::create(path);
    auto node = db->createNode(top, 0x122);
    node->data().writeBlock(0, pattern(100, 1));
    for (std::uint32_t i = 0; i < 900; ++i) {  // more than one SLBLOCK holds
      auto sub = node->createSubnode(makeNid(kNidTypeLtp, i + 1));
      sub->data().writeBlock(0, pattern(10 + i, i));
    }
    auto attach = node->openSubnode(makeNid(kNidTypeLtp, 5));
    auto inner = attach->createSubnode(makeNid(kNidTypeAttachment, 1));
    writeAll(inner->data(), pattern(20000, 99));
    inner->createSubnode(makeNid(kNidTypeLtp, 1))->data().writeBlock(0, pattern(5, 5));
    db->commit();
    // Delete every third sub-node and replace one in a second transaction.
    for (std::uint32_t i = 0; i < 900; i += 3) node->deleteSubnode(makeNid(kNidTypeLtp, i + 1));
    node->openSubnode(makeNid(kNidTypeLtp, 2))->data().writeBlock(0, pattern(7, 1234));
    db->close();
  }
  expectClean(path);
  auto db = NodeDatabase::open(path);
  auto node = db->openNode(top);
  EXPECT_EQ(node->subnodeIds().size(), 600u);
  EXPECT_FALSE(node->hasSubnode(makeNid(kNidTypeLtp, 1)));
  EXPECT_EQ(node->openSubnode(makeNid(kNidTypeLtp, 2))->data().readBlock(0), pattern(7, 1234));
  EXPECT_EQ(node->openSubnode(makeNid(kNidTypeLtp, 900))->data().readBlock(0), pattern(909, 899));
  auto inner = node->openSubnode(makeNid(kNidTypeLtp, 5))->openSubnode(makeNid(kNidTypeAttachment, 1));
  EXPECT_EQ(readAll(inner->data()), pattern(20000, 99));
  EXPECT_EQ(inner->subnodeIds(), std::vector<Nid>{makeNid(kNidTypeLtp, 1)});
  EXPECT_THROW(node->openSubnode(makeNid(kNidTypeLtp, 4)), Error);
}

TEST(Write, ReplacingAndDeletingReusesSpaceAfterCommit) {
  test::TempDir dir;
  const std::string path = dir.str() + "/churn.pst";
  auto db = NodeDatabase::create(path);
  const Nid a = db->allocateNid(kNidTypeNormalMessage);
  writeAll(db->createNode(a, 0x122)->data(), pattern(50000, 1));
  db->commit();
  const auto sizeAfterFirst = std::filesystem::file_size(path);
  for (std::uint32_t round = 0; round < 40; ++round) {
    auto node = db->openNode(a);
    writeAll(node->data(), pattern(50000, round + 2));  // all new blocks; the old ones go
    const Nid extra = db->allocateNid(kNidTypeNormalMessage);
    db->createNode(extra, 0x122)->data().writeBlock(0, pattern(3000, round));
    db->deleteNode(extra);
    db->commit();
  }
  // 40 rewrites of 50 KB would need 2 MB without reuse; the store stays in its first section.
  EXPECT_EQ(std::filesystem::file_size(path), sizeAfterFirst);
  db->close();
  expectClean(path);
  auto again = NodeDatabase::open(path);
  EXPECT_EQ(again->nodes().size(), 1u);
  EXPECT_EQ(readAll(again->openNode(a)->data()), pattern(50000, 41));
}

TEST(Write, TruncateAndPartialBlockReplace) {
  test::TempDir dir;
  const std::string path = dir.str() + "/trunc.pst";
  auto db = NodeDatabase::create(path);
  auto node = db->createNode(0x200024, 0x122);
  writeAll(node->data(), pattern(5 * kMaxBlockPayload, 3));
  db->commit();
  node = db->openNode(0x200024);
  node->data().truncate(2);
  node->data().writeBlock(1, pattern(10, 4));
  EXPECT_EQ(node->data().size(), kMaxBlockPayload + 10u);
  db->commit();
  node = db->openNode(0x200024);
  EXPECT_EQ(node->data().blockCount(), 2u);
  EXPECT_EQ(node->data().readBlock(1), pattern(10, 4));
  node->data().truncate(0);
  db->close();
  expectClean(path);
  auto again = NodeDatabase::open(path);
  EXPECT_EQ(again->openNode(0x200024)->data().size(), 0u);
}

TEST(Write, MisuseGivesClearErrors) {
  test::TempDir dir;
  const std::string path = dir.str() + "/misuse.pst";
  auto db = NodeDatabase::create(path);
  auto node = db->createNode(0x200024, 0x122);
  using test::thrownKind;
  EXPECT_EQ(thrownKind([&] { db->createNode(0x200024, 0x122); }), ErrorKind::kInternal);
  EXPECT_EQ(thrownKind([&] { node->data().writeBlock(2, pattern(5, 1)); }), ErrorKind::kInternal);     // gap
  EXPECT_EQ(thrownKind([&] { node->data().writeBlock(0, pattern(8177, 1)); }), ErrorKind::kInternal);  // over one block
  EXPECT_THROW(node->data().readBlock(0), Error);
  EXPECT_EQ(thrownKind([&] { db->deleteNode(0x200044); }), ErrorKind::kNotFound);
  EXPECT_EQ(thrownKind([&] { db->openNode(0x200044); }), ErrorKind::kNotFound);
  db->deleteNode(0x200024);
  EXPECT_EQ(thrownKind([&] { node->data().blockCount(); }), ErrorKind::kNotFound);  // a view of a deleted node
  db->close();
  EXPECT_EQ(thrownKind([&] { db->openNode(0x21); }), ErrorKind::kRefused);
  auto writer = NodeDatabase::open(path, OpenMode::kReadWrite);
  EXPECT_EQ(thrownKind([&] { NodeDatabase::open(path, OpenMode::kReadWrite); }), ErrorKind::kRefused);  // one writer at a time
  EXPECT_EQ(thrownKind([&] { NodeDatabase::create(path); }), ErrorKind::kRefused);  // nor replaced under it
  writer.reset();
  auto ro = NodeDatabase::open(path);
  EXPECT_EQ(thrownKind([&] { ro->createNode(0x200044, 0x122); }), ErrorKind::kRefused);
  EXPECT_EQ(thrownKind([&] { ro->allocateNid(kNidTypeNormalMessage); }), ErrorKind::kRefused);
}

TEST(Write, ReopenedStoreContinuesItsCountersAndKeepsOldData) {
  test::TempDir dir;
  const std::string path = dir.str() + "/reopen.pst";
  Nid first = 0;
  {
    auto db = NodeDatabase::create(path, {CryptMethod::kNone});
    first = db->allocateNid(kNidTypeNormalMessage);
    db->createNode(first, 0x122)->data().writeBlock(0, pattern(100, 1));
    db->close();
  }
  Nid second = 0;
  {
    auto db = NodeDatabase::open(path, OpenMode::kReadWrite);
    second = db->allocateNid(kNidTypeNormalMessage);
    EXPECT_GT(second, first);
    db->createNode(second, 0x122)->data().writeBlock(0, pattern(200, 2));
    db->setParent(first, 0x8022);
    db->close();
  }
  expectClean(path);
  auto db = NodeDatabase::open(path);
  EXPECT_EQ(db->parentOf(first), 0x8022u);
  EXPECT_EQ(db->openNode(first)->data().readBlock(0), pattern(100, 1));
  EXPECT_EQ(db->openNode(second)->data().readBlock(0), pattern(200, 2));
}

TEST(Write, ViewsStayValidAcrossCommits) {
  test::TempDir dir;
  const std::string path = dir.str() + "/views.pst";
  auto db = NodeDatabase::create(path);
  auto node = db->createNode(0x200024, 0x122);
  auto sub = node->createSubnode(0x1F);
  node->data().writeBlock(0, pattern(10, 1));
  sub->data().writeBlock(0, pattern(20, 2));
  db->commit();
  node->data().writeBlock(1, pattern(30, 3));  // the same views, after the commit
  sub->data().writeBlock(0, pattern(40, 4));
  EXPECT_EQ(node->data().size(), 40u);
  db->commit();
  EXPECT_EQ(sub->data().readBlock(0), pattern(40, 4));
  db->close();
  expectClean(path);
}

// Grown to several AMaps, space freed in the middle, reopened and added to: after every commit
// the density list says what the AMaps say.
TEST(Write, DensityListFollowsTheMapsOnEveryCommit) {
  test::TempDir dir;
  const std::string path = dir.str() + "/dlist.pst";
  auto db = NodeDatabase::create(path, {CryptMethod::kNone});
  expectOutlookDensityList(path);
  std::vector<Nid> nids;
  for (std::uint32_t i = 0; i < 24; ++i) {
    nids.push_back(db->allocateNid(kNidTypeNormalMessage));
    writeAll(db->createNode(nids.back(), 0x122)->data(), pattern(6 * kMaxBlockPayload, i));
  }
  db->commit();
  EXPECT_GE(std::filesystem::file_size(path), 0x4400u + 4 * 253952u);
  expectOutlookDensityList(path);
  for (std::uint32_t i : {2u, 9u, 10u, 17u}) db->deleteNode(nids[i]);
  db->commit();
  expectOutlookDensityList(path);
  db->close();
  expectClean(path);
  db = NodeDatabase::open(path, OpenMode::kReadWrite);
  writeAll(db->createNode(db->allocateNid(kNidTypeNormalMessage), 0x122)->data(), pattern(3 * kMaxBlockPayload, 99));
  db->close();
  expectClean(path);
  expectOutlookDensityList(path);
}

// Appending to Outlook's stores: one made with a density list (Outlook 2010, one section) keeps
// it right as it grows to several AMaps; one made without (Outlook 2003) is left without, the
// reserved area untouched.
TEST(Write, AppendedOutlookStoresKeepTheirKindOfDensityList) {
  MAILFOLD_REQUIRE_SHARED();
  test::TempDir dir;
  for (const char* name : {"outlook2010-nearly-empty.pst", "pst2john-2003-unicode-no-encryption-b.pst"}) {
    SCOPED_TRACE(name);
    const std::string path = dir.str() + "/" + name;
    std::filesystem::copy_file(test::sharedDir() / "samples/pst" / name, path);
    const Bytes reservedBefore = File::open(path, File::Mode::kRead)->read(kDListOffset, kPageSize, "reserved");
    const bool hadList = decodePageTrailer(Format{}, reservedBefore).ptype == static_cast<std::uint8_t>(PageType::kDList);
    for (int round = 0; round < 2; ++round) {
      auto db = NodeDatabase::open(path, OpenMode::kReadWrite);
      writeAll(db->createNode(db->allocateNid(kNidTypeNormalMessage), 0x122)->data(), pattern(40 * kMaxBlockPayload, round));
      db->close();
      expectClean(path);
      if (hadList) {
        expectOutlookDensityList(path);
      } else {
        EXPECT_EQ(File::open(path, File::Mode::kRead)->read(kDListOffset, kPageSize, "reserved"), reservedBefore);
      }
    }
    EXPECT_GE(std::filesystem::file_size(path), 0x4400u + 3 * 253952u);
  }
}

// A store left with its maps marked untrusted (a writer died between the commit point and
// the map update) gets them rebuilt from the trees by the next writer.
TEST(Write, UntrustedMapsOfAnOutlookStoreAreRebuilt) {
  MAILFOLD_REQUIRE_SHARED();
  test::TempDir dir;
  for (const char* name : {"outlook2010-nearly-empty.pst", "pst2john-2003-unicode-no-encryption-b.pst"}) {
    SCOPED_TRACE(name);
    const std::string path = dir.str() + "/" + name;
    std::filesystem::copy_file(test::sharedDir() / "samples/pst" / name, path);
    {
      auto f = File::open(path, File::Mode::kReadWrite);
      Bytes head = f->read(0, 564, "header");
      head[180 + 4 + 64] = 0;  // fAMapValid
      // Scramble the first AMap too: the rebuild must not trust any of it.
      f->write(0x4400 + 40, Bytes(100, 0xFF));
      store<std::uint32_t>(&head[4], crc32(ByteView(head).subspan(8, 471)));
      store<std::uint32_t>(&head[524], crc32(ByteView(head).subspan(8, 516)));
      f->write(0, head);
    }
    NodeDatabase::open(path, OpenMode::kReadWrite)->close();
    expectClean(path);
    // Nothing else changed, so the rebuilt maps must say exactly what Outlook's own said.
    auto original = File::open((test::sharedDir() / "samples/pst" / name).string(), File::Mode::kRead);
    auto rebuilt = File::open(path, File::Mode::kRead);
    for (std::uint64_t ib = 0x4400; ib < original->size(); ib += 253952)
      EXPECT_EQ(original->read(ib, 496, "AMap"), rebuilt->read(ib, 496, "AMap")) << "AMap at " << ib;
  }
}

// The pattern of a growing table: its last block is replaced row after row. Within one
// transaction only the last version reaches the file.
TEST(Write, ReplacingABlockOverAndOverWritesItOnce) {
  test::TempDir dir;
  const std::string path = dir.str() + "/rows.pst";
  auto db = NodeDatabase::create(path);
  auto node = db->createNode(0x200024, 0x122);
  node->data().writeBlock(0, pattern(100, 0));
  db->commit();
  const std::uint64_t before = db->file().bytesWritten();
  Bytes tail;
  for (std::uint32_t row = 0; row < 1000; ++row) {
    if (tail.size() + 100 > kMaxBlockPayload) tail.clear();
    const Bytes r = pattern(100, row);
    tail.insert(tail.end(), r.begin(), r.end());
    node->data().writeBlock(1 + row / 81, tail);
    ASSERT_EQ(node->data().readBlock(1 + row / 81), tail);  // reads see the latest version
  }
  db->commit();
  // 13 blocks of 8 KB, an XBLOCK, pages, maps, headers: far below 1000 block writes (~4 MB).
  EXPECT_LT(db->file().bytesWritten() - before, 256u * 1024);
  db->close();
  expectClean(path);
  EXPECT_EQ(NodeDatabase::open(path)->openNode(0x200024)->data().blockCount(), 14u);
}

TEST(Write, PermuteEncodingHidesThePlainBytes) {
  test::TempDir dir;
  const std::string path = dir.str() + "/enc.pst";
  const std::string secret = "a plain-text marker that must not appear in the file";
  auto db = NodeDatabase::create(path);
  db->createNode(0x200024, 0x122)->data().writeBlock(0, Bytes(secret.begin(), secret.end()));
  db->close();
  std::ifstream in(path, std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(all.find(secret), std::string::npos);
  auto again = NodeDatabase::open(path);
  const Bytes back = again->openNode(0x200024)->data().readBlock(0);
  EXPECT_EQ(std::string(back.begin(), back.end()), secret);
}

// Appending to a large node costs a bounded number of bytes per commit, not a rewrite.
TEST(Write, AppendingABlockToALargeNodeCostsLittle) {
  test::TempDir dir;
  const std::string path = dir.str() + "/append.pst";
  auto db = NodeDatabase::create(path, {CryptMethod::kNone});
  auto node = db->createNode(0x200024, 0x122);
  for (std::uint32_t i = 0; i < 1500; ++i) node->data().writeBlock(i, pattern(kMaxBlockPayload, i));
  db->commit();
  const std::uint64_t before = db->file().bytesWritten();
  for (std::uint32_t i = 1500; i < 1510; ++i) {
    node = db->openNode(0x200024);
    node->data().writeBlock(i, pattern(kMaxBlockPayload, i));
    db->commit();
  }
  const std::uint64_t perCommit = (db->file().bytesWritten() - before) / 10;
  // One data block, the rewritten index blocks of the tree (3 x 8 KB at most), a few pages,
  // the maps touched and two headers. A rewrite of the node would be 12 MB.
  EXPECT_LT(perCommit, 64u * 1024) << perCommit;
  db->close();
  expectClean(path, true);
}

}  // namespace
}  // namespace mailfold::pst::ndb
