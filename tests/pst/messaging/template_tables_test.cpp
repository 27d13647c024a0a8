// The generated table layouts must be usable as they are: a wrong offset or bit silently moves
// values between columns in every row we write.
#include <gtest/gtest.h>

#include <set>

#include "pst/messaging/message_model.h"
#include "pst/messaging/template_tables.h"

namespace mailfold::pst {
namespace {

std::uint8_t expectedWidth(std::uint16_t type) {
  switch (type) {
    case kPtBoolean: return 1;
    case kPtInt16: return 2;
    case kPtInt64: case kPtSysTime: case kPtDouble: case kPtCurrency: return 8;
    default: return 4;  // 4-byte values and HNIDs of variable-size ones
  }
}

void expectConsistent(const ltp::TableLayout& t) {
  {
    const auto [end4, end2, end1, endBm] = t.groupEnds;
    ASSERT_LE(end4, end2);
    ASSERT_LE(end2, end1);
    EXPECT_EQ(endBm, end1 + (t.columns.size() + 7) / 8);
    std::set<unsigned> bits;
    std::vector<bool> used(end1, false);
    for (std::size_t i = 0; i < t.columns.size(); ++i) {
      const ltp::ColumnDescriptor& c = t.columns[i];
      if (i > 0) {
        EXPECT_LT(t.columns[i - 1].tag, c.tag) << "columns must be sorted by tag";
      }
      EXPECT_EQ(c.size, expectedWidth(tagType(c.tag)));
      EXPECT_TRUE(bits.insert(c.bit).second);
      EXPECT_LT(c.bit, t.columns.size());
      const unsigned groupStart = c.size >= 4 ? 0 : c.size == 2 ? end4 : end2;
      const unsigned groupEnd = c.size >= 4 ? end4 : c.size == 2 ? end2 : end1;
      EXPECT_GE(c.offset, groupStart);
      EXPECT_LE(c.offset + c.size, groupEnd);
      for (unsigned b = c.offset; b < c.offset + c.size && b < used.size(); ++b) {
        EXPECT_FALSE(used[b]) << "cells overlap at byte " << b;
        used[b] = true;
      }
    }
    // Row id and row version sit first in every table.
    ASSERT_NE(t.find(0x67F20003), nullptr);
    EXPECT_EQ(t.find(0x67F20003)->offset, 0);
    EXPECT_EQ(t.find(0x67F20003)->bit, 0);
    EXPECT_EQ(t.find(0x67F30003)->offset, 4);
    EXPECT_EQ(t.find(0x67F30003)->bit, 1);
  }
}

TEST(TemplateTables, LayoutsAreConsistent) {
  ASSERT_EQ(fixedTables().size(), 11u);
  for (const FixedTable& t : fixedTables()) {
    SCOPED_TRACE(t.nid);
    EXPECT_EQ(fixedTableLayout(t.nid), &t.layout);
    expectConsistent(t.layout);
  }
}

TEST(TemplateTables, ExtendedLayoutsKeepTheWideCellsAndBitsOfTheTemplate) {
  const ltp::TableLayout& base = *fixedTableLayout(kNidRecipientTemplate);
  const std::vector<PropTag> added = {0x39FE001F, 0x0C150003, 0x5FFD0003, 0x7FFF000B, 0x00010002, 0x30070040};
  const ltp::TableLayout ext = base.withColumns(added);
  expectConsistent(ext);
  EXPECT_EQ(ext.columns.size(), base.columns.size() + 5);  // 0x0C15 is in the template already
  for (const auto& c : base.columns) {
    const ltp::ColumnDescriptor* e = ext.find(c.tag);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->bit, c.bit);
    if (c.size >= 4) {
      EXPECT_EQ(e->offset, c.offset);
    }
  }
  EXPECT_EQ(ext.find(0x30070040)->size, 8);
  EXPECT_EQ(ext.find(0x00010002)->size, 2);
  const std::vector<PropTag> present = {0x0C150003};
  EXPECT_EQ(base.withColumns(present).columns, base.columns);

  // A template whose existence bits leave a gap (as a store made elsewhere may have): new
  // columns take bits above the highest one, never one in use.
  ltp::TableLayout gapped = base;
  for (auto& c : gapped.columns)
    if (c.tag == 0x39FF001F) c.bit = 14;  // bit 13 unused
  const ltp::TableLayout grown = gapped.withColumns(added);
  EXPECT_NO_THROW(grown.validate());
  std::set<unsigned> bits;
  for (const auto& c : grown.columns) EXPECT_TRUE(bits.insert(c.bit).second) << "bit " << int{c.bit} << " used twice";
  EXPECT_EQ(grown.find(0x00010002)->bit, 15);
}

TEST(TemplateTables, ColumnCountsAreThoseOfOutlook2010To365) {
  EXPECT_EQ(fixedTableLayout(kNidHierarchyTemplate)->columns.size(), 13u);
  EXPECT_EQ(fixedTableLayout(kNidContentsTemplate)->columns.size(), 28u);
  EXPECT_EQ(fixedTableLayout(kNidAssocContentsTemplate)->columns.size(), 15u);
  EXPECT_EQ(fixedTableLayout(kNidSearchContentsTemplate)->columns.size(), 19u);
  EXPECT_EQ(fixedTableLayout(kNidAttachmentTemplate)->columns.size(), 6u);
  EXPECT_EQ(fixedTableLayout(kNidRecipientTemplate)->columns.size(), 14u);
  // Types Outlook uses where older descriptions differ.
  EXPECT_NE(fixedTableLayout(kNidHierarchyTemplate)->find(0x3613001F), nullptr);
  EXPECT_NE(fixedTableLayout(kNidContentsTemplate)->find(0x0E300102), nullptr);
  EXPECT_EQ(fixedTableLayout(0x122), nullptr);
}

}  // namespace
}  // namespace mailfold::pst
