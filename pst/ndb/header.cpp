#include "pst/ndb/header.h"

#include <algorithm>

#include "pst/ndb/crc.h"

namespace mailfold::pst::ndb {
namespace {

constexpr std::uint8_t kMagic[4] = {0x21, 0x42, 0x44, 0x4E};  // "!BDN"
constexpr std::uint8_t kMagicClient[2] = {0x53, 0x4D};         // "SM"
constexpr std::size_t kPartialCrcStart = 8, kPartialCrcLength = 471;
constexpr std::size_t kFullCrcLength = 516;
constexpr std::size_t kUnicodeFullCrcOffset = 524;

// Field offsets of the two layouts.
struct Layout {
  std::size_t bidNextB, bidNextP, unique, rgnid, root, sentinel, crypt;
};
constexpr Layout kUnicode{516, 32, 40, 44, 180, 512, 513};
constexpr Layout kAnsi{24, 28, 32, 36, 164, 460, 461};

bool isUnicodeVersion(std::uint16_t v) { return v >= 21 && v <= 23; }
bool isAnsiVersion(std::uint16_t v) { return v == 14 || v == 15; }

// Returns the problem with the header bytes, or an empty string.
std::string problem(ByteView b) {
  if (b.size() < 512) return "file is too small to hold a header (" + std::to_string(b.size()) + " bytes)";
  if (!std::equal(kMagic, kMagic + 4, b.begin())) return "header magic is not \"!BDN\": not a PST file";
  if (b[8] != kMagicClient[0] || b[9] != kMagicClient[1])
    return "header client magic is not \"SM\" (an OST or other file, not a PST store)";
  const auto version = load<std::uint16_t>(&b[10]);
  if (version == 36 || version == 37)
    return "unsupported PST version " + std::to_string(version) + " (4 KB pages)";
  if (!isUnicodeVersion(version) && !isAnsiVersion(version))
    return "unknown PST version " + std::to_string(version);
  const bool unicode = isUnicodeVersion(version);
  if (unicode && b.size() < kHeaderReadSize) return "file is too small to hold a Unicode header";
  const auto storedPartial = load<std::uint32_t>(&b[4]);
  const auto partial = crc32(b.subspan(kPartialCrcStart, kPartialCrcLength));
  if (storedPartial != partial)
    return "header partial CRC mismatch (stored " + hex(storedPartial) + ", computed " + hex(partial) + ")";
  if (unicode) {
    const auto storedFull = load<std::uint32_t>(&b[kUnicodeFullCrcOffset]);
    if (storedFull != crc32(b.subspan(kPartialCrcStart, kFullCrcLength))) return "header full CRC mismatch";
  }
  const Layout& l = unicode ? kUnicode : kAnsi;
  if (b[l.sentinel] != 0x80) return "header sentinel byte is not 0x80";
  if (!isSupportedCrypt(b[l.crypt]))
    return "unsupported block encoding " + std::to_string(b[l.crypt]) + " (only none, permute and cyclic are known)";
  return {};
}

}  // namespace

std::string checkHeader(ByteView bytes) { return problem(bytes); }

Header decodeHeader(ByteView b) {
  if (std::string p = problem(b); !p.empty()) throw Error(ErrorKind::kCorrupt, "bad PST header: " + p);
  Header h;
  h.version = load<std::uint16_t>(&b[10]);
  h.clientVersion = load<std::uint16_t>(&b[12]);
  h.format.unicode = isUnicodeVersion(h.version);
  const Layout& l = h.format.unicode ? kUnicode : kAnsi;
  auto id = [&](std::size_t off) -> std::uint64_t {
    return h.format.unicode ? load<std::uint64_t>(&b[off]) : load<std::uint32_t>(&b[off]);
  };
  const std::size_t w = h.format.idSize();
  h.bidNextB = id(l.bidNextB);
  h.bidNextP = id(l.bidNextP);
  h.unique = load<std::uint32_t>(&b[l.unique]);
  for (std::size_t i = 0; i < 32; ++i) h.rgnid[i] = load<std::uint32_t>(&b[l.rgnid + 4 * i]);
  std::size_t r = l.root + 4;  // skip dwReserved
  h.root.fileEof = id(r);
  h.root.amapLast = id(r + w);
  h.root.amapFree = id(r + 2 * w);
  h.root.pmapFree = id(r + 3 * w);
  h.root.nbt = {id(r + 4 * w), id(r + 5 * w)};
  h.root.bbt = {id(r + 6 * w), id(r + 7 * w)};
  h.root.amapValid = b[r + 8 * w];
  h.crypt = static_cast<CryptMethod>(b[l.crypt]);
  h.raw.assign(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(h.format.headerSize()));
  return h;
}

Header newUnicodeHeader(CryptMethod crypt) {
  Header h;
  h.format.unicode = true;
  h.version = 23;
  h.clientVersion = 19;
  h.crypt = crypt;
  h.bidNextB = 4;
  h.bidNextP = 1;
  h.unique = 1;
  for (std::size_t t = 0; t < 32; ++t) h.rgnid[t] = 0x400;
  h.rgnid[0x03] = 0x4000;   // search folders
  h.rgnid[0x04] = 0x10000;  // normal messages
  h.rgnid[0x08] = 0x8000;   // associated (FAI) messages
  return h;
}

Bytes encodeHeader(const Header& h) {
  if (!h.format.unicode) throw Error(ErrorKind::kRefused, "writing the 32-bit (ANSI) layout is not supported");
  Bytes b(kHeaderReadSize, 0);
  if (h.raw.size() == kHeaderReadSize) {
    b = h.raw;
  } else {
    std::fill(b.begin() + 256, b.begin() + 512, 0xFF);  // legacy free maps: unused, all set
    b[14] = 0x01;                                        // bPlatformCreate
    b[15] = 0x01;                                        // bPlatformAccess
  }
  std::copy(kMagic, kMagic + 4, b.begin());
  b[8] = kMagicClient[0];
  b[9] = kMagicClient[1];
  store<std::uint16_t>(&b[10], h.version);
  store<std::uint16_t>(&b[12], h.clientVersion);
  const Layout& l = kUnicode;
  store<std::uint64_t>(&b[l.bidNextP], h.bidNextP);
  store<std::uint32_t>(&b[l.unique], h.unique);
  for (std::size_t i = 0; i < 32; ++i) store<std::uint32_t>(&b[l.rgnid + 4 * i], h.rgnid[i]);
  std::size_t r = l.root + 4;
  store<std::uint64_t>(&b[r], h.root.fileEof);
  store<std::uint64_t>(&b[r + 8], h.root.amapLast);
  store<std::uint64_t>(&b[r + 16], h.root.amapFree);
  store<std::uint64_t>(&b[r + 24], h.root.pmapFree);
  store<std::uint64_t>(&b[r + 32], h.root.nbt.bid);
  store<std::uint64_t>(&b[r + 40], h.root.nbt.ib);
  store<std::uint64_t>(&b[r + 48], h.root.bbt.bid);
  store<std::uint64_t>(&b[r + 56], h.root.bbt.ib);
  b[r + 64] = h.root.amapValid;
  b[l.sentinel] = 0x80;
  b[l.crypt] = static_cast<std::uint8_t>(h.crypt);
  store<std::uint64_t>(&b[l.bidNextB], h.bidNextB);
  store<std::uint32_t>(&b[4], crc32(ByteView(b).subspan(kPartialCrcStart, kPartialCrcLength)));
  store<std::uint32_t>(&b[kUnicodeFullCrcOffset], crc32(ByteView(b).subspan(kPartialCrcStart, kFullCrcLength)));
  return b;
}

}  // namespace mailfold::pst::ndb
