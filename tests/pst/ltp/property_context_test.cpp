#include "pst/ltp/property_context.h"

#include <gtest/gtest.h>

#include <random>

#include "memory_node.h"
#include "pst/ltp/utf16.h"
#include "outlook_samples.h"

namespace mailfold::pst::ltp {
namespace {

using test::MemoryNode;

constexpr PropTag kDisplayName = makeTag(0x3001, kPtUnicode);
constexpr PropTag kRecordKey = makeTag(0x0FF9, kPtBinary);
constexpr PropTag kAttachData = makeTag(0x3701, kPtBinary);
constexpr PropTag kBody = makeTag(0x1000, kPtUnicode);

// A large binary produced on demand, in odd-sized pieces, so that nothing holds it whole.
class PatternSource final : public ByteSource {
 public:
  PatternSource(std::uint64_t size, std::uint64_t stopAt = UINT64_MAX) : size_(size), stopAt_(stopAt) {}
  std::uint64_t size() const override { return size_; }
  std::size_t read(std::uint64_t offset, std::span<std::uint8_t> out) const override {
    const std::uint64_t end = std::min(size_, stopAt_);
    if (offset >= end) return 0;
    const std::size_t n = std::min<std::uint64_t>({out.size(), end - offset, 5000});
    for (std::size_t i = 0; i < n; ++i) out[i] = byteAt(offset + i);
    return n;
  }
  static std::uint8_t byteAt(std::uint64_t at) { return static_cast<std::uint8_t>((at * 2654435761u) >> 13); }

 private:
  std::uint64_t size_;
  std::uint64_t stopAt_;
};

std::uint32_t recordHnid(MemoryNode& node, std::uint16_t id) {
  Heap heap = Heap::open(node.data());
  Bth tree(heap, heap.userRoot());
  const auto data = tree.find(Bth::encodeInt(id, 2));
  return data ? load<std::uint32_t>(data->data() + 2) : 0xFFFFFFFF;
}

TEST(PropertyContext, ReadsOutlooksMessageStoreProperties) {
  MemoryNode node(0x21);
  node.data().blocks.emplace_back(std::begin(test::kOutlookStorePc), std::end(test::kOutlookStorePc));
  PropertyContext pc = PropertyContext::open(node);
  const auto all = pc.readAll();
  EXPECT_EQ(all.size(), 11u);
  EXPECT_EQ(std::get<std::string>(all.at(kDisplayName)), "UNICODE1");
  EXPECT_EQ(std::get<std::int32_t>(all.at(makeTag(0x35DF, kPtInt32))), 0x89);
  EXPECT_EQ(std::get<bool>(all.at(makeTag(0x6633, kPtBoolean))), true);
  const Bytes recordKey = {0x22, 0x9D, 0xB5, 0x0A, 0xDC, 0xD9, 0x94, 0x43, 0x85, 0xDE, 0x90, 0xAE, 0xB0, 0x7D, 0x12, 0x70};
  EXPECT_EQ(std::get<Bytes>(all.at(kRecordKey)), recordKey);
  const Bytes ipmSubtree = std::get<Bytes>(all.at(makeTag(0x35E0, kPtBinary)));
  ASSERT_EQ(ipmSubtree.size(), 24u);
  EXPECT_EQ(load<std::uint32_t>(ipmSubtree.data() + 20), 0x8022u);
  EXPECT_FALSE(pc.get(makeTag(0x3001, kPtString8))) << "same id, other type";
  EXPECT_EQ(pc.tagOf(0x3001), kDisplayName);
}

TEST(PropertyContext, ValuesOfEveryTypeRoundTripThroughTheRightStorage) {
  MemoryNode node;
  {
    PropertyContext pc = PropertyContext::create(node);
    pc.set(makeTag(0x0001, kPtInt16), std::int16_t{-7});
    pc.set(makeTag(0x0002, kPtInt32), std::int32_t{-123456});
    pc.set(makeTag(0x0003, kPtBoolean), true);
    pc.set(makeTag(0x0004, kPtFloat), 1.5);
    pc.set(makeTag(0x0005, kPtDouble), 3.25);
    pc.set(makeTag(0x0006, kPtInt64), std::int64_t{-1} << 40);
    pc.set(makeTag(0x0007, kPtSysTime), FileTime{0x01D9000000000000});
    Guid g;
    for (int i = 0; i < 16; ++i) g.bytes[i] = static_cast<std::uint8_t>(i * 3);
    pc.set(makeTag(0x0008, kPtGuid), g);
    pc.set(makeTag(0x0009, kPtUnicode), std::string("Grüße, 日本 😀"));
    pc.set(makeTag(0x000A, kPtString8), std::string("plain"));
    pc.set(makeTag(0x000B, kPtBinary), Bytes{1, 2, 3});
    pc.set(makeTag(0x000C, kPtMvInt32), std::vector<std::int32_t>{1, -2, 3});
    pc.set(makeTag(0x000D, kPtMvInt64), std::vector<std::int64_t>{5, 6});
    pc.set(makeTag(0x000E, kPtMvUnicode), std::vector<std::string>{"a", "", "ç"});
    pc.set(makeTag(0x000F, kPtMvBinary), std::vector<Bytes>{{1}, {}, {2, 3}});
    pc.set(makeTag(0x0010, kPtUnicode), std::string());
    pc.set(kBody, std::string(5000, 'x'));  // 10000 bytes of UTF-16: a sub-node
  }
  PropertyContext pc = PropertyContext::open(node);
  EXPECT_EQ(pc.tags().size(), 17u);
  EXPECT_EQ(std::get<std::int16_t>(*pc.get(makeTag(0x0001, kPtInt16))), -7);
  EXPECT_EQ(std::get<std::int32_t>(*pc.get(makeTag(0x0002, kPtInt32))), -123456);
  EXPECT_EQ(std::get<bool>(*pc.get(makeTag(0x0003, kPtBoolean))), true);
  EXPECT_EQ(std::get<double>(*pc.get(makeTag(0x0004, kPtFloat))), 1.5);
  EXPECT_EQ(std::get<double>(*pc.get(makeTag(0x0005, kPtDouble))), 3.25);
  EXPECT_EQ(std::get<std::int64_t>(*pc.get(makeTag(0x0006, kPtInt64))), std::int64_t{-1} << 40);
  EXPECT_EQ(std::get<FileTime>(*pc.get(makeTag(0x0007, kPtSysTime))).ticks, 0x01D9000000000000u);
  EXPECT_EQ(std::get<Guid>(*pc.get(makeTag(0x0008, kPtGuid))).bytes[5], 15);
  EXPECT_EQ(std::get<std::string>(*pc.get(makeTag(0x0009, kPtUnicode))), "Grüße, 日本 😀");
  EXPECT_EQ(std::get<std::string>(*pc.get(makeTag(0x000A, kPtString8))), "plain");
  EXPECT_EQ(std::get<Bytes>(*pc.get(makeTag(0x000B, kPtBinary))), (Bytes{1, 2, 3}));
  EXPECT_EQ(std::get<std::vector<std::int32_t>>(*pc.get(makeTag(0x000C, kPtMvInt32))), (std::vector<std::int32_t>{1, -2, 3}));
  EXPECT_EQ(std::get<std::vector<std::int64_t>>(*pc.get(makeTag(0x000D, kPtMvInt64))), (std::vector<std::int64_t>{5, 6}));
  EXPECT_EQ(std::get<std::vector<std::string>>(*pc.get(makeTag(0x000E, kPtMvUnicode))), (std::vector<std::string>{"a", "", "ç"}));
  EXPECT_EQ(std::get<std::vector<Bytes>>(*pc.get(makeTag(0x000F, kPtMvBinary))), (std::vector<Bytes>{{1}, {}, {2, 3}}));
  EXPECT_EQ(std::get<std::string>(*pc.get(makeTag(0x0010, kPtUnicode))), "");
  EXPECT_EQ(std::get<std::string>(*pc.get(kBody)), std::string(5000, 'x'));

  // Where each value went: small fixed values inline, wider ones and short variable ones in
  // the heap, empty ones as HNID 0, large ones in a sub-node.
  EXPECT_EQ(recordHnid(node, 0x0002), static_cast<std::uint32_t>(-123456));
  EXPECT_EQ(recordHnid(node, 0x0001), 0xFFF9u);
  EXPECT_EQ(recordHnid(node, 0x0003), 1u);
  EXPECT_TRUE(isHid(recordHnid(node, 0x0006)));
  EXPECT_TRUE(isHid(recordHnid(node, 0x0008)));
  EXPECT_TRUE(isHid(recordHnid(node, 0x0009)));
  EXPECT_EQ(recordHnid(node, 0x0010), 0u);
  const std::uint32_t bodyNid = recordHnid(node, 0x1000);
  EXPECT_FALSE(isHid(bodyNid));
  EXPECT_TRUE(node.hasSubnode(bodyNid));
  EXPECT_EQ(pc.storedSize(kBody), 10000u);
}

TEST(PropertyContext, ReplacingAndErasingFreesTheOldStorage) {
  MemoryNode node;
  PropertyContext pc = PropertyContext::create(node);
  pc.set(kBody, std::string(4000, 'a'));  // sub-node
  const std::uint32_t nid = recordHnid(node, 0x1000);
  ASSERT_TRUE(node.hasSubnode(nid));
  pc.set(kBody, std::string("short"));  // back into the heap
  EXPECT_FALSE(node.hasSubnode(nid)) << "the old sub-node must go";
  EXPECT_TRUE(isHid(recordHnid(node, 0x1000)));
  pc.set(kDisplayName, std::string("one"));
  const std::uint32_t hid = recordHnid(node, 0x3001);
  pc.set(kDisplayName, std::string("one, longer"));
  EXPECT_EQ(recordHnid(node, 0x3001), hid) << "a heap value that still fits keeps its place";
  pc.set(makeTag(0x3001, kPtInt32), std::int32_t{5});  // same id, another type: replaces
  EXPECT_EQ(pc.tags().size(), 2u);
  EXPECT_EQ(std::get<std::int32_t>(*pc.get(makeTag(0x3001, kPtInt32))), 5);

  // Every heap item but the tree's own is freed once all properties are gone.
  EXPECT_TRUE(pc.erase(kBody));
  EXPECT_FALSE(pc.erase(kBody));
  EXPECT_TRUE(pc.erase(makeTag(0x3001, kPtInt32)));
  EXPECT_TRUE(pc.tags().empty());
  EXPECT_TRUE(node.subnodeIds().empty());
  Heap heap = Heap::open(node.data());
  EXPECT_EQ(heap.read(heap.userRoot()), (Bytes{0xB5, 2, 6, 0, 0, 0, 0, 0})) << "empty tree, root 0";
}

TEST(PropertyContext, FiftyMegabytesStreamInFullBlocksAndReadBackInChunks) {
  MemoryNode node;
  PropertyContext pc = PropertyContext::create(node);
  constexpr std::uint64_t kSize = 50ull * 1024 * 1024 + 123;
  pc.set(kAttachData, std::shared_ptr<const ByteSource>(std::make_shared<PatternSource>(kSize)));
  const std::uint32_t nid = recordHnid(node, 0x3701);
  auto sub = node.openSubnode(nid);
  auto& data = static_cast<test::MemoryNode&>(*sub).data();
  EXPECT_EQ(data.size(), kSize);
  EXPECT_EQ(data.blockCount(), (kSize + ndb::kMaxBlockPayload - 1) / ndb::kMaxBlockPayload);
  EXPECT_TRUE(data.blocksFull());
  EXPECT_EQ(pc.storedSize(kAttachData), kSize);

  auto stream = pc.openStream(kAttachData);
  ASSERT_EQ(stream->size(), kSize);
  Bytes chunk(100000);
  std::uint64_t offset = 0, mismatches = 0;
  while (offset < kSize) {
    const std::size_t n = stream->read(offset, chunk);
    ASSERT_GT(n, 0u);
    for (std::size_t i = 0; i < n; ++i) mismatches += chunk[i] != PatternSource::byteAt(offset + i);
    offset += n;
  }
  EXPECT_EQ(mismatches, 0u);
  EXPECT_EQ(stream->read(kSize, chunk), 0u);

  // Replacing the value frees the old sub-node; a small stream goes to the heap.
  pc.set(kAttachData, std::shared_ptr<const ByteSource>(std::make_shared<PatternSource>(9000)));
  const std::uint32_t second = recordHnid(node, 0x3701);
  EXPECT_FALSE(node.hasSubnode(nid));
  EXPECT_EQ(node.subnodeIds(), std::vector<ndb::Nid>{second});
  EXPECT_EQ(pc.storedSize(kAttachData), 9000u);
  pc.set(kAttachData, std::shared_ptr<const ByteSource>(std::make_shared<PatternSource>(100)));
  EXPECT_TRUE(isHid(recordHnid(node, 0x3701)));
  EXPECT_TRUE(node.subnodeIds().empty());
}

TEST(PropertyContext, BadValuesAndDamagedStoresGiveErrors) {
  MemoryNode node;
  PropertyContext pc = PropertyContext::create(node);
  EXPECT_THROW(pc.set(makeTag(0x0001, kPtInt32), std::string("x")), Error);
  EXPECT_THROW(pc.set(makeTag(0x0001, kPtString8),
                      std::shared_ptr<const ByteSource>(std::make_shared<PatternSource>(10))),
               Error);
  // A source that ends before its announced size is an error, not a short value, and the
  // value stored before stays as it was.
  pc.set(kAttachData, std::shared_ptr<const ByteSource>(std::make_shared<PatternSource>(30000)));
  const auto before = node.subnodeIds();
  EXPECT_THROW(pc.set(kAttachData, std::shared_ptr<const ByteSource>(std::make_shared<PatternSource>(50000, 20000))),
               Error);
  EXPECT_EQ(node.subnodeIds(), before);
  EXPECT_EQ(pc.storedSize(kAttachData), 30000u);
  try {
    pc.set(makeTag(0x0042, kPtInt32), std::string("x"));
    ADD_FAILURE() << "a string for an integer property must be refused";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("0x0042"), std::string::npos) << e.what();
  }

  MemoryNode table;
  table.data().blocks.emplace_back(std::begin(test::kOutlookHierarchyTc), std::end(test::kOutlookHierarchyTc));
  EXPECT_THROW(PropertyContext::open(table), Error) << "a table is not a property context";

  // A record pointing to a sub-node that does not exist.
  MemoryNode dangling;
  {
    PropertyContext p = PropertyContext::create(dangling);
    p.set(kBody, std::string(4000, 'z'));
  }
  dangling.deleteSubnode(dangling.subnodeIds().front());
  PropertyContext p = PropertyContext::open(dangling);
  EXPECT_THROW(p.get(kBody), Error);
}

TEST(PropertyContext, RandomDamageGivesErrorsNotCrashes) {
  const Bytes good(std::begin(test::kOutlookStorePc), std::end(test::kOutlookStorePc));
  std::mt19937 rng(5);
  int opened = 0;
  for (int round = 0; round < 3000; ++round) {
    Bytes raw = good;
    for (int k = 0; k < 3; ++k) raw[rng() % raw.size()] = static_cast<std::uint8_t>(rng());
    MemoryNode node(0x21);
    node.data().blocks.push_back(raw);
    try {
      PropertyContext pc = PropertyContext::open(node);
      ++opened;
      for (PropTag tag : pc.tags()) {
        try {
          (void)pc.get(tag);
        } catch (const Error&) {
        }
      }
    } catch (const Error&) {
    }
  }
  EXPECT_GT(opened, 100) << "most single-byte damage leaves the header readable";
}

TEST(PropertyValues, EncodingsMatchTheStoredForms) {
  EXPECT_EQ(encodeValue(kPtUnicode, std::string("A€😀")), (Bytes{0x41, 0, 0xAC, 0x20, 0x3D, 0xD8, 0x00, 0xDE}));
  EXPECT_EQ(std::get<std::string>(decodeValue(kPtUnicode, Bytes{0x41, 0, 0x00, 0xD8, 0x42, 0})), "A\xEF\xBF\xBD" "B")
      << "an unpaired surrogate becomes U+FFFD";
  // Variable-size multi-valued: count, offsets from the start, items.
  EXPECT_EQ(encodeValue(kPtMvBinary, std::vector<Bytes>{{0xAA}, {}, {0xBB, 0xCC}}),
            (Bytes{3, 0, 0, 0, 16, 0, 0, 0, 17, 0, 0, 0, 17, 0, 0, 0, 0xAA, 0xBB, 0xCC}));
  EXPECT_THROW(decodeValue(kPtMvBinary, Bytes{9, 0, 0, 0, 8, 0, 0, 0}), Error) << "count beyond the data";
  EXPECT_THROW(decodeValue(kPtMvBinary, Bytes{1, 0, 0, 0, 90, 0, 0, 0}), Error) << "offset beyond the data";
  EXPECT_THROW(decodeValue(kPtMvInt32, Bytes{1, 2, 3}), Error);
  EXPECT_THROW(decodeValue(kPtInt64, Bytes{1, 2, 3}), Error);
  EXPECT_EQ(std::get<std::string>(decodeValue(kPtUnicode, encodeValue(kPtUnicode, std::string("a\xC0\x80" "b")))),
            "a\xEF\xBF\xBD\xEF\xBF\xBD" "b")
      << "an overlong sequence: each byte becomes U+FFFD, the value is stored";
  // Types without their own alternative keep their stored bytes unchanged.
  const Bytes object = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(std::get<Bytes>(decodeValue(kPtObject, object)), object);
  EXPECT_EQ(encodeValue(0x1005, object), object);
}

// One rule both ways: what cannot be converted becomes U+FFFD, the rest goes on.
TEST(Utf16, DamagedTextIsReplacedNeverDroppedNorRefused) {
  const std::string text = "Grüße – 日本語 – \xF0\x9F\x93\xA7";  // the last one is outside the BMP
  const Bytes utf16 = utf8ToUtf16le(text);
  EXPECT_EQ(utf16.size(), 2u * (5 + 3 + 3 + 3) + 4);  // the astral one takes a surrogate pair
  EXPECT_EQ(utf16leToUtf8(utf16), text);
  EXPECT_TRUE(isWellFormedUtf16le(utf16));

  const std::string replaced = "\xEF\xBF\xBD";
  EXPECT_EQ(utf16leToUtf8(utf8ToUtf16le("a\xFF" "b")), "a" + replaced + "b");      // a lone byte
  EXPECT_EQ(utf16leToUtf8(utf8ToUtf16le("\xE6\x97")), replaced + replaced);        // a truncated sequence
  EXPECT_EQ(utf16leToUtf8(utf8ToUtf16le("\xED\xA0\x80")), replaced + replaced + replaced);  // an encoded surrogate
  const Bytes unpaired{0x00, 0xD8, 0x41, 0x00};  // a high surrogate, then 'A'
  EXPECT_EQ(utf16leToUtf8(unpaired), replaced + "A");
  EXPECT_FALSE(isWellFormedUtf16le(unpaired));
  EXPECT_EQ(utf16leToUtf8(Bytes{0x41, 0x00, 0x42}), "A" + replaced) << "a trailing odd byte is marked, not dropped";
  EXPECT_FALSE(isWellFormedUtf16le(Bytes{0x41, 0x00, 0x42}));
  // A prefix measured in UTF-16 units counts damaged bytes as the U+FFFD each becomes.
  for (const std::string& text : {std::string(300, '\x80'), "ab\xF4\x90\x80\x80" + std::string(20, 'c'), std::string("\xF0\x9F\x93\xA7") + "x"}) {
    const std::string prefix = utf8PrefixInUtf16Units(text, 3);
    EXPECT_LE(utf8ToUtf16le(prefix).size(), 6u);
    EXPECT_GE(utf8ToUtf16le(prefix).size(), 4u);
  }
}

}  // namespace
}  // namespace mailfold::pst::ltp
