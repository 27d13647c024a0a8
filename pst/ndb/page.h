// 512-byte pages: the page trailer, B-tree pages (BBT and NBT) and the fixed-place map pages
// (AMap, PMap, FMap, FPMap, DList), with their encoders and decoders side by side.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pst/bytes.h"
#include "pst/ndb/format.h"

namespace mailfold::pst::ndb {

enum class PageType : std::uint8_t {
  kBbt = 0x80,
  kNbt = 0x81,
  kFMap = 0x82,
  kPMap = 0x83,
  kAMap = 0x84,
  kFPMap = 0x85,
  kDList = 0x86,
};

struct PageTrailer {
  std::uint8_t ptype = 0;
  std::uint8_t ptypeRepeat = 0;
  std::uint16_t sig = 0;
  std::uint32_t crc = 0;
  std::uint64_t bid = 0;
};

PageTrailer decodePageTrailer(const Format& f, ByteView page);

// Everything wrong with a page read at `ib` that should be of `type` with id `bid` (type,
// repeat, signature, CRC, id). Empty when the page is sound.
std::string checkPage(const Format& f, ByteView page, PageType type, std::uint64_t bid, std::uint64_t ib);

// Fills the trailer of a Unicode page (CRC over the first 496 bytes, signature where the type
// has one). Map pages use their offset as id.
void sealPage(Bytes& page, PageType type, std::uint64_t bid, std::uint64_t ib);

// ---- B-tree pages -------------------------------------------------------------------------

struct BtIndexEntry {  // intermediate levels: lowest key of the child page, and where it is
  std::uint64_t key = 0;
  Bref child;
};
struct NbtEntry {  // NBT leaf: one node
  std::uint64_t nid = 0;  // a 32-bit NID, widened to the key size
  std::uint64_t bidData = 0;
  std::uint64_t bidSub = 0;
  std::uint32_t nidParent = 0;
};
struct BbtEntry {  // BBT leaf: one block
  Bref ref;
  std::uint16_t cb = 0;
  std::uint16_t cRef = 0;
};

struct BtPage {
  PageType type = PageType::kNbt;
  std::uint8_t level = 0;                 // 0 = leaf
  std::vector<BtIndexEntry> index;        // level > 0
  std::vector<NbtEntry> nodes;            // NBT leaf
  std::vector<BbtEntry> blocks;           // BBT leaf
  std::size_t size() const { return level > 0 ? index.size() : (type == PageType::kNbt ? nodes.size() : blocks.size()); }
  std::uint64_t keyAt(std::size_t i) const {
    return level > 0 ? index[i].key : (type == PageType::kNbt ? nodes[i].nid : blocks[i].ref.bid);
  }
};

// Decodes the entries of a B-tree page whose trailer was already checked. Counts and entry
// sizes come from the page and are checked against the page size first.
BtPage decodeBtPage(const Format& f, ByteView page, PageType type);

// Largest entry count of a Unicode B-tree page at `level` of a tree of `type`.
std::size_t btCapacity(PageType type, std::uint8_t level);

// Encodes a Unicode B-tree page, trailer included.
Bytes encodeBtPage(const BtPage& page, std::uint64_t bid, std::uint64_t ib);

// ---- map pages ------------------------------------------------------------------------------

// Each AMap page maps the 253,952 bytes that start at the page itself, one bit per 64 bytes.
inline constexpr std::uint64_t kAMapFirst = 0x4400;
inline constexpr std::uint64_t kAMapCoverage = 496ull * 8 * 64;
inline constexpr std::uint64_t kDListOffset = 0x4200;
inline constexpr std::uint32_t kAMapBits = 496 * 8;
// One PMap every 8 AMap pages; the header's own free maps cover the first 128 AMaps (FMap)
// and the first 1,024 PMaps (FPMap); map pages beyond those cover 496 and 496*8 at a time.
inline constexpr std::uint64_t kPMapEvery = 8;
inline constexpr std::uint64_t kFMapFirstAMap = 128, kFMapEvery = 496;
inline constexpr std::uint64_t kFPMapFirstAMap = 128ull * 8 * 8, kFPMapEvery = 496ull * 8 * 8;

inline std::uint64_t amapOffset(std::uint64_t index) { return kAMapFirst + index * kAMapCoverage; }

// The map pages that open the data section of AMap number `index`, in file order: the AMap,
// then a PMap, FMap and FPMap where one falls due. Each takes 512 bytes.
struct SectionMaps {
  bool pmap = false, fmap = false, fpmap = false;
  std::uint32_t pageCount() const { return 1u + pmap + fmap + fpmap; }
};
SectionMaps sectionMaps(std::uint64_t amapIndex);

// Offset of the map bits inside a map page (ANSI pages start with 4 bytes of padding).
inline std::size_t mapDataOffset(const Format& f) { return f.unicode ? 0 : 4; }

// ---- density list ---------------------------------------------------------------------------

// The one DList page, in the reserved area just before the first AMap. It lists AMap pages by
// their free 64-byte slots, most free first, so that a reader can allocate where room is
// abundant without reading every AMap. It is optional (Outlook 2003 and early 2007 stores
// have none) and derived: a reader that finds it damaged rebuilds it from the AMaps.
inline constexpr std::uint8_t kDListBackfillComplete = 0x01;  // no backfill under way
// Entries are 20 bits of AMap index and 12 bits of free slots.
inline constexpr std::uint32_t kDListMaxAMapIndex = (1u << 20) - 1;

struct DListEntry {
  std::uint32_t amapIndex = 0;  // 0 = the AMap at 0x4400
  std::uint16_t freeSlots = 0;  // free 64-byte units in that AMap's section
  bool operator==(const DListEntry&) const = default;
};

struct DListPage {
  std::uint8_t flags = 0;
  // With the backfill flag set: the AMap the next allocation is taken from; without it: the
  // AMap a backfill (a walk from the end of the file to its start) tries next.
  std::uint32_t currentPage = 0;
  std::vector<DListEntry> entries;
};

// Entries a DList page has room for: 119 (Unicode) or 120 (ANSI).
std::size_t dlistCapacity(const Format& f);

// Decodes a DList page whose trailer was already checked. Throws when the page claims more
// entries than it has room for. (Bytes 2-3 are padding, not decoded.)
DListPage decodeDListPage(const Format& f, ByteView page);

// Encodes a Unicode DList page with page id `bid`, trailer included.
Bytes encodeDListPage(const DListPage& page, std::uint64_t bid);

}  // namespace mailfold::pst::ndb
