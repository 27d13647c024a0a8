#include "pst/ltp/heap.h"

#include <gtest/gtest.h>

#include <random>

#include "memory_node.h"
#include "outlook_samples.h"

namespace mailfold::pst::ltp {
namespace {

using test::MemoryNodeData;

Bytes filled(std::size_t n, std::uint8_t seed) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 7);
  return b;
}

std::uint8_t fillLevelOf(const Bytes& header, std::size_t at, std::uint32_t j) {
  const std::uint8_t byte = header[at + j / 2];
  return j % 2 == 0 ? (byte & 0x0F) : (byte >> 4);
}

TEST(Heap, NewHeapHasOutlooksHeaderAndAnEvenPageMap) {
  MemoryNodeData data;
  Heap heap = Heap::create(data, kClientProperties);
  ASSERT_EQ(data.blocks.size(), 1u);
  const Bytes& b = data.blocks[0];
  // ibHnpm 12, signature, client, no user root, empty fill levels, then cAlloc 0, cFree 0, one offset.
  const Bytes expected = {0x0C, 0x00, 0xEC, 0xBC, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0C, 0x00};
  EXPECT_EQ(b, expected);

  const Hid a = heap.allocate(filled(3, 1));  // odd size: the page map must move to an even offset
  heap.flush();
  EXPECT_EQ(a, 0x20u);
  EXPECT_EQ(load<std::uint16_t>(data.blocks[0].data()) % 2, 0);
  EXPECT_EQ(load<std::uint16_t>(data.blocks[0].data()), 16);
}

TEST(Heap, ReadsOutlooksStorePropertyHeap) {
  MemoryNodeData data;
  data.blocks.emplace_back(std::begin(test::kOutlookStorePc), std::end(test::kOutlookStorePc));
  Heap heap = Heap::open(data);
  EXPECT_EQ(heap.clientSignature(), kClientProperties);
  EXPECT_EQ(heap.userRoot(), 0x20u);
  EXPECT_EQ(heap.read(0x20), (Bytes{0xB5, 0x02, 0x06, 0x00, 0x40, 0x00, 0x00, 0x00}));
  EXPECT_EQ(heap.itemSize(0x40), 0x58u);
  EXPECT_EQ(heap.itemSize(0x100), 0x18u);
  EXPECT_THROW(heap.read(0x120), Error);    // 9th item of an 8-item block
  EXPECT_THROW(heap.read(0x10020), Error);  // block 1 does not exist
  EXPECT_THROW(heap.read(0x21), Error);     // not an HID
}

TEST(Heap, AllocateFreeReallocateKeepOtherItemsAndReuseSlots) {
  MemoryNodeData data;
  Heap heap = Heap::create(data, kClientTable);
  const Hid a = heap.allocate(filled(10, 1));
  const Hid b = heap.allocate(filled(20, 2));
  const Hid c = heap.allocate(filled(30, 3));
  heap.free(b);
  EXPECT_EQ(heap.read(a), filled(10, 1));
  EXPECT_EQ(heap.read(c), filled(30, 3));
  EXPECT_EQ(heap.itemSize(b), 0u);
  EXPECT_THROW(heap.free(b), Error);
  EXPECT_THROW(heap.reallocate(b, filled(4, 4)), Error) << "a freed item cannot be replaced";
  const Hid d = heap.allocate(filled(5, 4));
  EXPECT_EQ(d, b) << "a freed slot is reused";
  EXPECT_EQ(heap.reallocate(a, filled(100, 5)), a) << "growing within the block keeps the HID";
  heap.flush();

  Heap again = Heap::open(data);
  EXPECT_EQ(again.read(a), filled(100, 5));
  EXPECT_EQ(again.read(c), filled(30, 3));
  EXPECT_EQ(again.read(d), filled(5, 4));
  EXPECT_THROW(again.allocate(Bytes{}), Error);
  EXPECT_THROW(again.allocate(Bytes(kMaxHeapItem + 1)), Error);
}

TEST(Heap, GrowsBlockByBlockWithPageHeadersBitmapsAndFullBlocks) {
  MemoryNodeData data;
  Heap heap = Heap::create(data, kClientBth);
  std::vector<std::pair<Hid, Bytes>> items;
  for (int i = 0; i < 601; ++i) {  // 601 x 3000 bytes: two a block, about 300 blocks, past the bitmaps at 8 and 136
    Bytes bytes = filled(3000, static_cast<std::uint8_t>(i));
    items.emplace_back(heap.allocate(bytes), bytes);
    heap.flush();
  }
  const std::uint32_t blocks = data.blockCount();
  EXPECT_GE(blocks, 264u);
  EXPECT_TRUE(data.blocksFull());
  for (std::uint32_t b = 0; b < blocks; ++b) {
    const Bytes& raw = data.blocks[b];
    const std::uint16_t ibHnpm = load<std::uint16_t>(raw.data());
    EXPECT_EQ(ibHnpm % 2, 0) << "block " << b;
    const std::uint16_t firstOffset = load<std::uint16_t>(raw.data() + ibHnpm + 4);
    const std::uint16_t header = b == 0 ? 12 : ((b - 8) % 128 == 0 && b >= 8) ? 66 : 2;
    EXPECT_EQ(firstOffset, header) << "block " << b;
  }
  // Fill levels: every full block says so in block 0 or in its bitmap block; the last block has room.
  const std::uint32_t last = blocks - 1;
  EXPECT_EQ(fillLevelOf(data.blocks[0], 8, 1), 2) << "two 3000-byte items leave 2048..2560 bytes free";
  const std::uint32_t bitmapBlock = 8 + 128 * ((last - 8) / 128);
  EXPECT_EQ(fillLevelOf(data.blocks[bitmapBlock], 2, last - bitmapBlock), 0) << "one item leaves over 3584 free";
  EXPECT_EQ(fillLevelOf(data.blocks[136], 2, 1), 2);
  EXPECT_EQ(fillLevelOf(data.blocks[bitmapBlock], 2, last - bitmapBlock + 1), 0) << "levels past the last block stay zero";

  Heap again = Heap::open(data);
  for (const auto& [hid, bytes] : items) ASSERT_EQ(again.read(hid), bytes);

  // Freeing in an early block makes room there again; once the last block is full, a new item
  // of that size lands in the early block rather than in a new one.
  again.free(items[20].first);
  again.allocate(filled(3000, 8));
  again.flush();
  const Hid reused = again.allocate(filled(2900, 9));
  EXPECT_EQ(hidBlock(reused), hidBlock(items[20].first));
}

// A big table's heap is opened for every row added to it. Its cost must not grow with the heap:
// the open reads block 0 only, and an item placed in the last block reads that block and the
// one fill-level header that covers it, never the headers of the blocks before.
TEST(Heap, OpenAndAppendReadBlocksIndependentOfTheHeapsSize) {
  MemoryNodeData data;
  {
    Heap heap = Heap::create(data, kClientBth);
    for (int i = 0; i < 1200; ++i) heap.allocate(filled(3000, static_cast<std::uint8_t>(i)));  // 600 blocks
    heap.flush();
  }
  ASSERT_GE(data.blockCount(), 600u);
  data.reads = 0;
  Heap heap = Heap::open(data);
  EXPECT_EQ(data.reads, 1u);
  heap.allocate(filled(100, 1));
  heap.flush();
  EXPECT_LE(data.reads, 3u) << "block 0, the last block and its fill-level header";

  // Room made near the end is found without reading the headers at the front.
  const std::uint32_t last = data.blockCount() - 1;
  Heap again = Heap::open(data);
  const Hid near = makeHid(last - 3, 1);
  const Bytes kept = again.read(makeHid(last - 3, 2));
  again.free(near);
  again.flush();
  while (hidBlock(again.allocate(filled(2000, 2))) == data.blockCount() - 1) again.flush();  // fill the last block
  again.flush();
  data.reads = 0;
  Heap third = Heap::open(data);
  const Hid placed = third.allocate(filled(2900, 3));
  third.flush();
  EXPECT_EQ(hidBlock(placed), last - 3);
  EXPECT_LE(data.reads, 5u);
  EXPECT_EQ(third.read(placed), filled(2900, 3));
  EXPECT_EQ(third.read(makeHid(last - 3, 2)), kept);
}

TEST(Heap, WrongFillLevelsFromElsewhereAreCorrectedNotTrusted) {
  MemoryNodeData data;
  {
    Heap heap = Heap::create(data, kClientBth);
    for (int i = 0; i < 8; ++i) heap.allocate(filled(3500, 1));  // two a block: blocks 0..3, all nearly full
    heap.allocate(filled(3500, 2));                               // block 4 is the last, one item
    heap.flush();
  }
  ASSERT_EQ(data.blockCount(), 5u);
  data.blocks[0][8] = 0x00;  // claim blocks 0 and 1 are empty
  Heap heap = Heap::open(data);
  heap.allocate(filled(3500, 3));  // fills the last block
  const Hid big = heap.allocate(filled(3500, 4));
  heap.flush();
  EXPECT_EQ(hidBlock(big), 5u) << "no room in blocks 0 and 1, whatever their levels said";
  EXPECT_EQ(heap.read(big), filled(3500, 4));
  EXPECT_NE(data.blocks[0][8] & 0x0F, 0) << "the level of block 0 is corrected";
  EXPECT_NE(data.blocks[0][8] >> 4, 0) << "the level of block 1 is corrected";
}

TEST(Heap, ChangeWritesOnlyTheBlocksItTouches) {
  MemoryNodeData data;
  Heap heap = Heap::create(data, kClientBth);
  std::vector<Hid> hids;
  for (int i = 0; i < 100; ++i) hids.push_back(heap.allocate(filled(2000, 1)));
  heap.flush();
  const std::uint64_t before = data.writes;
  heap.reallocate(hids[50], filled(2000, 2));  // same size: only its block
  heap.flush();
  EXPECT_EQ(data.writes - before, 1u);
}

TEST(Heap, RejectsDamagedBlocks) {
  const Bytes good(std::begin(test::kOutlookStorePc), std::end(test::kOutlookStorePc));
  auto openWith = [](Bytes raw) {
    MemoryNodeData data;
    data.blocks.push_back(std::move(raw));
    Heap::open(data);
  };
  EXPECT_NO_THROW(openWith(good));
  Bytes badSig = good;
  badSig[2] = 0xED;
  EXPECT_THROW(openWith(badSig), Error);
  Bytes badMap = good;
  store<std::uint16_t>(badMap.data(), 0x2000);  // page map beyond the block
  EXPECT_THROW(openWith(badMap), Error);
  Bytes badCount = good;
  store<std::uint16_t>(badCount.data() + 0xEC, 500);  // more items than the block can list
  EXPECT_THROW(openWith(badCount), Error);
  Bytes disorder = good;
  store<std::uint16_t>(disorder.data() + 0xEC + 4 + 2 * 3, 0x10);  // offsets going backwards
  EXPECT_THROW(openWith(disorder), Error);
  EXPECT_THROW(openWith(Bytes(good.begin(), good.begin() + 5)), Error);
  MemoryNodeData empty;
  EXPECT_THROW(Heap::open(empty), Error);

  // Random damage never crashes: either it opens (and reads within bounds) or it throws.
  std::mt19937 rng(7);
  for (int round = 0; round < 2000; ++round) {
    Bytes raw = good;
    for (int k = 0; k < 4; ++k) raw[rng() % raw.size()] = static_cast<std::uint8_t>(rng());
    MemoryNodeData data;
    data.blocks.push_back(raw);
    try {
      Heap heap = Heap::open(data);
      for (std::uint32_t i = 1; i < 12; ++i) {
        try {
          (void)heap.read(makeHid(0, i));
        } catch (const Error&) {
        }
      }
    } catch (const Error&) {
    }
  }
}

}  // namespace
}  // namespace mailfold::pst::ltp
