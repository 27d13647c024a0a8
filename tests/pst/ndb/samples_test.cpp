// Every Outlook-made sample store: opens, every node's data and sub-nodes read back, and the
// checker finds nothing wrong (a violation on an Outlook file is a false alarm).
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "pst/ndb/ndb_check.h"
#include "pst/ndb/node_database.h"
#include "support/paths.h"

namespace mailfold::pst::ndb {
namespace {

std::vector<std::filesystem::path> samples() {
  std::vector<std::filesystem::path> out;
  for (const auto& e : std::filesystem::directory_iterator(test::sharedDir() / "samples" / "pst"))
    if (e.path().extension() == ".pst") out.push_back(e.path());
  std::sort(out.begin(), out.end());
  return out;
}

struct ReadStats {
  std::size_t nodes = 0, subnodes = 0, blocks = 0;
  std::uint64_t bytes = 0;
};

void readTree(Node& node, ReadStats& stats, int depth) {
  NodeData& d = node.data();
  std::uint64_t sum = 0;
  for (std::uint32_t i = 0; i < d.blockCount(); ++i) {
    sum += d.readBlock(i).size();
    ++stats.blocks;
  }
  EXPECT_EQ(sum, d.size()) << "node " << node.nid();
  stats.bytes += sum;
  ASSERT_LT(depth, 16);
  for (Nid sub : node.subnodeIds()) {
    ++stats.subnodes;
    auto child = node.openSubnode(sub);
    readTree(*child, stats, depth + 1);
  }
}

TEST(Samples, EveryStoreOpensAndEveryNodeReads) {
  MAILFOLD_REQUIRE_SHARED();
  for (const auto& path : samples()) {
    SCOPED_TRACE(path.filename().string());
    auto db = NodeDatabase::open(path.string());
    ReadStats stats;
    for (const NodeInfo& info : db->nodes()) {
      ++stats.nodes;
      auto node = db->openNode(info.nid);
      EXPECT_EQ(db->parentOf(info.nid), info.parent);
      readTree(*node, stats, 0);
    }
    EXPECT_GT(stats.nodes, 20u);
    EXPECT_GT(stats.blocks, stats.nodes / 2);
    std::cout << path.filename().string() << ": " << stats.nodes << " nodes, " << stats.subnodes << " sub-nodes, "
              << stats.blocks << " blocks, " << stats.bytes << " bytes\n";
  }
}

TEST(Samples, CheckerFindsNoViolationInOutlookStores) {
  MAILFOLD_REQUIRE_SHARED();
  for (const auto& path : samples()) {
    SCOPED_TRACE(path.filename().string());
    const auto violations = checkNdb(path.string());
    for (const auto& v : violations) ADD_FAILURE() << v;
  }
}

}  // namespace
}  // namespace mailfold::pst::ndb
