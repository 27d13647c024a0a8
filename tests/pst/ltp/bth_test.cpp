#include "pst/ltp/bth.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "memory_node.h"

namespace mailfold::pst::ltp {
namespace {

// The index levels a BTH header records (its fourth byte).
int indexLevels(Heap& heap, Hid header) { return heap.read(header)[3]; }

using test::MemoryNodeData;

// Keys as the tree orders them: little-endian unsigned integers, so compare reversed bytes.
struct KeyLess {
  bool operator()(const Bytes& a, const Bytes& b) const {
    return std::lexicographical_compare(a.rbegin(), a.rend(), b.rbegin(), b.rend());
  }
};
using Model = std::map<Bytes, Bytes, KeyLess>;

Bytes randomBytes(std::mt19937& rng, std::size_t n, std::uint32_t range = 0) {
  Bytes b(n);
  if (range != 0) {  // small key space: collisions exercise replace and erase of present keys
    const std::uint32_t v = rng() % range;
    for (std::size_t i = 0; i < n && i < 4; ++i) b[i] = static_cast<std::uint8_t>(v >> (8 * i));
    return b;
  }
  for (auto& x : b) x = static_cast<std::uint8_t>(rng());
  return b;
}

// Walks the raw heap items: every index entry's key must equal the first key of its child,
// keys ascend across the whole tree, and every leaf sits at the same depth.
void checkStructure(Heap& heap, Hid header) {
  const Bytes h = heap.read(header);
  const std::uint8_t k = h[1], d = h[2], levels = h[3];
  const Hid root = load<std::uint32_t>(h.data() + 4);
  if (root == 0) {
    EXPECT_EQ(levels, 0);
    return;
  }
  Bytes previous;
  KeyLess less;
  std::function<Bytes(Hid, unsigned)> walk = [&](Hid hid, unsigned level) -> Bytes {
    const Bytes item = heap.read(hid);
    const std::size_t size = level == 0 ? k + d : k + 4u;
    EXPECT_EQ(item.size() % size, 0u);
    EXPECT_LE(item.size(), kMaxHeapItem);
    Bytes first(item.begin(), item.begin() + k);
    for (std::size_t at = 0; at < item.size(); at += size) {
      const Bytes key(item.begin() + at, item.begin() + at + k);
      if (level == 0) {
        if (!previous.empty()) {
          EXPECT_TRUE(less(previous, key)) << "keys out of order";
        }
        previous = key;
      } else {
        EXPECT_EQ(walk(load<std::uint32_t>(item.data() + at + k), level - 1), key) << "index key differs from child";
      }
    }
    return first;
  };
  walk(root, levels);
}

void expectSame(Bth& tree, const Model& model) {
  Model seen;
  tree.forEach([&seen](ByteView key, ByteView data) {
    seen.emplace(Bytes(key.begin(), key.end()), Bytes(data.begin(), data.end()));
    return true;
  });
  EXPECT_EQ(seen, model);
}

class BthSizes : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(BthSizes, RandomInsertReplaceEraseMatchAMapAcrossLevels) {
  const auto [keySize, dataSize] = GetParam();
  MemoryNodeData data;
  Heap heap = Heap::create(data, kClientBth);
  const Hid header = Bth::create(heap, static_cast<std::uint8_t>(keySize), static_cast<std::uint8_t>(dataSize));
  heap.setUserRoot(header);
  Bth tree(heap, header);
  Model model;
  std::mt19937 rng(keySize * 100 + dataSize);
  const std::uint32_t range = keySize == 2 ? 30000 : 0;
  std::vector<Bytes> keys;
  for (int i = 0; i < 12000; ++i) {
    const Bytes key = (i % 5 == 4 && !keys.empty()) ? keys[rng() % keys.size()] : randomBytes(rng, keySize, range);
    keys.push_back(key);
    const Bytes value = randomBytes(rng, dataSize);
    tree.put(key, value);
    model[key] = value;
  }
  heap.flush();
  EXPECT_GE(indexLevels(heap, header), 1);
  checkStructure(heap, header);
  expectSame(tree, model);

  // Lookups on a reopened heap, present and absent keys.
  Heap reopened = Heap::open(data);
  Bth again(reopened, reopened.userRoot());
  EXPECT_EQ(indexLevels(reopened, reopened.userRoot()), indexLevels(heap, header));
  for (int i = 0; i < 500; ++i) {
    const Bytes& key = keys[rng() % keys.size()];
    EXPECT_EQ(again.find(key), model.at(key));
    const Bytes probe = randomBytes(rng, keySize, range);
    const auto it = model.find(probe);
    EXPECT_EQ(again.find(probe).has_value(), it != model.end());
  }

  // Erase in random order down to nothing: the tree shrinks back to an empty root.
  std::vector<Bytes> present;
  for (const auto& [key, value] : model) present.push_back(key);
  std::shuffle(present.begin(), present.end(), rng);
  for (std::size_t i = 0; i < present.size(); ++i) {
    ASSERT_TRUE(again.erase(present[i]));
    model.erase(present[i]);
    if (i % 2000 == 0) {
      checkStructure(reopened, again.headerHid());
      expectSame(again, model);
    }
  }
  EXPECT_FALSE(again.erase(present[0]));
  reopened.flush();
  const Bytes h = reopened.read(again.headerHid());
  EXPECT_EQ(load<std::uint32_t>(h.data() + 4), 0u) << "an empty tree has root 0";
  EXPECT_EQ(h[3], 0);
}

INSTANTIATE_TEST_SUITE_P(KeyAndDataSizes, BthSizes,
                         ::testing::Values(std::pair{2, 6}, std::pair{4, 4}, std::pair{8, 32}, std::pair{16, 32}, std::pair{16, 2}));

TEST(Bth, AscendingAppendsFillLeavesAndStayCheap) {
  MemoryNodeData data;
  Heap heap = Heap::create(data, kClientBth);
  const Hid header = Bth::create(heap, 4, 4);
  Bth tree(heap, header);
  std::uint64_t writesAt10k = 0;
  for (std::uint32_t i = 0; i < 40000; ++i) {
    tree.put(Bth::encodeInt(i + 1, 4), Bth::encodeInt(i, 4));
    heap.flush();
    if (i == 9999) writesAt10k = data.writes;
  }
  EXPECT_EQ(indexLevels(heap, header), 1);
  // 447 records fill a leaf: 40000 records need 90 leaves, far fewer than half-full leaves would.
  std::size_t leaves = 0;
  const Bytes root = heap.read(load<std::uint32_t>(heap.read(header).data() + 4));
  leaves = root.size() / 8;
  EXPECT_LE(leaves, 92u);
  const double early = static_cast<double>(writesAt10k) / 10000;
  const double late = static_cast<double>(data.writes - writesAt10k) / 30000;
  EXPECT_LT(late, early * 1.5 + 0.1) << "writes per insert must not grow with the tree";
  checkStructure(heap, header);
}

TEST(Bth, RejectsBadHeadersAndSizes) {
  MemoryNodeData data;
  Heap heap = Heap::create(data, kClientBth);
  EXPECT_THROW(Bth::create(heap, 3, 4), Error);
  EXPECT_THROW(Bth::create(heap, 4, 0), Error);
  EXPECT_THROW(Bth::create(heap, 4, 33), Error);
  const Hid notHeader = heap.allocate(Bytes{0xB6, 4, 4, 0, 0, 0, 0, 0});
  EXPECT_THROW(Bth(heap, notHeader), Error);
  const Hid badKey = heap.allocate(Bytes{0xB5, 5, 4, 0, 0, 0, 0, 0});
  EXPECT_THROW(Bth(heap, badKey), Error);
  const Hid shortHeader = heap.allocate(Bytes{0xB5, 4, 4});
  EXPECT_THROW(Bth(heap, shortHeader), Error);
  // A root whose item is not a whole number of records.
  const Hid oddLeaf = heap.allocate(Bytes(13, 1));
  Bytes h = {0xB5, 4, 4, 0, 0, 0, 0, 0};
  store<std::uint32_t>(h.data() + 4, oddLeaf);
  Bth broken(heap, heap.allocate(h));
  EXPECT_THROW(broken.find(Bth::encodeInt(1, 4)), Error);
  // An index item that lists itself: the walk must stop with an error instead of looping.
  const Hid loop = heap.allocate(Bytes(8, 0));
  Bytes self(8, 0);
  store<std::uint32_t>(self.data() + 4, loop);
  heap.reallocate(loop, self);
  Bytes cyclic = {0xB5, 4, 4, 3, 0, 0, 0, 0};
  store<std::uint32_t>(cyclic.data() + 4, loop);
  Bth cycle(heap, heap.allocate(cyclic));
  EXPECT_THROW(cycle.forEach([](ByteView, ByteView) { return true; }), Error);
  const Hid deep = heap.allocate(Bytes{0xB5, 4, 4, 200, 0, 0, 0, 0});
  EXPECT_THROW(Bth(heap, deep), Error);
  Bth good(heap, Bth::create(heap, 4, 4));
  EXPECT_THROW(good.put(Bytes(2), Bytes(4)), Error);
  EXPECT_THROW(good.put(Bytes(4), Bytes(3)), Error);
}

}  // namespace
}  // namespace mailfold::pst::ltp
