// mailfold-pst ls / show / dump on a store we wrote: the lines a user reads.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "pst/ltp/table_context.h"
#include "pst/messaging/property_tags.h"
#include "pst/messaging/store.h"
#include "pst/ndb/node_database.h"
#include "support/exit_status.h"
#include "support/paths.h"
#include "support/temp_dir.h"

namespace mailfold::pst {
namespace {

struct ToolRun {
  int rc;
  std::string out;
};

ToolRun run(const std::string& args) {
  const auto tool = test::binDir() / "mailfold-pst";
  ToolRun r{-1, ""};
  FILE* p = popen((tool.string() + " " + args + " 2>&1").c_str(), "r");
  if (!p) return r;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int status = pclose(p);
  r.rc = test::exitCodeOf(status);
  return r;
}

class Tool : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(test::binDir() / "mailfold-pst")) GTEST_SKIP() << "mailfold-pst is not built";
    auto store = Store::create(path_, "Tool");
    Folder a = store->ipmRoot().addChild("Projekte – Ü");
    Folder b = a.addChild("2024");
    for (int i = 0; i < 3; ++i) {
      MessageModel m;
      m.props.set(kPrSubject, "Hallo " + std::to_string(i));
      m.props.set(kPrSenderName, std::string("Jörg"));
      m.props.set(kPrSenderEmailAddress, std::string("j@example.org"));
      m.props.set(kPrClientSubmitTime, FileTime{133000000000000000ULL});
      if (i == 1) {
        Attachment at;
        at.props.set(kPrAttachLongFilename, std::string("x.txt"));
        at.props.set(kPrAttachDataBin, Bytes{1, 2, 3});
        m.attachments.push_back(at);
      }
      messages_.push_back(b.addMessage(m, i == 0 ? kMsgFlagRead : 0));
    }
    store->close();
  }
  test::TempDir dir_;
  std::string path_ = dir_.str() + "/tool.pst";
  std::vector<ndb::Nid> messages_;
};

TEST_F(Tool, LsListsTheTreeWithCounts) {
  const ToolRun r = run("ls '" + path_ + "'");
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.out.rfind("\\\t0\t0\n", 0), 0u) << "the top of the store comes first: " << r.out;
  EXPECT_NE(r.out.find("\\Deleted Items\t0\t0\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\\Projekte – Ü\t0\t0\n\\Projekte – Ü\\2024\t3\t2\n"), std::string::npos) << r.out;
  const ToolRun j = run("ls '" + path_ + "' --json");
  EXPECT_EQ(j.rc, 0);
  EXPECT_NE(j.out.find("{\"path\": \"\\\\Projekte – Ü\\\\2024\", \"items\": 3, \"unread\": 2}"), std::string::npos) << j.out;
  // Options anywhere, also before the command word.
  for (const std::string& line : {"ls --json '" + path_ + "'", "--json ls -- '" + path_ + "'"})
    EXPECT_EQ(run(line).out, j.out) << line;
}

// A hierarchy table that lists a folder above it again (a damaged store) is no endless tree.
TEST_F(Tool, LsListsEachFolderOnceWhenTheTreeLoops) {
  ndb::Nid top = 0, inner = 0;
  {
    auto store = Store::open(path_, false);
    top = store->folderByPath("Projekte – Ü").nid();
    inner = store->folderByPath("Projekte – Ü\\2024").nid();
  }
  {
    auto db = ndb::NodeDatabase::open(path_, ndb::OpenMode::kReadWrite);
    auto node = db->openNode(ndb::makeNid(ndb::kNidTypeHierarchyTable, ndb::nidIndex(inner)));
    ltp::TableContext::open(*node).appendRow(top, {{ltp::kTagLtpRowId, static_cast<std::int32_t>(top)}});
    db->close();
  }
  const ToolRun r = run("ls '" + path_ + "'");
  EXPECT_EQ(r.rc, 0) << r.out;
  EXPECT_NE(r.out.find("\\Projekte – Ü\\2024\t3\t2\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("(the store's folder tree is damaged)"), std::string::npos) << r.out;
}

TEST_F(Tool, ShowListsTheMessagesOfAFolder) {
  const ToolRun r = run("show '" + path_ + "' '\\Projekte – Ü\\2024'");
  EXPECT_EQ(r.rc, 0) << r.out;
  EXPECT_NE(r.out.find("3 items, 2 unread"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"Hallo 1\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("from Jörg <j@example.org>"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("sent 2022-06-18 04:26:40"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("unread  attachments 1"), std::string::npos) << r.out;
  const ToolRun missing = run("show '" + path_ + "' '\\Projekte – Ü\\2023'");
  EXPECT_EQ(missing.rc, 2);
  EXPECT_NE(missing.out.find("Folder \"2023\" does not exist"), std::string::npos) << missing.out;
}

TEST_F(Tool, DumpShowsRawPropertiesAndTablesAndMistakesAreNamed) {
  char nid[16];
  std::snprintf(nid, sizeof nid, "0x%X", messages_[1]);
  const ToolRun r = run("dump '" + path_ + "' --nid " + nid);
  EXPECT_EQ(r.rc, 0) << r.out;
  EXPECT_NE(r.out.find("0x0037001F\t\"Hallo 1\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("0x0E1B000B\ttrue"), std::string::npos) << r.out;  // has attachments
  EXPECT_EQ(run(std::string("dump --nid=") + nid + " '" + path_ + "'").out, r.out);
  const ToolRun t = run("dump '" + path_ + "' --nid 0x60E");
  EXPECT_NE(t.out.find("table: 28 columns, 0 rows"), std::string::npos) << t.out;
  EXPECT_EQ(run("dump '" + path_ + "' --nid 0x12345").rc, 2);
  EXPECT_EQ(run("dump '" + path_ + "' --nid zz").rc, 2);
  const ToolRun huge = run("dump '" + path_ + "' --nid 99999999999999999999999");  // past 64 bits
  EXPECT_EQ(huge.rc, 2) << huge.out;
  EXPECT_NE(huge.out.find("not a node id"), std::string::npos) << huge.out;
  EXPECT_EQ(run("frobnicate '" + path_ + "'").rc, 2);
  for (const auto& [line, named] : std::vector<std::pair<std::string, std::string>>{
           {"ls '" + path_ + "' extra", "extra operand 'extra'"},
           {"show '" + path_ + "'", "show needs FOLDER-PATH"},
           {"check --json '" + path_ + "'", "--json is for ls only"},
           {"dump '" + path_ + "'", "dump needs --nid N"}}) {
    const ToolRun bad = run(line);
    EXPECT_EQ(bad.rc, 2) << line;
    EXPECT_NE(bad.out.find(named), std::string::npos) << bad.out;
  }
  const ToolRun help = run("--help");
  EXPECT_EQ(help.rc, 0);
  EXPECT_NE(help.out.find("mailfold-pst check STORE"), std::string::npos);
  const ToolRun version = run("ls --version");
  EXPECT_EQ(version.rc, 0);
  EXPECT_EQ(version.out.rfind("mailfold-pst ", 0), 0u) << version.out;
}

}  // namespace
}  // namespace mailfold::pst
