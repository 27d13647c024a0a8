#include "pst/ltp/table_context.h"

#include <gtest/gtest.h>

#include <random>

#include "memory_node.h"
#include "outlook_samples.h"
#include "table_rows.h"

namespace mailfold::pst::ltp {
namespace {

using test::MemoryNode;
using test::findRow;
using test::layoutFor;

constexpr PropTag kDisplayName = makeTag(0x3001, kPtUnicode);
constexpr PropTag kContentCount = makeTag(0x3602, kPtInt32);
constexpr PropTag kUnreadCount = makeTag(0x3603, kPtInt32);
constexpr PropTag kSubfolders = makeTag(0x360A, kPtBoolean);
constexpr PropTag kContainerClass = makeTag(0x3613, kPtUnicode);
constexpr PropTag kSubject = makeTag(0x0037, kPtUnicode);
constexpr PropTag kDelivery = makeTag(0x0E06, kPtSysTime);
constexpr PropTag kSize = makeTag(0x0E08, kPtInt32);
constexpr PropTag kImportance = makeTag(0x0017, kPtInt32);
constexpr PropTag kFlags16 = makeTag(0x0E17, kPtInt16);
constexpr PropTag kHasAttach = makeTag(0x0E1B, kPtBoolean);
constexpr PropTag kSearchKey = makeTag(0x300B, kPtBinary);
constexpr PropTag kCategories = makeTag(0x8001, kPtMvUnicode);

MemoryNode outlookHierarchy() {
  MemoryNode node(0x12D);
  node.data().blocks.emplace_back(std::begin(test::kOutlookHierarchyTc), std::end(test::kOutlookHierarchyTc));
  return node;
}

const ColumnDescriptor& column(const TableContext& tc, PropTag tag) {
  const ColumnDescriptor* c = tc.layout().find(tag);
  if (!c) throw Error(ErrorKind::kNotFound, "test: no column " + tagName(tag));
  return *c;
}

std::vector<PropTag> messageColumns() {
  return {kImportance, kSubject, kDelivery, kSize, kFlags16, kHasAttach, kSearchKey, kCategories};
}

RowValues messageRow(std::uint32_t i) {
  return {{kSubject, "Subject " + std::to_string(i)},
          {kDelivery, FileTime{0x01DA000000000000ull + i}},
          {kSize, static_cast<std::int32_t>(1000 + i)},
          {kImportance, std::int32_t{1}},
          {kHasAttach, i % 2 == 0}};
}

TEST(TableContext, ReadsOutlooksHierarchyTable) {
  MemoryNode node = outlookHierarchy();
  TableContext tc = TableContext::open(node);
  EXPECT_EQ(tc.layout().columns.size(), 13u);
  EXPECT_EQ(tc.layout().rowSize(), 55);
  EXPECT_EQ(tc.rowCount(), 3u);
  EXPECT_EQ(column(tc, kTagLtpRowId).offset, 0);
  EXPECT_EQ(column(tc, kTagLtpRowVer).bit, 1);
  const std::vector<std::pair<std::uint32_t, std::string>> expected = {
      {0x8022, "Top of Personal Folders"}, {0x8042, "Search Root"}, {0x2223, "SPAM Search Folder 2"}};
  for (const auto& [id, name] : expected) {
    const auto row = findRow(tc, id);
    ASSERT_TRUE(row) << id;
    EXPECT_EQ(std::get<std::string>(row->at(kDisplayName)), name);
    EXPECT_EQ(std::get<std::int32_t>(row->at(kTagLtpRowId)), static_cast<std::int32_t>(id));
    EXPECT_EQ(std::get<std::int32_t>(row->at(kContentCount)), 0);
  }
  EXPECT_EQ(std::get<bool>(findRow(tc, 0x8022)->at(kSubfolders)), true);
  EXPECT_EQ(findRow(tc, 0x8022)->count(kContainerClass), 0u) << "cell without its existence bit";
  EXPECT_FALSE(findRow(tc, 0x1234));
}

TEST(TableContext, ChangingAnOutlookTableKeepsItsLayout) {
  MemoryNode node = outlookHierarchy();
  const TableLayout before = TableContext::open(node).layout();
  {
    TableContext tc = TableContext::open(node);
    tc.appendRow(0x8082, {{kDisplayName, std::string("Posteingang")}, {kContentCount, std::int32_t{4}}});
    tc.updateRow(0x8042, {{kUnreadCount, std::int32_t{2}}, {kDisplayName, std::string("Suche")}});
  }
  TableContext tc = TableContext::open(node);
  EXPECT_EQ(tc.layout().columns, before.columns);
  EXPECT_EQ(tc.layout().groupEnds, before.groupEnds);
  EXPECT_EQ(tc.rowCount(), 4u);
  EXPECT_EQ(std::get<std::string>(findRow(tc, 0x8082)->at(kDisplayName)), "Posteingang");
  EXPECT_EQ(std::get<std::string>(findRow(tc, 0x8042)->at(kDisplayName)), "Suche");
  EXPECT_EQ(std::get<std::int32_t>(findRow(tc, 0x8042)->at(kUnreadCount)), 2);
  EXPECT_EQ(std::get<std::string>(findRow(tc, 0x8022)->at(kDisplayName)), "Top of Personal Folders");
}

TEST(TableContext, GrownLayoutPutsWideCellsFirstAndTheBitmapLast) {
  const TableLayout layout = layoutFor(messageColumns());
  ASSERT_EQ(layout.columns.size(), 10u);
  for (std::size_t i = 1; i < layout.columns.size(); ++i) EXPECT_LT(layout.columns[i - 1].tag, layout.columns[i].tag);
  auto at = [&layout](PropTag tag) { return *layout.find(tag); };
  EXPECT_EQ(at(kTagLtpRowId).offset, 0);
  EXPECT_EQ(at(kTagLtpRowId).bit, 0);
  EXPECT_EQ(at(kTagLtpRowVer).offset, 4);
  EXPECT_EQ(at(kTagLtpRowVer).bit, 1);
  // 8- and 4-byte cells after the fixed columns in tag order: importance, subject (reference),
  // delivery time, size, search key, categories.
  EXPECT_EQ(at(kImportance).offset, 8);
  EXPECT_EQ(at(kSubject).offset, 12);
  EXPECT_EQ(at(kDelivery).offset, 16);
  EXPECT_EQ(at(kDelivery).size, 8);
  EXPECT_EQ(at(kSize).offset, 24);
  EXPECT_EQ(at(kSearchKey).offset, 28);
  EXPECT_EQ(at(kCategories).offset, 32);
  EXPECT_EQ(at(kFlags16).offset, 36);
  EXPECT_EQ(at(kHasAttach).offset, 38);
  EXPECT_EQ(layout.groupEnds, (std::array<std::uint16_t, 4>{36, 38, 39, 41}));
  EXPECT_EQ(at(kImportance).bit, 2);
  EXPECT_EQ(at(kCategories).bit, 9);
}

TEST(TableContext, RowsRoundTripWithEveryKindOfCell) {
  MemoryNode node(0x60E);
  {
    TableContext tc = TableContext::create(node, layoutFor(messageColumns()));
    EXPECT_EQ(Heap::open(node.data()).read(0x40)[0], 0x7C) << "the table header";
    Heap heap = Heap::open(node.data());
    EXPECT_EQ(load<std::uint32_t>(heap.read(heap.userRoot()).data() + 14), 0u) << "an empty table has no row matrix";
    EXPECT_EQ(load<std::uint32_t>(heap.read(0x20).data() + 4), 0u) << "and an empty row index";
    RowValues first = messageRow(1);
    first[kSearchKey] = Bytes(16, 0xAB);
    first[kCategories] = std::vector<std::string>{"Rot", "Grün"};
    first[kFlags16] = std::int16_t{-3};
    tc.appendRow(0x200024, first);
    RowValues big = messageRow(2);
    big[kSubject] = std::string(3000, 'q');  // 6000 bytes of UTF-16: a sub-node
    tc.appendRow(0x200044, big);
    tc.appendRow(0x200064, {});
    EXPECT_THROW(tc.appendRow(0x200064, {}), Error) << "duplicate row id";
    EXPECT_THROW(tc.appendRow(0x200084, {{makeTag(0x1234, kPtInt32), std::int32_t{1}}}), Error) << "no such column";
    EXPECT_THROW(tc.appendRow(0x200084, {{kSize, std::string("x")}}), Error) << "wrong type";
    EXPECT_THROW(tc.appendRow(0x200084, {{kSubject, std::string(4000, 'a')},
                                         {kSize, std::shared_ptr<const ByteSource>(std::make_shared<MemorySource>(Bytes(9)))}}),
                 Error)
        << "a stream for a number column";
    EXPECT_TRUE(node.subnodeIds().size() == 1) << "nothing allocated for refused rows";
    EXPECT_EQ(tc.rowCount(), 3u) << "refused rows leave nothing behind";
  }
  TableContext tc = TableContext::open(node);
  const RowValues first = *findRow(tc, 0x200024);
  EXPECT_EQ(std::get<std::string>(first.at(kSubject)), "Subject 1");
  EXPECT_EQ(std::get<FileTime>(first.at(kDelivery)).ticks, 0x01DA000000000001u);
  EXPECT_EQ(std::get<std::int32_t>(first.at(kSize)), 1001);
  EXPECT_EQ(std::get<bool>(first.at(kHasAttach)), false);
  EXPECT_EQ(std::get<std::int16_t>(first.at(kFlags16)), -3);
  EXPECT_EQ(std::get<Bytes>(first.at(kSearchKey)), Bytes(16, 0xAB));
  EXPECT_EQ(std::get<std::vector<std::string>>(first.at(kCategories)), (std::vector<std::string>{"Rot", "Grün"}));
  EXPECT_EQ(std::get<std::string>(findRow(tc, 0x200044)->at(kSubject)), std::string(3000, 'q'));
  const RowValues empty = *findRow(tc, 0x200064);
  EXPECT_EQ(empty.size(), 2u) << "only the row id and version exist";
  EXPECT_EQ(node.subnodeIds().size(), 1u);

  // Updating a cell replaces its storage.
  tc.updateRow(0x200044, {{kSubject, std::string("short now")}});
  EXPECT_TRUE(node.subnodeIds().empty());
  EXPECT_EQ(std::get<std::string>(findRow(tc, 0x200044)->at(kSubject)), "short now");
  EXPECT_EQ(std::get<std::int32_t>(findRow(tc, 0x200044)->at(kSize)), 1002) << "other cells unchanged";
}

TEST(TableContext, RowMatrixMovesToASubnodeOfWholeRowsInFullBlocks) {
  MemoryNode node(0x60E);
  TableContext tc = TableContext::create(node, layoutFor(messageColumns()));
  const std::uint32_t rowSize = tc.layout().rowSize();
  const std::uint32_t perBlock = ndb::kMaxBlockPayload / rowSize;
  const std::uint32_t inHeap = kMaxHeapItem / rowSize;
  for (std::uint32_t i = 0; i < inHeap; ++i) tc.appendRow(i + 1, messageRow(i));
  Heap heap = Heap::open(node.data());
  EXPECT_TRUE(isHid(load<std::uint32_t>(heap.read(heap.userRoot()).data() + 14))) << "small tables keep rows in the heap";
  const std::uint32_t total = 3 * perBlock + 5;
  for (std::uint32_t i = inHeap; i < total; ++i) tc.appendRow(i + 1, messageRow(i));

  Heap after = Heap::open(node.data());
  const std::uint32_t rows = load<std::uint32_t>(after.read(after.userRoot()).data() + 14);
  ASSERT_FALSE(isHid(rows));
  auto matrix = node.openSubnode(rows);
  auto& data = static_cast<MemoryNode&>(*matrix).data();
  ASSERT_EQ(data.blockCount(), 4u);
  EXPECT_TRUE(data.blocksFull());
  EXPECT_EQ(data.blocks.back().size(), 5u * rowSize);
  for (std::uint32_t b = 0; b < 3; ++b)  // each block starts with a whole row
    EXPECT_EQ(load<std::uint32_t>(data.blocks[b].data()), b * perBlock + 1);

  TableContext again = TableContext::open(node);
  EXPECT_EQ(again.rowCount(), total);
  for (std::uint32_t i : {0u, inHeap, perBlock - 1, perBlock, total - 1})
    EXPECT_EQ(std::get<std::string>(findRow(again, i + 1)->at(kSubject)), "Subject " + std::to_string(i));

  for (const auto& [id, index] : again.rowIds()) ASSERT_EQ(again.rowIdAt(index), id);
}

TEST(TableContext, AppendingCostsTheSameAtTwentyThousandRows) {
  MemoryNode node(0x60E);
  TableContext tc = TableContext::create(node, layoutFor(messageColumns()));
  constexpr std::uint32_t kRows = 20000;
  std::uint64_t early = 0, late = 0;
  for (std::uint32_t i = 0; i < kRows; ++i) {
    if (i == 1000) early = node.totalWrites();
    if (i == 2000) early = node.totalWrites() - early;
    if (i == kRows - 1000) late = node.totalWrites();
    tc.appendRow(0x200004 + 32 * i, messageRow(i));
  }
  late = node.totalWrites() - late;
  RecordProperty("block_writes_rows_1000_to_2000", static_cast<int>(early));
  RecordProperty("block_writes_last_1000_rows", static_cast<int>(late));
  // Block writes for 1000 appends: a handful per row, and no growth with the table.
  EXPECT_LE(late, 4000u);
  EXPECT_LE(static_cast<double>(late), 1.3 * static_cast<double>(early) + 50) << "early " << early << ", late " << late;

  TableContext again = TableContext::open(node);
  EXPECT_EQ(again.rowCount(), kRows);
  std::mt19937 rng(3);
  for (int k = 0; k < 200; ++k) {
    const std::uint32_t i = rng() % kRows;
    const auto row = findRow(again, 0x200004 + 32 * i);
    ASSERT_TRUE(row);
    ASSERT_EQ(std::get<std::string>(row->at(kSubject)), "Subject " + std::to_string(i));
  }
  std::uint32_t seen = 0;
  for (const auto& [id, index] : again.rowIds()) {
    ASSERT_EQ(again.rowIdAt(index), id);
    ++seen;
  }
  EXPECT_EQ(seen, kRows);
  EXPECT_TRUE(node.data().blocksFull());
}

TEST(TableContext, DamagedTablesGiveErrorsNotCrashes) {
  const Bytes good(std::begin(test::kOutlookHierarchyTc), std::end(test::kOutlookHierarchyTc));
  auto withBytes = [](const Bytes& raw) {
    MemoryNode node(0x12D);
    node.data().blocks.push_back(raw);
    return node;
  };
  // TCINFO at offset 0x14 (HID 0x40); descriptors from 0x14 + 22.
  Bytes badOffset = good;
  store<std::uint16_t>(badOffset.data() + 0x14 + 22 + 4, 0x300);  // first column far beyond the row
  MemoryNode n1 = withBytes(badOffset);
  EXPECT_THROW(TableContext::open(n1), Error);
  Bytes badBit = good;
  badBit[0x14 + 22 + 7] = 40;  // existence bit beyond the 2-byte bitmap
  MemoryNode n2 = withBytes(badBit);
  EXPECT_THROW(TableContext::open(n2), Error);
  Bytes tooMany = good;
  tooMany[0x14 + 1] = 200;  // more columns than the header holds
  MemoryNode n3 = withBytes(tooMany);
  EXPECT_THROW(TableContext::open(n3), Error);
  Bytes noRowSize = good;
  store<std::uint16_t>(noRowSize.data() + 0x14 + 2 + 6, 0);  // a row size of 0 would divide by zero
  MemoryNode n5 = withBytes(noRowSize);
  EXPECT_THROW(TableContext::open(n5), Error);
  Bytes hugeRow = good;
  store<std::uint16_t>(hugeRow.data() + 0x14 + 2 + 6, 9000);  // rows larger than a block
  MemoryNode n6 = withBytes(hugeRow);
  EXPECT_THROW(TableContext::open(n6), Error);
  Bytes badIndex = good;
  store<std::uint32_t>(badIndex.data() + 0x92 + 4, 7);  // a row id pointing past the rows
  MemoryNode n4 = withBytes(badIndex);
  TableContext t4 = TableContext::open(n4);
  EXPECT_THROW(findRow(t4, 0x2223), Error);
  MemoryNode pc(0x21);
  pc.data().blocks.emplace_back(std::begin(test::kOutlookStorePc), std::end(test::kOutlookStorePc));
  EXPECT_THROW(TableContext::open(pc), Error) << "a property context is not a table";

  std::mt19937 rng(11);
  for (int round = 0; round < 3000; ++round) {
    Bytes raw = good;
    for (int k = 0; k < 3; ++k) raw[rng() % raw.size()] = static_cast<std::uint8_t>(rng());
    MemoryNode node = withBytes(raw);
    try {
      TableContext tc = TableContext::open(node);
      for (std::uint32_t i = 0; i < tc.rowCount(); ++i) (void)tc.readRow(i);
      for (const auto& [id, index] : tc.rowIds()) (void)findRow(tc, id);
    } catch (const Error&) {
    }
  }
}

}  // namespace
}  // namespace mailfold::pst::ltp
