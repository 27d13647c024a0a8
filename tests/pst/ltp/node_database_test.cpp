// Property and table contexts written through the real node database: committed, reopened
// from the file, and read back. Checks that the block rules the contexts follow (full blocks
// but the last, appends at the end) hold up against the store's own data trees.
#include <gtest/gtest.h>

#include <chrono>

#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"
#include "pst/ndb/node_database.h"
#include "support/temp_dir.h"
#include "table_rows.h"

namespace mailfold::pst::ltp {
namespace {

constexpr PropTag kSubject = makeTag(0x0037, kPtUnicode);
constexpr PropTag kAttachData = makeTag(0x3701, kPtBinary);
constexpr PropTag kSize = makeTag(0x0E08, kPtInt32);

TEST(StoredContexts, SurviveCommitAndReopen) {
  test::TempDir tmp;
  const std::string path = (tmp.path() / "contexts.pst").string();
  Bytes attachment(3 * 1024 * 1024 + 17);
  for (std::size_t i = 0; i < attachment.size(); ++i) attachment[i] = static_cast<std::uint8_t>(i * 31 + (i >> 9));
  ndb::Nid messageNid = 0, tableNid = 0;
  constexpr std::uint32_t kRows = 3000;
  {
    auto db = ndb::NodeDatabase::create(path);
    messageNid = db->allocateNid(ndb::kNidTypeNormalMessage);
    auto message = db->createNode(messageNid, 0x8022);
    PropertyContext pc = PropertyContext::create(*message);
    pc.set(kSubject, std::string("Größe über alles"));
    pc.set(kAttachData, std::shared_ptr<const ByteSource>(std::make_shared<MemorySource>(attachment)));
    db->commit();

    const auto started = std::chrono::steady_clock::now();
    tableNid = db->allocateNid(ndb::kNidTypeContentsTable);
    auto tableNode = db->createNode(tableNid, 0x8022);
    const std::vector<PropTag> columns = {kSubject, kSize};
    TableContext tc = TableContext::create(*tableNode, test::layoutFor(columns));
    for (std::uint32_t i = 0; i < kRows; ++i) {
      tc.appendRow(0x200004 + 32 * i, {{kSubject, "row " + std::to_string(i)}, {kSize, static_cast<std::int32_t>(i)}});
      if (i % 1000 == 999) {
        db->commit();
        RecordProperty("ms_after_" + std::to_string(i + 1), static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                          std::chrono::steady_clock::now() - started).count()));
      }
    }
    RecordProperty("ms_for_rows", static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                          std::chrono::steady_clock::now() - started).count()));
    db->close();
  }
  auto db = ndb::NodeDatabase::open(path);
  auto message = db->openNode(messageNid);
  PropertyContext pc = PropertyContext::open(*message);
  EXPECT_EQ(std::get<std::string>(*pc.get(kSubject)), "Größe über alles");
  EXPECT_EQ(std::get<Bytes>(*pc.get(kAttachData)), attachment);
  auto tableNode = db->openNode(tableNid);
  TableContext tc = TableContext::open(*tableNode);
  ASSERT_EQ(tc.rowCount(), kRows);
  for (std::uint32_t i = 0; i < kRows; i += 97) {
    const auto row = test::findRow(tc, 0x200004 + 32 * i);
    ASSERT_TRUE(row);
    EXPECT_EQ(std::get<std::string>(row->at(kSubject)), "row " + std::to_string(i));
    EXPECT_EQ(std::get<std::int32_t>(row->at(kSize)), static_cast<std::int32_t>(i));
  }
}

}  // namespace
}  // namespace mailfold::pst::ltp
