// A store written with folders and 1,000 messages, read back by our own reader and by three
// independent readers (libpff, libpst, pst-extractor), which must see exactly what was written.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>

#include "pst/messaging/property_tags.h"
#include "pst/messaging/store.h"
#include "pst/messaging/store_check.h"
#include "sample_mail.h"
#include "support/paths.h"
#include "support/temp_dir.h"

namespace mailfold::pst {
namespace {

using test::ManifestFolder;

constexpr int kMessages = 1000;

std::string readAllOf(const ByteSource& src) {
  std::string out(src.size(), '\0');
  std::size_t at = 0;
  while (at < out.size()) {
    const std::size_t n = src.read(at, std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(out.data()) + at, out.size() - at));
    if (n == 0) break;
    at += n;
  }
  out.resize(at);
  return out;
}

bool equalsPattern(const ByteSource& src, std::uint64_t size, std::uint32_t seed) {
  if (src.size() != size) return false;
  std::vector<std::uint8_t> buf(65536);
  for (std::uint64_t at = 0; at < size;) {
    const std::size_t n = src.read(at, buf);
    if (n == 0) return false;
    for (std::size_t k = 0; k < n; ++k)
      if (buf[k] != test::patternByte(at + k, seed)) return false;
    at += n;
  }
  return true;
}

class StoreRoundTrip : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::TempDir();
    path_ = dir_->str() + "/roundtrip.pst";
    auto store = Store::create(path_, "Mailfold Test – Ü");
    store->validateIpmTree();
    Folder ipm = store->ipmRoot();
    Folder archive = ipm.addChild("Archiv Ü");
    Folder year = archive.addChild("Jahr 2024 – 日本");
    Folder greek = ipm.addChild("Ελληνικά");
    Folder inbox = store->defaultFolder(6);
    folders_ = {{"Archiv Ü", {}}, {"Archiv Ü\\Jahr 2024 – 日本", {}}, {"Ελληνικά", {}}, {inbox.name(), {}}};
    Folder targets[] = {archive, year, greek, inbox};
    for (int i = 0; i < kMessages; ++i) {
      const int f = i % 10 < 2 ? 0 : i % 10 < 5 ? 1 : i % 10 < 7 ? 2 : 3;
      targets[f].addMessage(test::sampleMessage(i), test::sampleIsRead(i) ? kMsgFlagRead | kMsgFlagHasAttach : kMsgFlagHasAttach);
      folders_[f].messages.push_back(i);
      if (i % 200 == 199) store->commit();
    }
    store->close();
    manifest_ = dir_->str() + "/manifest.json";
    std::ofstream(manifest_) << test::manifestJson(folders_);
    if (const char* keep = std::getenv("MAILFOLD_KEEP_STORE")) {
      std::filesystem::copy_file(path_, keep, std::filesystem::copy_options::overwrite_existing);
      std::filesystem::copy_file(manifest_, std::string(keep) + ".json", std::filesystem::copy_options::overwrite_existing);
    }
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }

  void expectReaderAgrees(const std::string& reader) {
    std::string output;
    const int rc = test::compareWithReader(reader, path_, manifest_, output);
    if (rc == 77) GTEST_SKIP() << reader << " is not installed: " << output;
    EXPECT_EQ(rc, 0) << output;
  }

  static test::TempDir* dir_;
  static std::string path_;
  static std::string manifest_;
  static std::vector<ManifestFolder> folders_;
};

test::TempDir* StoreRoundTrip::dir_ = nullptr;
std::string StoreRoundTrip::path_;
std::string StoreRoundTrip::manifest_;
std::vector<ManifestFolder> StoreRoundTrip::folders_;

TEST_F(StoreRoundTrip, FolderTreeAndCountsReadBack) {
  auto store = Store::open(path_, false);
  EXPECT_EQ(store->displayName(), "Mailfold Test – Ü");
  std::vector<std::string> names;
  for (const Folder& f : store->ipmRoot().children()) names.push_back(f.name());
  const std::vector<std::string> expected{"Deleted Items", "Inbox",       "Outbox",  "Sent Items", "Drafts",
                                          "Calendar",      "Contacts",    "Journal", "Notes",      "Tasks",
                                          "Junk E-mail",   "Archiv Ü",    "Ελληνικά"};
  EXPECT_EQ(names, expected);
  for (const ManifestFolder& mf : folders_) {
    SCOPED_TRACE(mf.path);
    Folder f = store->folderByPath("\\" + mf.path);
    EXPECT_EQ(f.contentCount(), static_cast<std::int32_t>(mf.messages.size()));
    std::int32_t unread = 0;
    for (int i : mf.messages) unread += test::sampleIsRead(i) ? 0 : 1;
    EXPECT_EQ(f.unreadCount(), unread);
    EXPECT_EQ(f.messages().size(), mf.messages.size());
  }
  // The same folder by the display-name form of the path, and the first missing component.
  EXPECT_EQ(store->folderByPath("\\\\Mailfold Test – Ü\\Archiv Ü\\Jahr 2024 – 日本").nid(),
            store->folderByPath("\\ARCHIV Ü\\jahr 2024 – 日本").nid());  // ASCII letters match in any case
  EXPECT_EQ(store->folderByPath("\\\\Mailfold Test – Ü").nid(), store->ipmRoot().nid());
  try {
    store->folderByPath("\\Archiv Ü\\Fehlt\\Auch nicht");
    FAIL() << "a missing folder was found";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Folder \"Fehlt\" does not exist");
  }
  EXPECT_EQ(store->defaultFolder(6).name(), "Inbox");
  EXPECT_EQ(store->defaultFolder(5).name(), "Sent Items");
}

TEST_F(StoreRoundTrip, MessagesReadBackWithEveryPart) {
  auto store = Store::open(path_, false);
  int checked = 0;
  for (const ManifestFolder& mf : folders_) {
    Folder f = store->folderByPath("\\" + mf.path);
    const auto nids = f.messages();
    ASSERT_EQ(nids.size(), mf.messages.size());
    for (std::size_t k = 0; k < nids.size(); ++k) {
      const int i = mf.messages[k];
      SCOPED_TRACE(i);
      const MessageModel written = test::sampleMessage(i);
      const MessageModel read = store->readMessage(nids[k]);
      EXPECT_EQ(*read.props.getAs<std::string>(kPrSubject), test::sampleSubject(i));
      EXPECT_EQ(*read.props.getAs<std::string>(kPrBody), *written.props.getAs<std::string>(kPrBody));
      if (const Bytes* html = written.props.getAs<Bytes>(kPrHtml)) {
        EXPECT_EQ(*read.props.getAs<Bytes>(kPrHtml), *html);
      }
      const std::int32_t flags = *read.props.getAs<std::int32_t>(kPrMessageFlags);
      EXPECT_EQ((flags & kMsgFlagRead) != 0, test::sampleIsRead(i));
      EXPECT_EQ((flags & kMsgFlagHasAttach) != 0, !written.attachments.empty());
      ASSERT_EQ(read.recipients.size(), written.recipients.size());
      for (std::size_t r = 0; r < read.recipients.size(); ++r) {
        EXPECT_EQ(*read.recipients[r].props.getAs<std::string>(kPrSmtpAddress),
                  *written.recipients[r].props.getAs<std::string>(kPrSmtpAddress));
        EXPECT_EQ(*read.recipients[r].props.getAs<std::int32_t>(kPrRecipientType),
                  *written.recipients[r].props.getAs<std::int32_t>(kPrRecipientType));
      }
      EXPECT_EQ(read.props.named().size(), written.props.named().size());
      for (const auto& n : written.props.named()) {
        bool found = false;
        for (const auto& r : read.props.named())
          if (r.key == n.key) found = r.value == n.value;
        EXPECT_TRUE(found) << "named property lost";
      }
      ASSERT_EQ(read.attachments.size(), written.attachments.size());
      for (std::size_t a = 0; a < read.attachments.size(); ++a) {
        const Attachment& ra = read.attachments[a];
        const Attachment& wa = written.attachments[a];
        EXPECT_EQ(*ra.props.getAs<std::string>(kPrAttachLongFilename), *wa.props.getAs<std::string>(kPrAttachLongFilename));
        if (wa.embedded) {
          ASSERT_TRUE(ra.embedded);
          ASSERT_EQ(ra.embedded->attachments.size(), 1u);
          ASSERT_TRUE(ra.embedded->attachments[0].embedded);  // a message inside a message inside this one
          const MessageModel& deepest = *ra.embedded->attachments[0].embedded;
          EXPECT_EQ(*deepest.props.getAs<std::string>(kPrSubject), "Inner 2 of " + std::to_string(i));
          ASSERT_EQ(deepest.attachments.size(), 1u);
          const auto* data = deepest.attachments[0].props.getAs<std::shared_ptr<const ByteSource>>(kPrAttachDataBin);
          ASSERT_TRUE(data && *data);
          EXPECT_TRUE(equalsPattern(**data, 5000, static_cast<std::uint32_t>(i * 10 + 2)));
        } else {
          const auto* want = wa.props.getAs<std::shared_ptr<const ByteSource>>(kPrAttachDataBin);
          const auto* got = ra.props.getAs<std::shared_ptr<const ByteSource>>(kPrAttachDataBin);
          if ((*want)->size() == 0) {
            // An empty attachment may come back without a stream; it must not come back with bytes.
            EXPECT_TRUE(!got || (*got)->size() == 0);
            continue;
          }
          ASSERT_TRUE(got && *got);
          EXPECT_EQ(readAllOf(**got), readAllOf(**want));
        }
      }
      ++checked;
    }
  }
  EXPECT_EQ(checked, kMessages);
}

TEST_F(StoreRoundTrip, CheckerFindsNothing) {
  std::string lines;
  StoreCheckOptions strict;
  strict.requireFullDataBlocks = true;
  for (const auto& v : checkStore(path_, strict)) lines += v + "\n";
  EXPECT_EQ(lines, "");
}

TEST_F(StoreRoundTrip, LibpffReadsEverything) {
  MAILFOLD_REQUIRE_SHARED();
  expectReaderAgrees("pffexport");
}

TEST_F(StoreRoundTrip, LibpstReadsEverything) { expectReaderAgrees("readpst"); }

TEST_F(StoreRoundTrip, PstExtractorReadsEverything) { expectReaderAgrees("npm"); }

}  // namespace
}  // namespace mailfold::pst
