#include "pst/ndb/crypt.h"

#include "pst/ndb/crypt_tables.h"

namespace mailfold::pst::ndb {
namespace {

using detail::kDecodeTable;
using detail::kEncodeTable;
using detail::kMiddleTable;

// The cyclic encoding is its own inverse: the same walk through the three tables both ways.
void cyclic(std::span<std::uint8_t> data, std::uint32_t key) {
  auto w = static_cast<std::uint16_t>(key ^ (key >> 16));
  for (std::uint8_t& byte : data) {
    std::uint8_t b = byte;
    b = static_cast<std::uint8_t>(b + static_cast<std::uint8_t>(w));
    b = kEncodeTable[b];
    b = static_cast<std::uint8_t>(b + static_cast<std::uint8_t>(w >> 8));
    b = kMiddleTable[b];
    b = static_cast<std::uint8_t>(b - static_cast<std::uint8_t>(w >> 8));
    b = kDecodeTable[b];
    b = static_cast<std::uint8_t>(b - static_cast<std::uint8_t>(w));
    byte = b;
    w = static_cast<std::uint16_t>(w + 1);
  }
}

}  // namespace

bool isSupportedCrypt(std::uint8_t method) { return method <= 0x02; }

void encodePayload(CryptMethod method, std::span<std::uint8_t> data, std::uint64_t bid) {
  switch (method) {
    case CryptMethod::kNone:
      return;
    case CryptMethod::kPermute:
      for (std::uint8_t& b : data) b = kEncodeTable[b];
      return;
    case CryptMethod::kCyclic:
      cyclic(data, static_cast<std::uint32_t>(bid));
      return;
  }
}

void decodePayload(CryptMethod method, std::span<std::uint8_t> data, std::uint64_t bid) {
  switch (method) {
    case CryptMethod::kNone:
      return;
    case CryptMethod::kPermute:
      for (std::uint8_t& b : data) b = kDecodeTable[b];
      return;
    case CryptMethod::kCyclic:
      cyclic(data, static_cast<std::uint32_t>(bid));
      return;
  }
}

}  // namespace mailfold::pst::ndb
