// Adding to every sample store made by Outlook leaves what was there untouched: an independent
// reader exports the same folders, messages and properties before and after, plus our additions,
// and the store passes the checker.
#include <gtest/gtest.h>

#include "pst/messaging/property_tags.h"
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

TEST(BeforeAfter, AddingToEverySampleKeepsWhatWasThere) {
  MAILFOLD_REQUIRE_SHARED();
  if (!haveProgram("pffexport")) GTEST_SKIP() << "pffexport (libpff-tools) is not installed";
  int added = 0, refused = 0;
  for (const std::string& name : allSamples()) {
    SCOPED_TRACE(name);
    test::TempDir dir;
    const std::string path = copySample(name, dir.path() / "store.pst");
    const std::string reason = refusalReason(path);
    if (!reason.empty()) {
      // Refused for adding (the refusal tests look at the messages): nothing may change.
      const std::string before = fileBytes(path);
      EXPECT_THROW(Store::open(path, true), Error);
      EXPECT_TRUE(fileBytes(path) == before);
      ++refused;
      continue;
    }
    const auto before = exportedTree(path, dir.path() / "before");
    ASSERT_FALSE(before.empty());
    std::int32_t inboxBefore = 0, sentBefore = 0;
    {
      auto store = Store::open(path, true);
      store->validateIpmTree();
      Folder inbox = store->defaultFolder(6);  // found by recorded id: names may be localised
      Folder sent = store->defaultFolder(5);
      inboxBefore = inbox.contentCount();
      sentBefore = sent.contentCount();
      Folder sub = inbox.addChild("Mailfold added – 追加");
      for (int i = 0; i < 3; ++i) inbox.addMessage(addedMessage("inbox " + std::to_string(i)));
      store->commit();
      for (int i = 0; i < 2; ++i) sub.addMessage(addedMessage("sub " + std::to_string(i)));
      sent.addMessage(addedMessage("sent"), kMsgFlagRead);
      store->close();
    }
    for (const auto& v : checkStore(path)) ADD_FAILURE() << v;
    std::string out;
    EXPECT_EQ(runCommand("pffinfo " + quoted(path), &out), 0) << out;

    const auto after = exportedTree(path, dir.path() / "after");
    for (const auto& [file, bytes] : before) {
      auto it = after.find(file);
      if (it == after.end()) ADD_FAILURE() << "gone after adding: " << file;
      else if (it->second != bytes) ADD_FAILURE() << "changed after adding: " << file;
    }
    int newFiles = 0;
    for (const auto& [file, bytes] : after) newFiles += before.count(file) ? 0 : 1;
    EXPECT_GT(newFiles, 6);  // the folder and six messages with their parts

    auto store = Store::open(path, false);
    EXPECT_EQ(store->defaultFolder(6).contentCount(), inboxBefore + 3);
    EXPECT_EQ(store->defaultFolder(5).contentCount(), sentBefore + 1);
    ++added;
  }
  std::printf("%d samples added to, %d refused\n", added, refused);
  EXPECT_GE(added, 8);
  EXPECT_GE(refused, 5);
}

}  // namespace
}  // namespace mailfold::pst::safety
