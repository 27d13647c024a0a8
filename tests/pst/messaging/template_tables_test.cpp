// The generated table layouts must be usable as they are: a wrong offset or bit silently moves
// values between columns in every row we write.
#include <gtest/gtest.h>

#include <set>

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

void expectConsistent(const TableLayout* t) {
  {
    const auto [end4, end2, end1, endBm] = t->groupEnds;
    ASSERT_LE(end4, end2);
    ASSERT_LE(end2, end1);
    EXPECT_EQ(endBm, end1 + (t->columns.size() + 7) / 8);
    std::set<unsigned> bits;
    std::vector<bool> used(end1, false);
    for (std::size_t i = 0; i < t->columns.size(); ++i) {
      const TableColumn& c = t->columns[i];
      if (i > 0) {
        EXPECT_LT(t->columns[i - 1].tag, c.tag) << "columns must be sorted by tag";
      }
      EXPECT_EQ(c.cbData, expectedWidth(tagType(c.tag)));
      EXPECT_TRUE(bits.insert(c.iBit).second);
      EXPECT_LT(c.iBit, t->columns.size());
      const unsigned groupStart = c.cbData >= 4 ? 0 : c.cbData == 2 ? end4 : end2;
      const unsigned groupEnd = c.cbData >= 4 ? end4 : c.cbData == 2 ? end2 : end1;
      EXPECT_GE(c.ibData, groupStart);
      EXPECT_LE(c.ibData + c.cbData, groupEnd);
      for (unsigned b = c.ibData; b < c.ibData + c.cbData && b < used.size(); ++b) {
        EXPECT_FALSE(used[b]) << "cells overlap at byte " << b;
        used[b] = true;
      }
    }
    // Row id and row version sit first in every table.
    ASSERT_NE(t->column(0x67F20003), nullptr);
    EXPECT_EQ(t->column(0x67F20003)->ibData, 0);
    EXPECT_EQ(t->column(0x67F20003)->iBit, 0);
    EXPECT_EQ(t->column(0x67F30003)->ibData, 4);
    EXPECT_EQ(t->column(0x67F30003)->iBit, 1);
  }
}

TEST(TemplateTables, LayoutsAreConsistent) {
  for (ndb::Nid nid : {0x60Du, 0x60Eu, 0x60Fu, 0x610u, 0x62Bu, 0x64Cu, 0x671u, 0x692u, 0x6B6u, 0x6D7u, 0x6F8u}) {
    SCOPED_TRACE(nid);
    const TableLayout* t = fixedTableLayout(nid);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->nid, nid);
    expectConsistent(t);
  }
}

TEST(TemplateTables, ExtendedLayoutsKeepTheWideCellsAndBitsOfTheTemplate) {
  const TableLayout& base = recipientTemplate();
  const TableLayout ext = extendLayout(base, {0x39FE001F, 0x0C150003, 0x5FFD0003, 0x7FFF000B, 0x00010002, 0x30070040});
  expectConsistent(&ext);
  EXPECT_EQ(ext.columns.size(), base.columns.size() + 5);  // 0x0C15 is in the template already
  for (const auto& c : base.columns) {
    const TableColumn* e = ext.column(c.tag);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->iBit, c.iBit);
    if (c.cbData >= 4) {
      EXPECT_EQ(e->ibData, c.ibData);
    }
  }
  EXPECT_EQ(ext.column(0x30070040)->cbData, 8);
  EXPECT_EQ(ext.column(0x00010002)->cbData, 2);
  EXPECT_EQ(extendLayout(base, {0x0C150003}).columns, base.columns);
}

TEST(TemplateTables, ColumnCountsAreThoseOfOutlook2010To365) {
  EXPECT_EQ(hierarchyTemplate().columns.size(), 13u);
  EXPECT_EQ(contentsTemplate().columns.size(), 28u);
  EXPECT_EQ(assocContentsTemplate().columns.size(), 15u);
  EXPECT_EQ(searchContentsTemplate().columns.size(), 19u);
  EXPECT_EQ(attachmentTemplate().columns.size(), 6u);
  EXPECT_EQ(recipientTemplate().columns.size(), 14u);
  // Types Outlook uses where older descriptions differ.
  EXPECT_NE(hierarchyTemplate().column(0x3613001F), nullptr);
  EXPECT_NE(contentsTemplate().column(0x0E300102), nullptr);
  EXPECT_EQ(fixedTableLayout(0x122), nullptr);
}

}  // namespace
}  // namespace mailfold::pst
