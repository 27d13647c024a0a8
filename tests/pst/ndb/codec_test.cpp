// The CRC and the block encodings against values computed independently (zlib's CRC-32 with
// the inversions undone; the published substitution table).
#include <gtest/gtest.h>

#include <numeric>

#include "pst/ndb/crc.h"
#include "pst/ndb/crypt.h"
#include "pst/ndb/crypt_tables.h"
#include "pst/ndb/page.h"

namespace mailfold::pst::ndb {
namespace {

TEST(Codec, CrcMatchesTheUninvertedCrc32) {
  const std::string s = "123456789";
  EXPECT_EQ(crc32(ByteView(reinterpret_cast<const std::uint8_t*>(s.data()), s.size())), 0x2DFD2D88u);
  EXPECT_EQ(crc32(ByteView()), 0u);
}

// Eight bytes per step with a byte-wise tail: lengths and starting offsets that are not
// multiples of eight, and a CRC carried from one piece to the next, against zlib's values.
TEST(Codec, CrcOfLongUnalignedAndChainedData) {
  Bytes d(1000);
  for (std::size_t i = 0; i < d.size(); ++i) d[i] = static_cast<std::uint8_t>(i * 37 + 11);
  const ByteView all(d);
  EXPECT_EQ(crc32(all), 0xC59B4D9Du);
  EXPECT_EQ(crc32(all.subspan(3, 995)), 0x027193ADu);
  EXPECT_EQ(crc32(all.first(13), 0x12345678u), 0xF9E90528u);
  for (std::size_t cut : {1u, 7u, 8u, 9u, 500u, 999u})
    EXPECT_EQ(crc32(all.subspan(cut), crc32(all.first(cut))), 0xC59B4D9Du) << "split at " << cut;
}

TEST(Codec, PermuteTablesAreInversePermutations) {
  std::array<bool, 256> seen{};
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(detail::kDecodeTable[detail::kEncodeTable[i]], i);
    seen[detail::kEncodeTable[i]] = true;
  }
  EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 256);
  EXPECT_EQ(detail::kEncodeTable[0], 65);  // first entry of the published table
}

TEST(Codec, EncodingsRoundTripAndDependOnTheirKey) {
  Bytes plain(1000);
  std::iota(plain.begin(), plain.end(), 0);
  for (CryptMethod m : {CryptMethod::kNone, CryptMethod::kPermute, CryptMethod::kCyclic}) {
    Bytes b = plain;
    encodePayload(m, b, 0x1234);
    if (m != CryptMethod::kNone) {
      EXPECT_NE(b, plain);
    }
    decodePayload(m, b, 0x1234);
    EXPECT_EQ(b, plain);
  }
  Bytes a = plain, b = plain;
  encodePayload(CryptMethod::kCyclic, a, 0x1234);
  encodePayload(CryptMethod::kCyclic, b, 0x1238);
  EXPECT_NE(a, b);  // keyed by the block id
  EXPECT_FALSE(isSupportedCrypt(0x10));  // protected (WIP) stores are refused, not misread
}

TEST(Codec, MapPagesFallDueAtTheirIntervals) {
  EXPECT_TRUE(sectionMaps(0).pmap);
  EXPECT_FALSE(sectionMaps(1).pmap);
  EXPECT_TRUE(sectionMaps(8).pmap);
  EXPECT_FALSE(sectionMaps(127).fmap);
  EXPECT_TRUE(sectionMaps(128).fmap);            // first FMap after the header's 128 AMaps
  EXPECT_TRUE(sectionMaps(128 + 496).fmap);
  EXPECT_FALSE(sectionMaps(8191).fpmap);
  EXPECT_TRUE(sectionMaps(8192).fpmap);          // first FPMap after the header's 1,024 PMaps
  EXPECT_EQ(sectionMaps(128).pageCount(), 3u);   // AMap, PMap, FMap
  EXPECT_EQ(amapOffset(1), 0x4400u + 253952u);
}

// A density list entry is one little-endian word: the AMap index in the low 20 bits, the free
// slots in the high 12 (fields listed first take the low bits, as in a NID).
TEST(Codec, DensityListEntriesPackIndexLowAndFreeSlotsHigh) {
  DListPage d;
  d.flags = kDListBackfillComplete;
  d.currentPage = 5;
  d.entries = {{1, 0xABC}, {kDListMaxAMapIndex, 1}};
  const Bytes page = encodeDListPage(d, 0x4CD);
  EXPECT_EQ(Bytes(page.begin(), page.begin() + 16), (Bytes{1, 2, 0, 0, 5, 0, 0, 0, 0x01, 0x00, 0xC0, 0xAB, 0xFF, 0xFF, 0x1F, 0x00}));
  EXPECT_EQ(checkPage(Format{}, page, PageType::kDList, 0x4CD, kDListOffset), "");
  const DListPage back = decodeDListPage(Format{}, page);
  EXPECT_EQ(back.flags, d.flags);
  EXPECT_EQ(back.currentPage, 5u);
  EXPECT_EQ(back.entries, d.entries);
  d.entries.assign(120, {});  // one more than a Unicode page holds
  EXPECT_THROW(encodeDListPage(d, 1), Error);
}

}  // namespace
}  // namespace mailfold::pst::ndb
