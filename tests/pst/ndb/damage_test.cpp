// Damaged input: truncated, random and hand-damaged files give an Error (never a crash; the
// suite runs under ASan and UBSan), and the checker names what is wrong.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "pst/ndb/crc.h"
#include "pst/ndb/file.h"
#include "pst/ndb/header.h"
#include "pst/ndb/ndb_check.h"
#include "pst/ndb/node_database.h"
#include "pst/ndb/page.h"
#include "support/error_kind.h"
#include "support/paths.h"
#include "support/temp_dir.h"

namespace mailfold::pst::ndb {
namespace {

Bytes slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
void spit(const std::string& p, const Bytes& b) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// Opens and reads every node and sub-node; returns false when an Error stopped it.
bool readEverything(const std::string& path) {
  try {
    auto db = NodeDatabase::open(path);
    std::function<void(Node&, int)> visit = [&](Node& n, int depth) {
      readAll(n.data());
      if (depth > 32) throw Error(ErrorKind::kCorrupt, "too deep");
      for (Nid s : n.subnodeIds()) visit(*n.openSubnode(s), depth + 1);
    };
    for (const auto& info : db->nodes()) visit(*db->openNode(info.nid), 0);
    return true;
  } catch (const Error&) {
    return false;
  }
}

bool mentions(const std::vector<std::string>& lines, const std::string& word) {
  for (const auto& l : lines)
    if (l.find(word) != std::string::npos) return true;
  return false;
}

// A store of our own with enough nodes for a two-level node B-tree.
std::string makeStore(const test::TempDir& dir) {
  const std::string path = dir.str() + "/ours.pst";
  auto db = NodeDatabase::create(path);
  for (std::uint32_t i = 1; i <= 200; ++i) {
    Bytes b(300, static_cast<std::uint8_t>(i));
    db->createNode(makeNid(kNidTypeNormalMessage, 0x10000 + i), 0x122)->data().writeBlock(0, b);
  }
  db->close();
  return path;
}

TEST(Damage, TruncatedFilesGiveErrors) {
  MAILFOLD_REQUIRE_SHARED();
  test::TempDir dir;
  const Bytes whole = slurp(test::sharedDir() / "samples/pst/outlook2010-nearly-empty.pst");
  const std::string path = dir.str() + "/cut.pst";
  for (std::size_t size : {std::size_t{0}, std::size_t{100}, std::size_t{511}, std::size_t{563},
                           std::size_t{0x4400}, whole.size() / 2, whole.size() - 1}) {
    SCOPED_TRACE(size);
    spit(path, Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size)));
    EXPECT_EQ(test::thrownKind([&] { NodeDatabase::open(path); }), ErrorKind::kCorrupt);
    EXPECT_FALSE(checkNdb(path).empty());
  }
}

TEST(Damage, RandomFilesGiveErrors) {
  test::TempDir dir;
  const std::string path = dir.str() + "/random.pst";
  std::mt19937 rng(7);
  for (int i = 0; i < 20; ++i) {
    Bytes b(static_cast<std::size_t>(rng() % 300000));
    for (auto& c : b) c = static_cast<std::uint8_t>(rng());
    if (i % 2 && b.size() > 16) std::copy_n("!BDN\0\0\0\0SM\x17\0", 12, b.begin());
    spit(path, b);
    EXPECT_EQ(test::thrownKind([&] { NodeDatabase::open(path); }), ErrorKind::kCorrupt);
  }
  EXPECT_EQ(test::thrownKind([&] { NodeDatabase::open(dir.str() + "/missing.pst"); }), ErrorKind::kNotFound);
  EXPECT_EQ(test::thrownKind([&] { NodeDatabase::open(dir.str()); }), ErrorKind::kBadInput);  // a directory
}

// Flipped bytes anywhere after the header, and headers whose fields are damaged but whose
// CRCs were fixed up: reading either works or fails with an Error.
TEST(Damage, FlippedBytesNeverCrashTheReader) {
  MAILFOLD_REQUIRE_SHARED();
  test::TempDir dir;
  const std::string path = dir.str() + "/flipped.pst";
  std::mt19937 rng(11);
  int failures = 0, runs = 0;
  for (const char* name : {"pstsdk-sample1.pst", "pst2john-2003-unicode-high-encryption-b.pst", "ansi-outlook2000-73-messages.pst"}) {
    const Bytes whole = slurp(test::sharedDir() / "samples/pst" / name);
    const bool unicode = whole[10] >= 21;
    const int rounds = whole.size() > 1000000 ? 20 : 60;
    for (int i = 0; i < rounds; ++i) {
      Bytes b = whole;
      for (int k = 0; k < 1 + i % 6; ++k) b[0x4400 + rng() % (b.size() - 0x4400)] ^= static_cast<std::uint8_t>(1 + rng() % 255);
      if (i % 5 == 0) {
        // Damage a header field (counters, roots, sizes) and fix the CRCs so it is believed.
        b[16 + rng() % (unicode ? 240 : 190)] ^= static_cast<std::uint8_t>(1 + rng() % 255);
        store<std::uint32_t>(&b[4], crc32(ByteView(b).subspan(8, 471)));
        if (unicode) store<std::uint32_t>(&b[524], crc32(ByteView(b).subspan(8, 516)));
      }
      spit(path, b);
      ++runs;
      if (!readEverything(path)) ++failures;
      checkNdb(path);  // must not crash either
    }
  }
  EXPECT_GT(failures, runs / 10);  // most flips land in blocks that are read, and are caught
}

TEST(Damage, CheckerNamesAFlippedByteInABlock) {
  test::TempDir dir;
  const std::string path = makeStore(dir);
  auto db = NodeDatabase::open(path);
  const NodeInfo n = db->nodes()[7];
  db.reset();
  // Find the block through the BBT by reading it back: its offset is where its bytes are.
  Bytes file = slurp(path);
  Bytes expected(300, 8);
  // Data blocks are encoded; locate the block by its trailer: cb 300 and the node's data id.
  std::size_t at = 0;
  for (std::size_t off = 0x4400 + 48; off + 16 <= file.size(); off += 64) {
    if (load<std::uint64_t>(&file[off + 8]) == n.dataBid && load<std::uint16_t>(&file[off]) == 300) {
      at = off + 16 - 320;  // block of 320 bytes ends with this trailer
      break;
    }
  }
  ASSERT_NE(at, 0u);
  file[at + 100] ^= 0x40;
  spit(path, file);
  const auto v = checkNdb(path);
  EXPECT_TRUE(mentions(v, "CRC")) << (v.empty() ? "no violation" : v[0]);
  auto again = NodeDatabase::open(path);
  EXPECT_THROW(again->openNode(n.nid)->data().readBlock(0), Error);
}

// Returns the offset of the first leaf page of the node (or block) B-tree.
std::uint64_t firstLeaf(const Bytes& file, PageType type) {
  const Header h = decodeHeader(ByteView(file).first(564));
  Bref ref = type == PageType::kNbt ? h.root.nbt : h.root.bbt;
  for (;;) {
    const BtPage p = decodeBtPage(h.format, ByteView(file).subspan(ref.ib, kPageSize), type);
    if (p.level == 0) return ref.ib;
    ref = p.index[0].child;
  }
}

TEST(Damage, CheckerNamesAWrongPageCrc) {
  test::TempDir dir;
  const std::string path = makeStore(dir);
  Bytes file = slurp(path);
  const std::uint64_t leaf = firstLeaf(file, PageType::kNbt);
  file[leaf + 500] ^= 0x01;  // inside the trailer's CRC field
  spit(path, file);
  const auto v = checkNdb(path);
  EXPECT_TRUE(mentions(v, "CRC")) << (v.empty() ? "no violation" : v[0]);
  EXPECT_FALSE(readEverything(path));
}

TEST(Damage, CheckerNamesAKeyOutOfOrder) {
  test::TempDir dir;
  const std::string path = makeStore(dir);
  Bytes file = slurp(path);
  const std::uint64_t leaf = firstLeaf(file, PageType::kNbt);
  // Swap the first two node entries (32 bytes each) and reseal the page, as a buggy writer would.
  std::swap_ranges(file.begin() + static_cast<std::ptrdiff_t>(leaf + 32), file.begin() + static_cast<std::ptrdiff_t>(leaf + 64),
                   file.begin() + static_cast<std::ptrdiff_t>(leaf + 64));
  Bytes page(file.begin() + static_cast<std::ptrdiff_t>(leaf), file.begin() + static_cast<std::ptrdiff_t>(leaf + kPageSize));
  sealPage(page, PageType::kNbt, load<std::uint64_t>(&page[504]), leaf);
  std::copy(page.begin(), page.end(), file.begin() + static_cast<std::ptrdiff_t>(leaf));
  spit(path, file);
  const auto v = checkNdb(path);
  EXPECT_TRUE(mentions(v, "is not above")) << (v.empty() ? "no violation" : v[0]);
}

TEST(Damage, CheckerNamesATruncatedFile) {
  test::TempDir dir;
  const std::string path = makeStore(dir);
  std::filesystem::resize_file(path, std::filesystem::file_size(path) - 4096);
  const auto v = checkNdb(path);
  EXPECT_TRUE(mentions(v, "truncated")) << (v.empty() ? "no violation" : v[0]);
}

TEST(Damage, CheckerNamesAClearedAMapBit) {
  test::TempDir dir;
  const std::string path = makeStore(dir);
  Bytes file = slurp(path);
  // Clear a byte of the first AMap that covers used space (after the map pages' own bits).
  Bytes amap(file.begin() + 0x4400, file.begin() + 0x4400 + kPageSize);
  std::size_t byte = 2;
  while (amap[byte] == 0) ++byte;
  amap[byte] = 0;
  sealPage(amap, PageType::kAMap, 0x4400, 0x4400);
  std::copy(amap.begin(), amap.end(), file.begin() + 0x4400);
  spit(path, file);
  const auto v = checkNdb(path);
  EXPECT_TRUE(mentions(v, "marked free")) << (v.empty() ? "no violation" : v[0]);
  EXPECT_TRUE(mentions(v, "free space")) << (v.empty() ? "no violation" : v[0]);
}

// A count below the references is a violation (a writer would free a block in use); one above
// them only keeps a block too long: a note.
TEST(Damage, CheckerNamesAWrongReferenceCount) {
  test::TempDir dir;
  const std::string path = makeStore(dir);
  const Bytes clean = slurp(path);
  auto withFirstCount = [&](std::uint16_t cRef) {
    Bytes file = clean;
    const std::uint64_t leaf = firstLeaf(file, PageType::kBbt);
    store<std::uint16_t>(&file[leaf + 18], cRef);  // cRef of the first block
    Bytes page(file.begin() + static_cast<std::ptrdiff_t>(leaf), file.begin() + static_cast<std::ptrdiff_t>(leaf + kPageSize));
    sealPage(page, PageType::kBbt, load<std::uint64_t>(&page[504]), leaf);
    std::copy(page.begin(), page.end(), file.begin() + static_cast<std::ptrdiff_t>(leaf));
    spit(path, file);
    return examineNdb(path);
  };
  const CheckReport under = withFirstCount(1);
  EXPECT_TRUE(mentions(under.violations, "reference count 1")) << (under.violations.empty() ? "no violation" : under.violations[0]);
  const CheckReport over = withFirstCount(7);
  EXPECT_TRUE(over.violations.empty()) << over.violations[0];
  EXPECT_TRUE(mentions(over.notes, "7 for 1 references"));
}

// A store of several AMaps with space freed here and there, so that their free counts differ,
// its density list then damaged in the ways a careless writer would, one at a time. The next
// commit writes a sound list again.
TEST(Damage, CheckerNamesAWrongDensityList) {
  test::TempDir dir;
  const std::string path = dir.str() + "/dlist.pst";
  {
    auto db = NodeDatabase::create(path, {CryptMethod::kNone});
    for (std::uint32_t i = 1; i <= 30; ++i) {
      auto node = db->createNode(makeNid(kNidTypeNormalMessage, 0x10000 + i), 0x122);
      for (std::uint32_t b = 0; b < 5; ++b) node->data().writeBlock(b, Bytes(kMaxBlockPayload, static_cast<std::uint8_t>(i)));
    }
    db->commit();
    for (std::uint32_t i : {3u, 13u, 14u}) db->deleteNode(makeNid(kNidTypeNormalMessage, 0x10000 + i));
    db->close();
  }
  ASSERT_TRUE(checkNdb(path).empty());
  const Bytes clean = slurp(path);
  const Bytes page(clean.begin() + kDListOffset, clean.begin() + kDListOffset + kPageSize);
  const std::uint64_t bid = decodePageTrailer(Format{}, page).bid;
  const DListPage good = decodeDListPage(Format{}, page);
  ASSERT_GE(good.entries.size(), 3u);
  ASSERT_GT(good.entries.front().freeSlots, good.entries.back().freeSlots);

  auto checkWith = [&](const Bytes& dlist) {
    Bytes file = clean;
    std::copy(dlist.begin(), dlist.end(), file.begin() + kDListOffset);
    spit(path, file);
    return checkNdb(path);
  };
  auto checkChanged = [&](const std::function<void(DListPage&)>& change) {
    DListPage d = good;
    change(d);
    return checkWith(encodeDListPage(d, bid));
  };
  auto expectNamed = [](const std::vector<std::string>& v, const std::string& word) {
    EXPECT_TRUE(mentions(v, word)) << word << ": " << (v.empty() ? "no violation" : v[0]);
  };
  expectNamed(checkChanged([](DListPage& d) { std::swap(d.entries.front(), d.entries.back()); }), "not sorted by free space");
  expectNamed(checkChanged([](DListPage& d) { d.entries.pop_back(); }), "are not listed");
  expectNamed(checkChanged([](DListPage& d) { d.entries.clear(); }), "are not listed");  // marked complete, lists none
  expectNamed(checkChanged([](DListPage& d) { d.entries[0].freeSlots += 1; }), "free slots, the AMap has");
  expectNamed(checkChanged([](DListPage& d) { d.entries[1] = d.entries[0]; }), "a second time");
  expectNamed(checkChanged([](DListPage& d) { d.entries[0].amapIndex = 500; }), "does not have");
  expectNamed(checkChanged([](DListPage& d) { d.flags = 0x81; }), "unknown flags");
  expectNamed(checkChanged([](DListPage& d) { d.currentPage = 500; }), "current page 500");
  Bytes over = page;
  over[1] = 200;
  sealPage(over, PageType::kDList, bid, kDListOffset);
  expectNamed(checkWith(over), "claims 200 entries");
  Bytes stale = page;
  stale[8] ^= 1;
  expectNamed(checkWith(stale), "CRC");

  auto db = NodeDatabase::open(path, OpenMode::kReadWrite);
  db->createNode(makeNid(kNidTypeNormalMessage, 0x10100), 0x122)->data().writeBlock(0, Bytes(10, 1));
  db->close();
  for (const auto& v : checkNdb(path)) ADD_FAILURE() << v;
}

// A sub-node whose own sub-node tree is its parent's: walking it must end with an Error.
TEST(Damage, SubnodeTreeThatListsItselfIsRefused) {
  test::TempDir dir;
  const std::string path = dir.str() + "/loop.pst";
  {
    auto db = NodeDatabase::create(path, {CryptMethod::kNone});
    auto node = db->createNode(0x200024, 0x122);
    node->data().writeBlock(0, Bytes(10, 1));
    node->createSubnode(0x1F)->data().writeBlock(0, Bytes(10, 2));
    db->close();
  }
  const Bid sl = NodeDatabase::open(path)->nodes()[0].subnodeBid;
  Bytes file = slurp(path);
  bool patched = false;
  for (std::size_t off = 0x4400; off + 64 <= file.size(); off += 64) {
    if (load<std::uint64_t>(&file[off + 56]) != sl || load<std::uint16_t>(&file[off + 48]) != 32) continue;
    store<std::uint64_t>(&file[off + 8 + 16], sl);  // the entry's bidSub: the block itself
    store<std::uint32_t>(&file[off + 52], crc32(ByteView(file).subspan(off, 32)));
    patched = true;
  }
  ASSERT_TRUE(patched);
  spit(path, file);
  auto db = NodeDatabase::open(path);
  auto node = db->openNode(0x200024);
  ASSERT_EQ(node->subnodeIds(), std::vector<Nid>{0x1F});
  EXPECT_THROW(node->openSubnode(0x1F)->subnodeIds(), Error);
  EXPECT_TRUE(mentions(checkNdb(path), "reference count"));
}

}  // namespace
}  // namespace mailfold::pst::ndb
