// Entry ids and the name-to-id map: the byte forms other programs read.
#include <gtest/gtest.h>

#include <set>

#include "pst/messaging/entry_id.h"
#include "pst/messaging/name_to_id_map.h"
#include "pst/messaging/property_tags.h"
#include "pst/ltp/property_context.h"
#include "pst/ltp/utf16.h"
#include "pst/ndb/crc.h"
#include "pst/messaging/store.h"
#include "pst/messaging/store_tags.h"
#include "pst/ndb/node_database.h"
#include "support/paths.h"

namespace mailfold::pst {
namespace {

Bytes fromHex(const std::string& hex) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

TEST(EntryId, MatchesTheBytesOutlookRecordsForItsIpmSubtree) {
  // Taken from the store object of an Outlook 2010 store: its record key and PR_IPM_SUBTREE_ENTRYID.
  const Bytes recordKey = fromHex("c934bb2081049e45947509ae9572d3da");
  Guid uid;
  std::copy(recordKey.begin(), recordKey.end(), uid.bytes.begin());
  const Bytes expected = fromHex("00000000c934bb2081049e45947509ae9572d3da22800000");
  EXPECT_EQ(encodeEntryId({uid, 0x8022}), expected);
  EXPECT_EQ(nidOfOwnEntryId(expected, uid), 0x8022u);
}

TEST(EntryId, RejectsForeignAndMalformedIds) {
  const Guid uid = randomGuid();
  Bytes id = encodeEntryId({uid, 0x80C2});
  Guid other = uid;
  other.bytes[3] ^= 1;
  EXPECT_FALSE(nidOfOwnEntryId(id, other).has_value());
  Bytes flagged = id;
  flagged[0] = 1;
  EXPECT_FALSE(nidOfOwnEntryId(flagged, uid).has_value());
  id.push_back(0);  // Exchange long-term ids are longer
  EXPECT_FALSE(nidOfOwnEntryId(id, uid).has_value());
}

TEST(EntryId, RandomKeysDiffer) {
  std::set<Bytes> keys;
  for (int i = 0; i < 100; ++i) keys.insert(randomKey());
  EXPECT_EQ(keys.size(), 100u);
}

NamedPropertyKey lid(const Guid& g, std::uint32_t id) { return NamedPropertyKey{g, id}; }
NamedPropertyKey named(const Guid& g, std::string name) { return NamedPropertyKey{g, std::move(name)}; }

const Guid kPsetCommon{{0x08, 0x20, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

TEST(NameToIdMap, AssignsIdsInOrderAndFindsThemAgain) {
  NameToIdMap map;
  EXPECT_EQ(map.add(lid(kPsetCommon, 0x8580)), 0x8000);
  EXPECT_EQ(map.add(named(kPsInternetHeaders, "x-mailer")), 0x8001);
  EXPECT_EQ(map.add(named(kPsPublicStrings, "Keywords")), 0x8002);
  EXPECT_EQ(map.add(lid(kPsetCommon, 0x8580)), 0x8000);  // known names keep their id
  EXPECT_EQ(map.find(named(kPsInternetHeaders, "x-mailer")), 0x8001);
  EXPECT_FALSE(map.find(named(kPsInternetHeaders, "X-Mailer")).has_value());  // names are case-sensitive
  EXPECT_EQ(map.nameOf(0x8002), named(kPsPublicStrings, "Keywords"));
  EXPECT_FALSE(map.nameOf(0x8003).has_value());
  EXPECT_FALSE(map.nameOf(0x0037).has_value());
}

TEST(NameToIdMap, EncodesStreamsInTheStoredLayout) {
  NameToIdMap map;
  map.add(lid(kPsMapi, 0x1234));
  map.add(named(kPsetCommon, "abc"));
  map.add(named(kPsPublicStrings, "de"));
  // Well-known sets are not stored; others get index 3 on.
  EXPECT_EQ(map.guidStream(), Bytes(kPsetCommon.bytes.begin(), kPsetCommon.bytes.end()));
  // Each name: 4-byte byte length, UTF-16 text, padded to 4 bytes.
  const Bytes strings = map.stringStream();
  EXPECT_EQ(strings, fromHex("060000006100620063000000" "0400000064006500"));
  EXPECT_EQ(map.entryStream(), fromHex("34120000" "0200" "0000"    // numeric, PS_MAPI (1 << 1)
                                       "00000000" "0700" "0100"    // string at 0, GUID index 3
                                       "0c000000" "0500" "0200")); // string at 12, PS_PUBLIC_STRINGS
}

TEST(NameToIdMap, HashBucketsHoldEveryEntryWhereTheFormulaPutsIt) {
  NameToIdMap map;
  for (std::uint32_t i = 0; i < 300; ++i) map.add(lid(kPsetCommon, 0x8000 + i));
  for (int i = 0; i < 300; ++i) map.add(named(kPsInternetHeaders, "x-header-" + std::to_string(i)));
  const auto buckets = map.buckets();
  std::size_t records = 0;
  for (const auto& [propId, bytes] : buckets) {
    ASSERT_GE(propId, kNameidBucketBase);
    ASSERT_LT(propId, kNameidBucketBase + map.bucketCount());
    ASSERT_FALSE(bytes.empty());
    ASSERT_EQ(bytes.size() % 8, 0u);
    for (std::size_t at = 0; at < bytes.size(); at += 8, ++records) {
      const auto value = load<std::uint32_t>(bytes.data() + at);
      const auto kind = load<std::uint16_t>(bytes.data() + at + 4);
      EXPECT_EQ(kNameidBucketBase + NameToIdMap::bucketOf(value, kind, map.bucketCount()), propId);
      const auto key = map.nameOf(static_cast<std::uint16_t>(kFirstNamedPropId + load<std::uint16_t>(bytes.data() + at + 6)));
      ASSERT_TRUE(key.has_value());
      if (const auto* s = std::get_if<std::string>(&key->name)) {
        EXPECT_EQ(kind & 1, 1);
        EXPECT_EQ(value, ndb::crc32(ltp::utf8ToUtf16le(*s)));  // string records carry the name's CRC
      } else {
        EXPECT_EQ(value, std::get<std::uint32_t>(key->name));
      }
    }
  }
  EXPECT_EQ(records, 600u);
}

TEST(NameToIdMap, DecodesWhatItEncodedAndKeepsAdding) {
  NameToIdMap map;
  map.add(lid(kPsetCommon, 0x8510));
  map.add(named(kPsInternetHeaders, "Ünïcödé-name"));
  map.add(named(kPsPublicStrings, ""));
  NameToIdMap back = NameToIdMap::decode(map.guidStream(), map.entryStream(), map.stringStream(), map.bucketCount());
  EXPECT_EQ(back.size(), 3u);
  EXPECT_EQ(back.find(named(kPsInternetHeaders, "Ünïcödé-name")), 0x8001);
  EXPECT_EQ(back.find(named(kPsPublicStrings, "")), 0x8002);
  EXPECT_EQ(back.add(named(kPsInternetHeaders, "next")), 0x8003);
  EXPECT_EQ(back.add(lid(kPsetCommon, 0x8510)), 0x8000);
  EXPECT_EQ(back.guidStream().size(), 32u);  // PS_INTERNET_HEADERS and PSETID_Common
}

TEST(NameToIdMap, RejectsStreamsThatPointOutside) {
  NameToIdMap map;
  map.add(named(kPsInternetHeaders, "abc"));
  const Bytes guids = map.guidStream(), entries = map.entryStream(), strings = map.stringStream();
  EXPECT_THROW(NameToIdMap::decode(guids, entries, ByteView(strings).first(6), 251), Error);  // name cut short
  EXPECT_THROW(NameToIdMap::decode(guids, entries, ByteView(strings).first(2), 251), Error);  // length cut short
  EXPECT_THROW(NameToIdMap::decode(Bytes{}, entries, strings, 251), Error);                   // GUID missing
  EXPECT_THROW(NameToIdMap::decode(guids, ByteView(entries).first(7), strings, 251), Error);
  EXPECT_THROW(NameToIdMap::decode(guids, entries, strings, 0), Error);
  Bytes twice = entries;
  twice.insert(twice.end(), entries.begin(), entries.end());  // the same property index twice
  EXPECT_THROW(NameToIdMap::decode(guids, twice, strings, 251), Error);
  Bytes ascii = fromHex("03000000616263");  // an 8-bit name, as some add-ons stored them
  EXPECT_EQ(NameToIdMap::decode(guids, entries, ascii, 251).nameOf(0x8000)->name,
            (std::variant<std::uint32_t, std::string>{std::string("abc")}));
}

TEST(NameToIdMap, ReadsOutlooksMapAndKeepsItsIds) {
  MAILFOLD_REQUIRE_SHARED();
  // 195 names in 14 property sets, string and numeric ones, as Outlook 2010 left them.
  auto db = ndb::NodeDatabase::open((test::sharedDir() / "samples/pst/aranetic-flags-jane-doe.pst").string());
  auto node = db->openNode(kNidNameToIdMap);
  ltp::PropertyContext pc = ltp::PropertyContext::open(*node);
  auto stream = [&pc](PropTag tag) { return std::get<Bytes>(*pc.get(tag)); };
  NameToIdMap map = NameToIdMap::decode(stream(kPrNameidStreamGuid), stream(kPrNameidStreamEntry),
                                        stream(kPrNameidStreamString),
                                        static_cast<std::uint32_t>(std::get<std::int32_t>(*pc.get(kPrNameidBucketCount))));
  EXPECT_EQ(map.size(), 195u);
  const auto contentClass = map.find(named(kPsInternetHeaders, "content-class"));
  ASSERT_TRUE(contentClass.has_value());
  EXPECT_EQ(map.nameOf(*contentClass), named(kPsInternetHeaders, "content-class"));
  EXPECT_EQ(map.add(named(kPsInternetHeaders, "content-class")), *contentClass);
  EXPECT_EQ(map.add(named(kPsInternetHeaders, "x-new-header")), 0x8000 + 195);
}

}  // namespace
}  // namespace mailfold::pst
