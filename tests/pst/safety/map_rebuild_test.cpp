// A writer killed after its header recorded a grown file but before the new section's map
// pages were written: the next writer rebuilds the maps and writes the missing pages too.
#include <gtest/gtest.h>

#include "pst/ndb/file.h"
#include "pst/ndb/header.h"
#include "pst/ndb/ndb_check.h"
#include "pst/ndb/node_database.h"
#include "pst/ndb/page.h"
#include "support/temp_dir.h"

namespace mailfold::pst::ndb {
namespace {

TEST(MapRebuild, MissingPageMapOfAGrownFileIsWrittenAgain) {
  test::TempDir dir;
  const std::string path = (dir.path() / "grown.pst").string();
  {
    auto db = NodeDatabase::create(path);
    for (std::uint32_t i = 0; i < 300; ++i)
      db->createNode(makeNid(kNidTypeNormalMessage, 0x10000 + i), 0x122)->data().writeBlock(0, Bytes(8000, static_cast<std::uint8_t>(i)));
    db->close();
  }
  const SectionMaps m8 = sectionMaps(8);
  ASSERT_TRUE(m8.pmap);
  const std::uint64_t pmapAt = amapOffset(8) + kPageSize;
  const std::uint64_t keptAt = amapOffset(0) + kPageSize;  // the first section's page map, left alone
  Bytes kept;
  {
    auto f = File::open(path, File::Mode::kReadWrite);
    ASSERT_GT(f->size(), pmapAt + kPageSize);
    kept = f->read(keptAt, kPageSize, "page map");
    Header h = decodeHeader(f->read(0, kHeaderReadSize, "header"));
    h.root.amapValid = kAMapInvalid;
    f->write(0, encodeHeader(h));
    f->write(pmapAt, Bytes(kPageSize, 0));  // never written before the kill
    f->flush();
  }
  EXPECT_FALSE(checkNdb(path).empty());
  NodeDatabase::open(path, OpenMode::kReadWrite)->close();
  for (const auto& v : checkNdb(path)) ADD_FAILURE() << v;
  auto f = File::open(path, File::Mode::kRead);
  const Bytes page = f->read(pmapAt, kPageSize, "page map");
  EXPECT_EQ(checkPage(Format{}, page, PageType::kPMap, pmapAt, pmapAt), "");
  EXPECT_EQ(f->read(keptAt, kPageSize, "page map"), kept);
  auto db = NodeDatabase::open(path);
  EXPECT_GE(db->nodes().size(), 300u);
}

}  // namespace
}  // namespace mailfold::pst::ndb
