#include "pst/ltp/heap.h"

#include <algorithm>
#include <cstdio>

namespace mailfold::pst::ltp {
namespace {

constexpr std::uint8_t kHeapSignature = 0xEC;
constexpr std::uint16_t kHeapHeaderSize = 12;    // ibHnpm, bSig, bClientSig, hidUserRoot, rgbFillLevel
constexpr std::uint16_t kPageHeaderSize = 2;     // ibHnpm
constexpr std::uint16_t kBitmapHeaderSize = 66;  // ibHnpm, 128 fill levels
constexpr std::uint32_t kMaxBlocks = 65536;      // the block index of an HID has 16 bits
constexpr std::uint32_t kMaxItemsPerBlock = 2047;  // the item index of an HID has 11 bits
constexpr std::uint32_t kBlockSize = ndb::kMaxBlockPayload;

constexpr std::uint32_t align2(std::uint32_t v) { return (v + 1) & ~1u; }

bool isBitmapBlock(std::uint32_t block) { return block >= 8 && (block - 8) % 128 == 0; }

constexpr std::uint8_t kLevelUnknown = 0xFF;

}  // namespace

std::uint16_t Heap::headerSizeOf(std::uint32_t block) {
  if (block == 0) return kHeapHeaderSize;
  return isBitmapBlock(block) ? kBitmapHeaderSize : kPageHeaderSize;
}

Heap::Page Heap::decodePage(std::uint32_t block, const Bytes& raw) {
  const std::string where = "heap block " + std::to_string(block);
  Page page;
  page.headerSize = headerSizeOf(block);
  if (raw.size() < page.headerSize) throw Error(ErrorKind::kCorrupt, where + " is shorter than its header");
  const std::uint16_t ibHnpm = load<std::uint16_t>(raw.data());
  if (ibHnpm < page.headerSize || std::uint32_t{ibHnpm} + 4 > raw.size())
    throw Error(ErrorKind::kCorrupt, where + ": page map offset " + std::to_string(ibHnpm) + " outside the block of " +
                std::to_string(raw.size()) + " bytes");
  const std::uint16_t cAlloc = load<std::uint16_t>(raw.data() + ibHnpm);
  const std::uint16_t cFree = load<std::uint16_t>(raw.data() + ibHnpm + 2);
  if (cAlloc > kMaxItemsPerBlock || std::uint32_t{ibHnpm} + 4 + 2u * (cAlloc + 1u) > raw.size())
    throw Error(ErrorKind::kCorrupt, where + ": page map of " + std::to_string(cAlloc) + " items does not fit the block");
  if (cFree > cAlloc) throw Error(ErrorKind::kCorrupt, where + ": more free items than items");
  page.offsets.resize(cAlloc + 1u);
  for (std::uint32_t i = 0; i <= cAlloc; ++i) {
    page.offsets[i] = load<std::uint16_t>(raw.data() + ibHnpm + 4 + 2 * i);
    const std::uint16_t low = i == 0 ? page.headerSize : page.offsets[i - 1];
    if (page.offsets[i] < low || page.offsets[i] > ibHnpm)
      throw Error(ErrorKind::kCorrupt, where + ": item offset " + std::to_string(page.offsets[i]) + " of item " + std::to_string(i + 1) +
                  " is out of order or outside the item area");
  }
  page.freeCount = cFree;
  page.body.assign(raw.begin(), raw.begin() + page.offsets.back());
  return page;
}

Bytes Heap::encodePage(const Page& page, bool padToFull) {
  Bytes out = page.body;
  if (out.size() % 2) out.push_back(0);  // the page map starts on an even offset
  store<std::uint16_t>(out.data(), static_cast<std::uint16_t>(out.size()));
  const std::size_t at = out.size();
  out.resize(at + 4 + 2 * page.offsets.size());
  store<std::uint16_t>(out.data() + at, static_cast<std::uint16_t>(page.offsets.size() - 1));
  store<std::uint16_t>(out.data() + at + 2, page.freeCount);
  for (std::size_t i = 0; i < page.offsets.size(); ++i) store<std::uint16_t>(out.data() + at + 4 + 2 * i, page.offsets[i]);
  if (padToFull) out.resize(kBlockSize, 0);
  return out;
}

std::uint32_t Heap::usedBytes(const Page& page) {
  return align2(static_cast<std::uint32_t>(page.body.size())) + 4 + 2 * static_cast<std::uint32_t>(page.offsets.size());
}

std::uint8_t Heap::fillLevelFor(std::uint32_t freeBytes) {
  static constexpr std::uint32_t kLowerBounds[] = {3584, 2560, 2048, 1792, 1536, 1280, 1024, 768,
                                                   512,  256,  128,  64,   32,   16,   8};
  for (std::uint8_t level = 0; level < 15; ++level)
    if (freeBytes >= kLowerBounds[level]) return level;
  return 15;
}

std::uint32_t Heap::guaranteedFree(std::uint8_t level) {
  static constexpr std::uint32_t kLowerBounds[] = {3584, 2560, 2048, 1792, 1536, 1280, 1024, 768,
                                                   512,  256,  128,  64,   32,   16,   8,    0};
  return kLowerBounds[level & 0xF];
}

Heap Heap::create(ndb::NodeData& data, std::uint8_t clientSignature) {
  if (data.blockCount() != 0) throw Error(ErrorKind::kInternal, "cannot create a heap in a node that already holds data");
  Heap heap(data);
  heap.clientSignature_ = clientSignature;
  Page first;
  first.headerSize = kHeapHeaderSize;
  first.body.assign(kHeapHeaderSize, 0);
  first.body[2] = kHeapSignature;
  first.body[3] = clientSignature;
  first.offsets = {kHeapHeaderSize};
  first.dirty = true;
  heap.cache_.emplace(0, std::move(first));
  heap.blockCount_ = 1;
  heap.updateFillLevel(0);
  heap.flush();
  return heap;
}

Heap Heap::open(ndb::NodeData& data) {
  Heap heap(data);
  const std::uint32_t blocks = data.blockCount();
  if (blocks == 0) throw Error(ErrorKind::kCorrupt, "node holds no data, so no heap");
  if (blocks > kMaxBlocks) throw Error(ErrorKind::kCorrupt, "heap of " + std::to_string(blocks) + " blocks is larger than a heap can be");
  heap.blockCount_ = blocks;
  Page& first = heap.page(0);
  if (first.body[2] != kHeapSignature)
    throw Error(ErrorKind::kCorrupt, "not a heap: signature " + hex(first.body[2]) + " instead of 0xEC");
  heap.clientSignature_ = first.body[3];
  heap.userRoot_ = load<std::uint32_t>(first.body.data() + 4);
  heap.trimCache();
  return heap;
}

Heap::Page& Heap::page(std::uint32_t block) {
  auto it = cache_.find(block);
  if (it != cache_.end()) return it->second;
  if (block >= blockCount()) throw Error(ErrorKind::kCorrupt, "heap block " + std::to_string(block) + " does not exist");
  return cache_.emplace(block, decodePage(block, data_->readBlock(block))).first->second;
}

void Heap::checkHid(Hid hid, const Page& page) const {
  const std::uint32_t index = hidIndex(hid);
  if (index == 0 || index >= page.offsets.size())
    throw Error(ErrorKind::kCorrupt, "HID " + hex(hid) + " names no item of heap block " + std::to_string(hidBlock(hid)));
}

Bytes Heap::read(Hid hid) {
  if (!isHid(hid) || hid == 0) throw Error(ErrorKind::kCorrupt, hex(hid) + " is not a heap item id");
  if (hidBlock(hid) >= blockCount())
    throw Error(ErrorKind::kCorrupt, "HID " + hex(hid) + " points past the heap's " + std::to_string(blockCount()) + " blocks");
  Page& p = page(hidBlock(hid));
  checkHid(hid, p);
  const std::uint32_t i = hidIndex(hid) - 1;
  return Bytes(p.body.begin() + p.offsets[i], p.body.begin() + p.offsets[i + 1]);
}

std::uint32_t Heap::itemSize(Hid hid) {
  if (!isHid(hid) || hid == 0 || hidBlock(hid) >= blockCount()) throw Error(ErrorKind::kCorrupt, hex(hid) + " is not a heap item id");
  Page& p = page(hidBlock(hid));
  checkHid(hid, p);
  return p.offsets[hidIndex(hid)] - p.offsets[hidIndex(hid) - 1];
}

// The first empty slot of a page with freed items, or offsets.size() - 1 (a new slot) when none.
std::size_t Heap::slotFor(const Page& page) {
  if (page.freeCount > 0)
    for (std::size_t i = 0; i + 1 < page.offsets.size(); ++i)
      if (page.offsets[i] == page.offsets[i + 1]) return i;
  return page.offsets.size() - 1;
}

bool Heap::fits(const Page& page, std::uint32_t size) const {
  const bool newSlot = slotFor(page) == page.offsets.size() - 1;
  if (newSlot && page.offsets.size() - 1 >= kMaxItemsPerBlock) return false;
  const std::uint32_t need = align2(static_cast<std::uint32_t>(page.body.size()) + size) + 4 +
                             2 * static_cast<std::uint32_t>(page.offsets.size() + (newSlot ? 1 : 0));
  return need <= kBlockSize;
}

Hid Heap::placeIn(std::uint32_t block, ByteView bytes) {
  Page& p = page(block);
  const auto size = static_cast<std::uint16_t>(bytes.size());
  const std::size_t slot = slotFor(p);
  if (slot == p.offsets.size() - 1) {
    p.body.insert(p.body.end(), bytes.begin(), bytes.end());
    p.offsets.push_back(static_cast<std::uint16_t>(p.body.size()));
  } else {
    p.body.insert(p.body.begin() + p.offsets[slot], bytes.begin(), bytes.end());
    for (std::size_t i = slot + 1; i < p.offsets.size(); ++i) p.offsets[i] = static_cast<std::uint16_t>(p.offsets[i] + size);
    --p.freeCount;
  }
  p.dirty = true;
  updateFillLevel(block);
  return makeHid(block, static_cast<std::uint32_t>(slot + 1));
}

Hid Heap::allocate(ByteView bytes) {
  if (bytes.empty() || bytes.size() > kMaxHeapItem)
    throw Error(ErrorKind::kInternal, "heap items hold 1 to " + std::to_string(kMaxHeapItem) + " bytes, not " + std::to_string(bytes.size()));
  const auto size = static_cast<std::uint32_t>(bytes.size());
  const std::uint32_t last = blockCount() - 1;
  if (fits(page(last), size)) return placeIn(last, bytes);
  // The fill levels are lower bounds of each block's free space (a new slot and a padding
  // byte included): only blocks that promise enough room are read. Newest first: room is made
  // when a grown item moves on, and that happened lately near the end. Groups of 128 blocks
  // that promise no room are passed over whole, so a heap of full blocks (a table of many rows
  // whose index keeps growing) costs a few hundred steps per search, not one per block. A level
  // found wrong (in a store written elsewhere) is corrected, and the search goes on.
  for (std::uint32_t g = groupOf(last) + 1; g-- > 0;) {
    if (guaranteedFree(groupBestLevel(g)) < size + 3) continue;
    const std::uint32_t end = std::min(last, groupStart(g + 1));
    for (std::uint32_t b = end; b-- > groupStart(g);) {
      if (guaranteedFree(fillLevel(b)) < size + 3) continue;
      if (fits(page(b), size)) return placeIn(b, bytes);
      updateFillLevel(b);
    }
  }
  return placeIn(appendBlock(), bytes);
}

Hid Heap::reallocate(Hid hid, ByteView bytes) {
  if (bytes.empty() || bytes.size() > kMaxHeapItem)
    throw Error(ErrorKind::kInternal, "heap items hold 1 to " + std::to_string(kMaxHeapItem) + " bytes, not " + std::to_string(bytes.size()));
  const std::uint32_t oldSize = itemSize(hid);
  if (oldSize == 0) throw Error(ErrorKind::kCorrupt, "heap item " + hex(hid) + " is free and cannot be replaced");
  const std::uint32_t block = hidBlock(hid);
  Page& p = page(block);
  const std::uint32_t newBody = static_cast<std::uint32_t>(p.body.size()) - oldSize + static_cast<std::uint32_t>(bytes.size());
  if (align2(newBody) + 4 + 2 * p.offsets.size() > kBlockSize) {
    const Hid moved = allocate(bytes);
    free(hid);
    return moved;
  }
  const std::uint32_t i = hidIndex(hid) - 1;
  const std::uint16_t begin = p.offsets[i];
  Bytes rebuilt;
  rebuilt.reserve(newBody);
  rebuilt.insert(rebuilt.end(), p.body.begin(), p.body.begin() + begin);
  rebuilt.insert(rebuilt.end(), bytes.begin(), bytes.end());
  rebuilt.insert(rebuilt.end(), p.body.begin() + p.offsets[i + 1], p.body.end());
  p.body = std::move(rebuilt);
  const auto delta = static_cast<std::int32_t>(bytes.size()) - static_cast<std::int32_t>(oldSize);
  for (std::size_t k = i + 1; k < p.offsets.size(); ++k) p.offsets[k] = static_cast<std::uint16_t>(p.offsets[k] + delta);
  p.dirty = true;
  updateFillLevel(block);
  return hid;
}

void Heap::free(Hid hid) {
  const std::uint32_t size = itemSize(hid);
  if (size == 0) throw Error(ErrorKind::kCorrupt, "heap item " + hex(hid) + " is already free");
  const std::uint32_t block = hidBlock(hid);
  Page& p = page(block);
  const std::uint32_t i = hidIndex(hid) - 1;
  p.body.erase(p.body.begin() + p.offsets[i], p.body.begin() + p.offsets[i + 1]);
  for (std::size_t k = i + 1; k < p.offsets.size(); ++k) p.offsets[k] = static_cast<std::uint16_t>(p.offsets[k] - size);
  if (i + 2 == p.offsets.size()) {
    p.offsets.pop_back();  // the last item: drop its slot instead of keeping an empty one
  } else {
    ++p.freeCount;
  }
  p.dirty = true;
  updateFillLevel(block);
}

void Heap::setUserRoot(Hid hid) {
  Page& first = page(0);
  store<std::uint32_t>(first.body.data() + 4, hid);
  first.dirty = true;
  userRoot_ = hid;
}

std::uint32_t Heap::appendBlock() {
  const std::uint32_t block = blockCount();
  if (block >= kMaxBlocks) throw Error(ErrorKind::kRefused, "heap is full: it already has " + std::to_string(kMaxBlocks) + " blocks");
  page(block - 1).dirty = true;  // no longer the last block: it gets padded to full size
  Page fresh;
  fresh.headerSize = headerSizeOf(block);
  fresh.body.assign(fresh.headerSize, 0);
  fresh.offsets = {fresh.headerSize};
  fresh.dirty = true;
  cache_.emplace(block, std::move(fresh));
  ++blockCount_;
  updateFillLevel(block);
  return block;
}

Heap::LevelSlot Heap::levelSlot(std::uint32_t block) {
  if (block < 8) return {0, 8 + block / 2, block % 2 == 1};
  const std::uint32_t headerBlock = 8 + 128 * ((block - 8) / 128);
  const std::uint32_t j = block - headerBlock;
  return {headerBlock, 2 + j / 2, j % 2 == 1};
}

std::uint8_t Heap::fillLevel(std::uint32_t block) {
  const LevelSlot slot = levelSlot(block);
  const std::uint8_t byte = page(slot.headerBlock).body[slot.at];
  return slot.highNibble ? byte >> 4 : byte & 0x0F;
}

void Heap::updateFillLevel(std::uint32_t block) {
  const std::uint32_t used = usedBytes(page(block));
  const std::uint8_t level = fillLevelFor(used >= kBlockSize ? 0 : kBlockSize - used);
  if (level != fillLevel(block)) storeFillLevel(block, level);
}

std::uint32_t Heap::groupOf(std::uint32_t block) { return block < 8 ? 0 : 1 + (block - 8) / 128; }

std::uint32_t Heap::groupStart(std::uint32_t group) { return group == 0 ? 0 : 8 + 128 * (group - 1); }

std::uint8_t Heap::groupBestLevel(std::uint32_t group) {
  if (groupBest_.size() <= group) groupBest_.resize(group + 1, kLevelUnknown);
  if (groupBest_[group] == kLevelUnknown) {
    std::uint8_t best = 15;
    for (std::uint32_t b = groupStart(group); b < groupStart(group + 1) && b < blockCount(); ++b) best = std::min(best, fillLevel(b));
    groupBest_[group] = best;
  }
  return groupBest_[group];
}

void Heap::storeFillLevel(std::uint32_t block, std::uint8_t level) {
  // The group's best level follows a block that gained room; one that lost room may have been
  // the best, so the group is looked at again when next needed.
  if (const std::uint32_t g = groupOf(block); g < groupBest_.size() && groupBest_[g] != kLevelUnknown)
    groupBest_[g] = level <= groupBest_[g] ? level : kLevelUnknown;
  const LevelSlot slot = levelSlot(block);
  Page& header = page(slot.headerBlock);
  std::uint8_t& byte = header.body[slot.at];
  byte = slot.highNibble ? static_cast<std::uint8_t>((byte & 0x0F) | (level << 4)) : static_cast<std::uint8_t>((byte & 0xF0) | level);
  header.dirty = true;
}

void Heap::flush() {
  const std::uint32_t last = blockCount() - 1;
  for (auto& [block, p] : cache_) {
    if (!p.dirty) continue;
    data_->writeBlock(block, encodePage(p, block != last));
    p.dirty = false;
  }
  trimCache();
}

void Heap::trimCache() {
  constexpr std::size_t kCacheLimit = 32;
  if (cache_.size() <= kCacheLimit) return;
  const std::uint32_t last = blockCount() - 1;
  for (auto it = cache_.begin(); it != cache_.end();) {
    if (!it->second.dirty && it->first != 0 && it->first != last)
      it = cache_.erase(it);
    else
      ++it;
  }
}

}  // namespace mailfold::pst::ltp
