// Independent readers as oracles for the write path: an Outlook-made store whose every node
// and sub-node we rewrote block by block (same bytes, all new blocks, new B-tree pages, old
// space freed) must read exactly as before in readpst and pffexport, and pass the checker.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>

#include "pst/ndb/ndb_check.h"
#include "pst/ndb/node_database.h"
#include "support/paths.h"
#include "support/temp_dir.h"

namespace mailfold::pst::ndb {
namespace {

namespace fs = std::filesystem;

bool have(const char* tool) { return std::system((std::string("command -v ") + tool + " > /dev/null 2>&1").c_str()) == 0; }

// Relative path -> content of every file below `root`.
std::map<std::string, std::string> tree(const fs::path& root) {
  std::map<std::string, std::string> out;
  if (!fs::exists(root)) return out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file()) continue;
    std::ifstream in(e.path(), std::ios::binary);
    out[fs::relative(e.path(), root).string()] = std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  return out;
}

std::map<std::string, std::string> readpst(const fs::path& store, const fs::path& out) {
  fs::create_directories(out);
  // -j 0: readpst's parallel jobs share one file offset and now and then read each other's blocks.
  const std::string cmd = "readpst -j 0 -D -r -o '" + out.string() + "' '" + store.string() + "' > /dev/null 2>&1";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  auto files = tree(out);
  // readpst makes up a random MIME boundary for every message.
  static const std::regex boundary("iamunique-[0-9]+_");
  for (auto& [name, content] : files) content = std::regex_replace(content, boundary, "iamunique-N_");
  return files;
}

std::map<std::string, std::string> pffexport(const fs::path& store, const fs::path& target) {
  const std::string cmd = "pffexport -q -m items -t '" + target.string() + "' '" + store.string() + "' > /dev/null 2>&1";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  return tree(target.string() + ".export");
}

void rewrite(Node& node) {
  NodeData& d = node.data();
  for (std::uint32_t i = 0; i < d.blockCount(); ++i) d.writeBlock(i, d.readBlock(i));
  for (Nid s : node.subnodeIds()) rewrite(*node.openSubnode(s));
}

TEST(Oracle, RewrittenOutlookStoresReadTheSameInIndependentReaders) {
  MAILFOLD_REQUIRE_SHARED();
  if (!have("readpst") || !have("pffexport")) GTEST_SKIP() << "readpst or pffexport not installed";
  test::TempDir dir;
  for (const char* name : {"pstsdk-sample1.pst", "pst2john-2003-unicode-high-encryption-b.pst",
                           "pst2john-2003-unicode-no-encryption-b.pst", "outlook365-backup.pst"}) {
    SCOPED_TRACE(name);
    const fs::path original = test::sharedDir() / "samples/pst" / name;
    const fs::path copy = dir.path() / name;
    fs::copy_file(original, copy);
    {
      auto db = NodeDatabase::open(copy.string(), OpenMode::kReadWrite);
      std::size_t n = 0;
      for (const auto& info : db->nodes()) {
        rewrite(*db->openNode(info.nid));
        if (++n % 25 == 0) db->commit();  // several commits, so freed space gets reused
      }
      db->close();
    }
    for (const auto& v : checkNdb(copy.string())) ADD_FAILURE() << v;
    const auto before = readpst(original, dir.path() / (std::string(name) + ".rp-a"));
    const auto after = readpst(copy, dir.path() / (std::string(name) + ".rp-b"));
    EXPECT_FALSE(before.empty());
    EXPECT_TRUE(before == after) << before.size() << " files before, " << after.size() << " after";
    const auto pffBefore = pffexport(original, dir.path() / (std::string(name) + ".px-a"));
    const auto pffAfter = pffexport(copy, dir.path() / (std::string(name) + ".px-b"));
    EXPECT_GT(pffBefore.size(), 3u);
    // libpff fails on one attachment table of the cyclic-encoded Outlook 2003 sample and reads
    // it after the rewrite, so the rewritten store may give more files, never fewer or others.
    EXPECT_GE(pffAfter.size(), pffBefore.size());
    for (const auto& [file, content] : pffBefore) {
      auto it = pffAfter.find(file);
      if (it == pffAfter.end()) ADD_FAILURE() << "pffexport no longer writes " << file;
      else EXPECT_TRUE(it->second == content) << file << " differs";
    }
  }
}

}  // namespace
}  // namespace mailfold::pst::ndb
