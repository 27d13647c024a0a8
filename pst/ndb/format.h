// The two on-disk flavours of the node database and the sizes that differ between them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "pst/bytes.h"

namespace mailfold::pst::ndb {

// A (block id, file offset) pair: where a page or block lives.
struct Bref {
  std::uint64_t bid = 0;
  std::uint64_t ib = 0;
  bool operator==(const Bref&) const = default;
};

struct Format {
  bool unicode = true;  // false: the legacy 32-bit ("ANSI") layout, read-only here

  std::size_t idSize() const { return unicode ? 8 : 4; }  // BID, IB and B-tree keys
  std::size_t pageTrailerSize() const { return unicode ? 16 : 12; }
  std::size_t blockTrailerSize() const { return unicode ? 16 : 12; }
  std::uint32_t maxBlockPayload() const { return unicode ? 8176 : 8180; }
  // BTPAGE: bytes for entries, and the size of each entry kind.
  std::size_t btEntriesSize() const { return unicode ? 488 : 496; }
  std::size_t btIndexEntrySize() const { return unicode ? 24 : 12; }
  std::size_t nbtEntrySize() const { return unicode ? 32 : 16; }
  std::size_t bbtEntrySize() const { return unicode ? 24 : 12; }
  std::size_t headerSize() const { return unicode ? 564 : 512; }
};

inline constexpr std::uint32_t kPageSize = 512;
inline constexpr std::uint32_t kBlockAlign = 64;
inline constexpr std::uint32_t kMaxBlockSize = 8192;

// Block ids: bit 0 is reserved (ignored on lookup), bit 1 marks internal blocks (XBLOCK,
// XXBLOCK, SLBLOCK, SIBLOCK). New ids advance by 4.
inline constexpr std::uint64_t kBidInternal = 0x2;
inline constexpr std::uint64_t bidKey(std::uint64_t bid) { return bid & ~std::uint64_t{1}; }
inline constexpr bool bidIsInternal(std::uint64_t bid) { return (bid & kBidInternal) != 0; }

// Signature stamped into page and block trailers: ties the trailer to where it was written.
inline std::uint16_t blockSignature(std::uint64_t ib, std::uint64_t bid) {
  ib ^= bid;
  return static_cast<std::uint16_t>(static_cast<std::uint16_t>(ib >> 16) ^ static_cast<std::uint16_t>(ib));
}

}  // namespace mailfold::pst::ndb
