// Adding to every sample store made by Outlook leaves what was there untouched: an independent
// reader exports the same folders, messages and properties before and after, plus our additions,
// the store's special folders stay where they were, and the store passes the checker.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "pst/ltp/table_context.h"
#include "pst/messaging/property_tags.h"
#include "pst/messaging/template_tables.h"
#include "pst/messaging/store.h"
#include "pst/messaging/store_check.h"
#include "safety_fixture.h"
#include "support/temp_dir.h"

namespace mailfold::pst::safety {
namespace {

// pffexport's tree of live items. Its "recovered" tree is left out: it shows deleted items
// still lying in free space, which a writer may reuse.
std::map<std::string, std::string> exportedTree(const std::string& store, const std::filesystem::path& target) {
  std::string out;
  const int rc = runCommand("pffexport -q -m all -t " + quoted(target.string()) + " " + quoted(store), &out);
  EXPECT_EQ(rc, 0) << "pffexport " << store << ": " << out;
  return treeFiles(target.string() + ".export");
}

MessageModel addedMessage(const std::string& subject) {
  MessageModel m;
  m.props.set(kPrSubject, subject);
  m.props.set(kPrBody, std::string("Added after the store was made.\n") + std::string(5000, 'x'));
  Attachment a;
  a.props.set(kPrAttachLongFilename, std::string("added.txt"));
  a.props.set(kPrAttachDataBin, Bytes(3000, 'a'));
  m.attachments.push_back(std::move(a));
  return m;
}

// What makes a store someone's own: where it records its special folders. The message store's
// folder entry ids and valid-folder mask, the receive-folder table, and the special-folder entry
// ids every folder may carry (the Inbox holds most of them, the root the fallbacks).
std::map<std::string, PropertyValue> designations(const std::string& path) {
  std::map<std::string, PropertyValue> out;
  auto db = ndb::NodeDatabase::open(path);
  auto keep = [&](ndb::Nid nid, std::uint16_t from, std::uint16_t to) {
    auto node = db->openNode(nid);
    for (const auto& [tag, value] : ltp::PropertyContext::open(*node).readAll())
      if (tagId(tag) >= from && tagId(tag) <= to) out[hex(nid) + "/" + hex(tag)] = value;
  };
  keep(kNidMessageStore, 0x35DF, 0x35E7);
  for (const auto& info : db->nodes())
    if (ndb::nidType(info.nid) == ndb::kNidTypeNormalFolder) keep(info.nid, 0x36D0, 0x36DF);
  auto node = db->openNode(kNidReceiveFolderTable);
  ltp::TableContext table = ltp::TableContext::open(*node);
  for (std::uint32_t i = 0; i < table.rowCount(); ++i)
    for (const auto& [tag, value] : table.readRow(i)) out["receive row " + std::to_string(i) + "/" + hex(tag)] = value;
  return out;
}

// Every folder below the top of the store, as a path of names.
std::set<std::string> folderPaths(const std::string& path) {
  std::set<std::string> out;
  auto store = Store::open(path, false);
  std::function<void(const Folder&, const std::string&)> walk = [&](const Folder& f, const std::string& at) {
    for (const Folder& child : f.children()) {
      out.insert(at + "\\" + child.name());
      walk(child, at + "\\" + child.name());
    }
  };
  walk(store->ipmRoot(), "");
  return out;
}

void writeMail(const std::filesystem::path& file, const std::string& subject) {
  std::filesystem::create_directories(file.parent_path());
  writeFile(file, "From: a@example.com\r\nTo: b@example.com\r\nSubject: " + subject +
                      "\r\nDate: Tue, 1 Dec 2026 10:00:00 +0000\r\nMessage-ID: <" + subject +
                      "@example.com>\r\n\r\nAdded to an existing store.\r\n");
}

// A conversion into an existing store adds the source's folders and messages and nothing else:
// no default folder is made, no special folder is designated anew, and an independent reader
// exports the same folders, messages and properties as before, plus the additions.
TEST(BeforeAfter, AddingToEverySampleKeepsWhatWasThere) {
  MAILFOLD_REQUIRE_SHARED();
#ifdef _WIN32
  GTEST_SKIP() << "the Linux readers (pffexport, pffinfo) compare the stores: on Linux, and on stores "
                  "the Windows converter made in scripts/windows/test.sh";
#endif
  if (!haveProgram("pffexport")) GTEST_SKIP() << "pffexport (libpff-tools) is not installed";
  const auto convert = test::binDir() / "mailfold-convert";
  if (!std::filesystem::exists(convert)) GTEST_SKIP() << "mailfold-convert is not built";
  test::TempDir sources;
  const std::filesystem::path mail = sources.path() / "mail";
  for (const char* at : {"Inbox/a", "Inbox/Work/b", "Sent/c", "Sent/Old/d", "Projects/e", "f"})
    writeMail(mail / (std::string(at) + ".eml"), std::filesystem::path(at).filename().string());

  int added = 0, refused = 0;
  for (const std::string& name : allSamples()) {
    SCOPED_TRACE(name);
    test::TempDir dir;
    const std::string path = copySample(name, dir.path() / "store.pst");
    const std::string reason = refusalReason(path);
    const auto password = reason == "password" ? knownPassword(name) : std::nullopt;
    if (!reason.empty() && !password) {
      // Refused for adding (the refusal tests look at the messages): nothing may change.
      const std::string before = fileBytes(path);
      EXPECT_THROW(Store::open(path, true), Error);
      EXPECT_TRUE(fileBytes(path) == before);
      ++refused;
      continue;
    }
    const auto before = exportedTree(path, dir.path() / "before");
    ASSERT_FALSE(before.empty());
    const auto designatedBefore = designations(path);
    const auto foldersBefore = folderPaths(path);
    std::int32_t inboxBefore = 0;
    {
      auto store = Store::open(path, true, password);
      if (auto top = store->ipmRoot().child("Inbox")) inboxBefore = top->contentCount();
      Folder sub = store->ipmRoot().addChild("Mailfold added – 追加");
      for (int i = 0; i < 3; ++i) sub.addMessage(addedMessage("added " + std::to_string(i)));
      store->commit();
      sub.addMessage(addedMessage("added 3"), kMsgFlagRead);
      store->close();
    }
    std::string out, passwordOption;
    if (password) {
      writeFile(dir.path() / "password", *password + "\n");
      passwordOption = " --password-file " + quoted((dir.path() / "password").string());
    }
    ASSERT_EQ(runCommand(quoted(convert.string()) + " --quiet " + quoted(mail.string()) + " -o " + quoted(path) +
                             passwordOption + " </dev/null",
                         &out),
              0)
        << out;
    for (const auto& v : checkStore(path)) ADD_FAILURE() << v;
    EXPECT_EQ(runCommand("pffinfo " + quoted(path), &out), 0) << out;

    EXPECT_TRUE(designations(path) == designatedBefore) << "a special folder was designated anew";
    std::set<std::string> expected = foldersBefore;
    // The source's Inbox and Sent land in top-level folders of those names (made where missing).
    for (const char* f : {"\\Mailfold added – 追加", "\\Inbox", "\\Inbox\\Work", "\\Sent", "\\Sent\\Old", "\\Projects"})
      expected.insert(f);
    EXPECT_EQ(folderPaths(path), expected);

    const auto after = exportedTree(path, dir.path() / "after");
    for (const auto& [file, bytes] : before) {
      auto it = after.find(file);
      if (it == after.end()) ADD_FAILURE() << "gone after adding: " << file;
      else if (it->second != bytes) ADD_FAILURE() << "changed after adding: " << file;
    }
    int newFiles = 0;
    for (const auto& [file, bytes] : after) newFiles += before.count(file) ? 0 : 1;
    EXPECT_GT(newFiles, 10);  // the folders and ten messages with their parts

    auto store = Store::open(path, false);
    EXPECT_EQ(store->folderByPath("Inbox").contentCount(), inboxBefore + 1);
    EXPECT_EQ(store->folderByPath("Sent\\Old").contentCount(), 1);
    ++added;
  }
  std::printf("%d samples added to, %d refused\n", added, refused);
  EXPECT_GE(added, 11);  // three of them protected by a password we know
  EXPECT_GE(refused, 5);
}

}  // namespace
}  // namespace mailfold::pst::safety
