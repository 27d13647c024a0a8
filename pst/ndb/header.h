// The file header and its ROOT record: where the B-trees start, the id counters, the size and
// free-space totals, and the block encoding. Rewriting the header is the commit point.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "pst/bytes.h"
#include "pst/ndb/crypt.h"
#include "pst/ndb/format.h"

namespace mailfold::pst::ndb {

inline constexpr std::uint8_t kAMapInvalid = 0x00;
inline constexpr std::uint8_t kAMapValidOld = 0x01;  // written by older Outlook versions
inline constexpr std::uint8_t kAMapValid = 0x02;

struct Root {
  std::uint64_t fileEof = 0;
  std::uint64_t amapLast = 0;
  std::uint64_t amapFree = 0;
  std::uint64_t pmapFree = 0;
  Bref nbt;
  Bref bbt;
  std::uint8_t amapValid = kAMapInvalid;
};

struct Header {
  Format format;
  std::uint16_t version = 23;
  std::uint16_t clientVersion = 19;
  std::uint64_t bidNextB = 0;
  std::uint64_t bidNextP = 0;
  std::uint32_t unique = 0;
  std::array<std::uint32_t, 32> rgnid{};  // last index handed out, per NID type
  Root root;
  CryptMethod crypt = CryptMethod::kPermute;
  Bytes raw;  // the bytes as read: fields we do not interpret are written back unchanged

  bool amapsValid() const { return root.amapValid == kAMapValid || root.amapValid == kAMapValidOld; }
};

// Number of bytes to read from offset 0 to decode any header.
inline constexpr std::size_t kHeaderReadSize = 564;

// Decodes and checks a header (magic, version, both CRCs, sentinel, crypt method). `bytes`
// may be shorter than kHeaderReadSize only for a file that is too small, which is an error.
Header decodeHeader(ByteView bytes);

// Same checks, reported as text instead of thrown (empty when the header is sound).
std::string checkHeader(ByteView bytes);

// A header for a new, empty Unicode file (counters at their starting values, no trees yet).
Header newUnicodeHeader(CryptMethod crypt);

// Encodes a Unicode header, both CRCs included. Unknown fields come from `raw` when present.
Bytes encodeHeader(const Header& header);

}  // namespace mailfold::pst::ndb
