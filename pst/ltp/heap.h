// The heap-on-node: small items (at most 3580 bytes each) allocated inside a node's data
// blocks and addressed by HID (block index, 1-based item index within the block).
//
// Block 0 starts with the heap header (signature, client signature, user root, fill levels of
// blocks 0..7); blocks 8, 136, 264, ... carry a bitmap header with the fill levels of the next
// 128 blocks; every other block starts with a 2-byte page header. Each block ends with its page
// map (item offsets) at an even offset. Every block but the last is padded to the full block
// payload, as the data tree below requires.
//
// Changes are made in a small cache of decoded blocks and written by flush(), which writes only
// the blocks that changed: an allocation touches its block and, when a fill level moves, the
// block that holds that fill level. Freeing an item keeps its index (other HIDs stay valid) and
// the slot is reused by a later allocation in the same block.
#pragma once

#include <cstdint>
#include <array>
#include <map>
#include <set>
#include <vector>

#include "pst/bytes.h"
#include "pst/ndb/node.h"

namespace mailfold::pst::ltp {

using Hid = std::uint32_t;

// Largest single heap item; larger values go to a sub-node.
inline constexpr std::uint32_t kMaxHeapItem = 3580;

// Client signatures of the heap header.
inline constexpr std::uint8_t kClientTable = 0x7C;
inline constexpr std::uint8_t kClientBth = 0xB5;
inline constexpr std::uint8_t kClientProperties = 0xBC;

constexpr bool isHid(std::uint32_t hnid) { return (hnid & 0x1F) == 0; }
constexpr Hid makeHid(std::uint32_t block, std::uint32_t index) { return (block << 16) | (index << 5); }
constexpr std::uint32_t hidBlock(Hid hid) { return hid >> 16; }
constexpr std::uint32_t hidIndex(Hid hid) { return (hid >> 5) & 0x7FF; }

class Heap {
 public:
  // Writes an empty heap into `data`, which must be empty.
  static Heap create(ndb::NodeData& data, std::uint8_t clientSignature);
  // Opens the heap held by `data`; throws Error when block 0 is not a heap.
  static Heap open(ndb::NodeData& data);

  Heap(Heap&&) = default;
  Heap& operator=(Heap&&) = default;

  std::uint8_t clientSignature() const { return clientSignature_; }
  Hid userRoot() const { return userRoot_; }
  void setUserRoot(Hid hid);
  std::uint32_t blockCount() const { return blockCount_; }

  // The bytes of an item; throws Error for an HID that does not name an item of this heap.
  Bytes read(Hid hid);
  std::uint32_t itemSize(Hid hid);

  // A new item holding `bytes` (1..kMaxHeapItem bytes).
  Hid allocate(ByteView bytes);
  // Replaces an item's bytes; keeps the HID when the item still fits its block, otherwise
  // moves it and returns the new HID.
  Hid reallocate(Hid hid, ByteView bytes);
  void free(Hid hid);

  // Writes every changed block to the node.
  void flush();

 private:
  struct Page {
    Bytes body;                          // header and items, up to the end of the last item
    std::vector<std::uint16_t> offsets;  // cAlloc + 1 entries
    std::uint16_t freeCount = 0;
    std::uint16_t headerSize = 0;
    bool dirty = false;
  };

  explicit Heap(ndb::NodeData& data) : data_(&data) {}

  static std::uint16_t headerSizeOf(std::uint32_t block);
  static Page decodePage(std::uint32_t block, const Bytes& raw);
  static Bytes encodePage(const Page& page, bool padToFull);
  static std::uint32_t usedBytes(const Page& page);
  static std::uint8_t fillLevelFor(std::uint32_t freeBytes);
  static std::uint32_t guaranteedFree(std::uint8_t level);

  Page& page(std::uint32_t block);
  void checkHid(Hid hid, const Page& page) const;
  static std::size_t slotFor(const Page& page);
  bool fits(const Page& page, std::uint32_t size) const;
  Hid placeIn(std::uint32_t block, ByteView bytes);
  std::uint32_t appendBlock();
  struct LevelSlot {
    std::uint32_t headerBlock;  // the block whose header holds the level
    std::uint32_t at;           // byte offset in that block
    bool highNibble;
  };
  static LevelSlot levelSlot(std::uint32_t block);
  // Fill levels are read from the block headers that hold them, when needed: an open reads
  // only block 0, however many blocks the heap has.
  std::uint8_t fillLevel(std::uint32_t block);
  void updateFillLevel(std::uint32_t block);
  void storeFillLevel(std::uint32_t block, std::uint8_t level);
  void trimCache();
  // Blocks are grouped by the header that holds their fill levels (blocks 0-7 in block 0, then
  // 128 per bitmap header). The lowest level of a group (its most promised room) lets a search
  // for room pass over a whole group of full blocks at once.
  static std::uint32_t groupOf(std::uint32_t block);
  static std::uint32_t groupStart(std::uint32_t group);
  std::uint8_t groupBestLevel(std::uint32_t group);

  ndb::NodeData* data_;
  std::uint8_t clientSignature_ = 0;
  Hid userRoot_ = 0;
  std::uint32_t blockCount_ = 0;
  std::map<std::uint32_t, Page> cache_;
  std::vector<std::uint8_t> groupBest_;  // per group: its lowest fill level, or kLevelUnknown
};

}  // namespace mailfold::pst::ltp
