// Encodings of data-block payloads. Only external data blocks are encoded; XBLOCKs, SLBLOCKs,
// pages and trailers never are. Both functions work in place.
#pragma once

#include <cstdint>
#include <span>

namespace mailfold::pst::ndb {

enum class CryptMethod : std::uint8_t {
  kNone = 0x00,
  kPermute = 0x01,  // "compressible": a fixed byte substitution
  kCyclic = 0x02,   // "high": substitution keyed by the block id
};

// True for the methods this engine reads and writes.
bool isSupportedCrypt(std::uint8_t method);

// `bid` keys the cyclic encoding (its low 32 bits); the other methods ignore it.
void encodePayload(CryptMethod method, std::span<std::uint8_t> data, std::uint64_t bid);
void decodePayload(CryptMethod method, std::span<std::uint8_t> data, std::uint64_t bid);

}  // namespace mailfold::pst::ndb
