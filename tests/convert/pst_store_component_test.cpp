// The store component over the real store library: paths and their errors, folders, message
// flags, group commits and what happens to messages whose commit fails.
#include "engine/pst_store_component.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include "convert_fixture.h"
#include "engine/conversion_log.h"
#include "pst/messaging/property_tags.h"
#include "pst/messaging/store.h"

namespace mailfold::test {
namespace {

using engine::DefaultFolder;
using engine::kDefaultStoreFormat;
using engine::kImportRfc822;
using engine::kMailFolderKind;
using engine::kMailItemKind;
using engine::PstStoreSessionFactory;
using engine::StoreError;

constexpr const char* kName = "Mail : Created - 6.12.26 4.7.05";

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const StoreError& error) {
    return error.description();
  } catch (const std::exception& error) {
    return std::string("not a StoreError: ") + error.what();
  }
  return "no error";
}

// Flags of every message in the folder at `path` of a store file, read back independently of
// the session that wrote it.
std::vector<std::int32_t> FlagsIn(const fs::path& storePath, const std::string& path) {
  auto store = pst::Store::open(storePath.string(), false);
  std::vector<std::int32_t> flags;
  auto folder = store->folderByPath(path);
  for (auto nid : folder.messages()) {
    const auto model = store->readMessage(nid);
    const auto* value = model.props.getAs<std::int32_t>(pst::kPrMessageFlags);
    flags.push_back(value ? *value : -1);
  }
  return flags;
}

std::size_t MessagesIn(const fs::path& storePath, const std::string& path) {
  auto store = pst::Store::open(storePath.string(), false);
  return store->folderByPath(path).messages().size();
}

TEST(PstStoreComponent, FolderPathsResolveAndMissingOnesNameTheFirstMissingComponent) {
  TempDir dir;
  PstStoreSessionFactory stores;
  auto session = stores.CreateSession();
  const auto store = session->LogonPstStore((dir.path() / "a.pst").string(), kDefaultStoreFormat, kName);
  store->ValidateIPMTree();
  EXPECT_EQ(store->GetDefaultFolder(DefaultFolder::Inbox)->Name(), "Inbox");
  EXPECT_EQ(store->GetDefaultFolder(DefaultFolder::SentItems)->Name(), "Sent Items");
  EXPECT_EQ(session->GetStoreFromID(store->EntryID()), store);
  ASSERT_EQ(session->Stores().size(), 1u);

  const std::string root = std::string("\\\\") + kName;
  auto work = session->GetFolderFromPath(root + "\\Inbox")->AddFolder("Work", kMailFolderKind);
  work->AddFolder("2020", kMailFolderKind);

  EXPECT_EQ(session->GetFolderFromPath(root)->Name(), store->IPMRootFolder()->Name());
  EXPECT_EQ(session->GetFolderFromPath(root + "\\")->Name(), store->IPMRootFolder()->Name());
  EXPECT_EQ(session->GetFolderFromPath(root + "\\Inbox\\Work\\2020\\")->Name(), "2020");
  EXPECT_EQ(ErrorOf([&] { session->GetFolderFromPath(root + "\\Inbox\\Home\\Old"); }),
            "Folder \"Home\" does not exist");
  EXPECT_EQ(ErrorOf([&] { session->GetFolderFromPath(root + "\\Archive"); }), "Folder \"Archive\" does not exist");
  // Another store's name, or a name that only begins like this store's.
  EXPECT_EQ(ErrorOf([&] { session->GetFolderFromPath("\\\\Other\\Inbox"); }), "Folder \"Other\" does not exist");
  EXPECT_EQ(ErrorOf([&] { session->GetFolderFromPath(root + "x\\Inbox"); }),
            "Folder \"" + std::string(kName) + "x\" does not exist");

  // Sub-folders in creation order; a second folder of the same name is refused.
  auto top = session->GetFolderFromPath(root);
  top->AddFolder("Zeta", kMailFolderKind);
  top->AddFolder("Alpha", kMailFolderKind);
  std::vector<std::string> names;
  for (const auto& child : top->Folders()) names.push_back(child->Name());
  ASSERT_GE(names.size(), 2u);
  EXPECT_EQ(names[names.size() - 2], "Zeta");
  EXPECT_EQ(names.back(), "Alpha");
  EXPECT_NE(ErrorOf([&] { top->AddFolder("Zeta", kMailFolderKind); }), "no error");
  EXPECT_NE(ErrorOf([&] { top->AddFolder("", kMailFolderKind); }), "no error");
  session->Logoff();

  // Handles kept past the log-off fail cleanly.
  EXPECT_NE(ErrorOf([&] { top->Folders(); }), "no error");
  EXPECT_NE(ErrorOf([&] { session->GetFolderFromPath(root); }), "no error");
}

// A store that existed is someone's own: no default folder is made or designated in it. The
// Inbox and Sent Items of the folder rules are the folders it records, else top-level folders of
// those names, else such folders made when a message or sub-folder first needs them.
TEST(PstStoreComponent, ExistingStoresKeepTheirDefaultFolders) {
  MAILFOLD_REQUIRE_SHARED();
  TempDir dir;
  const auto samples = sharedDir() / "samples" / "pst";
  const auto message = WriteMessage(dir.path() / "src", "one");
  struct Case {
    const char* sample;
    std::size_t inboxMessagesAfter;
    std::size_t foldersMade;
  };
  for (const Case& c : {Case{"aranetic-flags-jane-doe.pst", 7, 0},   // recorded
                        Case{"outlook365-backup.pst", 2, 0},         // by name only
                        Case{"japanese-outlook-simple.pst", 1, 1}}) {  // neither: made when first used
    SCOPED_TRACE(c.sample);
    const auto path = dir.path() / c.sample;
    fs::copy_file(samples / c.sample, path, fs::copy_options::overwrite_existing);
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
    std::size_t foldersBefore = 0;
    std::optional<pst::ndb::Nid> inboxBefore;
    {
      auto before = pst::Store::open(path.string(), false);
      foldersBefore = before->ipmRoot().children().size();
      if (auto inbox = before->findDefaultFolder(6)) inboxBefore = inbox->nid();
    }
    PstStoreSessionFactory stores;
    auto session = stores.CreateSession();
    const auto store = session->LogonPstStore(path.string(), kDefaultStoreFormat, kName);
    store->ValidateIPMTree();
    const auto inbox = store->GetDefaultFolder(DefaultFolder::Inbox);
    EXPECT_EQ(inbox->Name(), "Inbox");
    EXPECT_EQ(store->GetDefaultFolder(DefaultFolder::SentItems)->Name(), "Sent Items");
    EXPECT_EQ(store->IPMRootFolder()->Folders().size(), foldersBefore);  // nothing made yet
    auto item = inbox->AddItem(kMailItemKind);
    item->Import(message.string(), kImportRfc822);
    item->Save();
    session->Logoff();

    auto after = pst::Store::open(path.string(), false);
    EXPECT_EQ(after->folderByPath("Inbox").messages().size(), c.inboxMessagesAfter);
    EXPECT_EQ(after->ipmRoot().children().size(), foldersBefore + c.foldersMade);
    auto recorded = after->findDefaultFolder(6);
    EXPECT_EQ(recorded ? std::optional<pst::ndb::Nid>(recorded->nid()) : std::nullopt, inboxBefore);
  }
}

TEST(PstStoreComponent, ReadFlagIsAddedToTheImportersFlags) {
  TempDir dir;
  const auto sources = dir.path() / "src";
  const auto plain = WriteMessage(sources, "plain");
  const auto attached = WriteMessage(sources, "attached", true);
  const auto draft = sources / "draft.eml";
  WriteText(draft, "X-Unsent: 1\r\n" + MessageText("draft"));

  const auto storePath = dir.path() / "flags.pst";
  PstStoreSessionFactory stores;
  {
    auto session = stores.CreateSession();
    const auto store = session->LogonPstStore(storePath.string(), kDefaultStoreFormat, kName);
    store->ValidateIPMTree();
    auto inbox = store->GetDefaultFolder(DefaultFolder::Inbox);
    for (const auto& file : {plain, attached, draft}) {
      auto message = inbox->AddItem(kMailItemKind);
      message->Import(file.string(), kImportRfc822);
      message->MarkAsRead();
      message->Save();
    }
    session->Logoff();
  }
  auto flags = FlagsIn(storePath, "Inbox");
  ASSERT_EQ(flags.size(), 3u);
  EXPECT_EQ(flags[0], pst::kMsgFlagRead);                             // not 0x11: no attachment
  EXPECT_EQ(flags[1], pst::kMsgFlagRead | pst::kMsgFlagHasAttach);    // the paperclip stays
  EXPECT_EQ(flags[2] & (pst::kMsgFlagRead | pst::kMsgFlagUnsent), pst::kMsgFlagRead | pst::kMsgFlagUnsent);
  EXPECT_EQ(flags[2] & pst::kMsgFlagHasAttach, 0);
}

TEST(PstStoreComponent, BadInputFailsWithItsCause) {
  TempDir dir;
  WriteText(dir.path() / "empty.eml", "");
  WriteText(dir.path() / "not-a-store.pst", "This is a text file, not a store.\n");
  PstStoreSessionFactory stores;

  // Store files that cannot be created or are not stores: the system's or the reader's reason.
  auto session = stores.CreateSession();
  const auto missingFolder = ErrorOf(
      [&] { session->LogonPstStore((dir.path() / "no" / "x.pst").string(), kDefaultStoreFormat, kName); });
  EXPECT_NE(missingFolder.find("No such file or directory"), std::string::npos) << missingFolder;
  const auto underFile = ErrorOf([&] {
    session->LogonPstStore((dir.path() / "not-a-store.pst" / "x.pst").string(), kDefaultStoreFormat, kName);
  });
  EXPECT_NE(underFile.find("Not a directory"), std::string::npos) << underFile;
  const auto notStore =
      ErrorOf([&] { session->LogonPstStore((dir.path() / "not-a-store.pst").string(), kDefaultStoreFormat, kName); });
  EXPECT_NE(notStore.find("not-a-store.pst"), std::string::npos) << notStore;
  EXPECT_EQ(ReadText(dir.path() / "not-a-store.pst"), "This is a text file, not a store.\n");
  EXPECT_NE(ErrorOf([&] { session->LogonPstStore((dir.path() / "b.pst").string(), 2, kName); }), "no error");

  // Messages that cannot be imported, and a message saved before it was imported.
  const auto store = session->LogonPstStore((dir.path() / "ok.pst").string(), kDefaultStoreFormat, kName);
  store->ValidateIPMTree();
  auto inbox = store->GetDefaultFolder(DefaultFolder::Inbox);
  auto message = inbox->AddItem(kMailItemKind);
  EXPECT_NE(ErrorOf([&] { message->Save(); }), "no error");
  const auto empty = ErrorOf([&] { message->Import((dir.path() / "empty.eml").string(), kImportRfc822); });
  EXPECT_NE(empty.find("empty.eml"), std::string::npos) << empty;
  const auto missing = ErrorOf([&] { message->Import((dir.path() / "gone.eml").string(), kImportRfc822); });
  EXPECT_NE(missing.find("gone.eml"), std::string::npos) << missing;
  EXPECT_NE(ErrorOf([&] { inbox->AddItem(1); }), "no error");
  EXPECT_NE(ErrorOf([&] { inbox->AddFolder("Notes", 2); }), "no error");
  session->Logoff();
  EXPECT_EQ(MessagesIn(dir.path() / "ok.pst", "Inbox"), 0u);
  EXPECT_NE(ErrorOf([&] { session->Logoff(); }), "no error");
}

TEST(PstStoreComponent, CommitsInGroupsByCountAndByTime) {
  TempDir dir;
  for (int i = 0; i < 7; ++i) WriteMessage(dir.path() / "src", "m" + std::to_string(i));
  auto now = std::chrono::steady_clock::time_point{};
  PstStoreSessionFactory stores({3, std::chrono::milliseconds(1000)}, [&now] { return now; });
  const auto storePath = dir.path() / "groups.pst";
  auto session = stores.CreateSession();
  const auto store = session->LogonPstStore(storePath.string(), kDefaultStoreFormat, kName);
  store->ValidateIPMTree();
  auto inbox = store->GetDefaultFolder(DefaultFolder::Inbox);
  const auto save = [&](int i) {
    auto message = inbox->AddItem(kMailItemKind);
    message->Import((dir.path() / "src" / ("m" + std::to_string(i) + ".eml")).string(), kImportRfc822);
    message->MarkAsRead();
    message->Save();
  };
  EXPECT_EQ(stores.Commits(storePath.string()), 1u);  // the default folders
  save(0);
  save(1);
  EXPECT_EQ(stores.Commits(storePath.string()), 1u);
  save(2);  // the third message completes a group
  EXPECT_EQ(stores.Commits(storePath.string()), 2u);
  EXPECT_EQ(MessagesIn(storePath, "Inbox"), 3u);  // on disk, seen by a second reader
  save(3);
  EXPECT_EQ(stores.Commits(storePath.string()), 2u);
  now += std::chrono::milliseconds(1000);  // a second of work since the last commit
  save(4);
  EXPECT_EQ(stores.Commits(storePath.string()), 3u);
  EXPECT_EQ(MessagesIn(storePath, "Inbox"), 5u);
  save(5);
  session->Logoff();  // commits the rest
  EXPECT_EQ(stores.Commits(storePath.string()), 4u);
  EXPECT_EQ(MessagesIn(storePath, "Inbox"), 6u);
  EXPECT_TRUE(stores.UncommittedFiles(storePath.string()).empty());

  // A session dropped without Logoff still leaves its messages on disk.
  {
    auto second = stores.CreateSession();
    auto reopened = second->LogonPstStore(storePath.string(), kDefaultStoreFormat, kName);
    auto message = reopened->GetDefaultFolder(DefaultFolder::Inbox)->AddItem(kMailItemKind);
    message->Import((dir.path() / "src" / "m6.eml").string(), kImportRfc822);
    message->Save();
  }
  EXPECT_EQ(MessagesIn(storePath, "Inbox"), 7u);
}

// Makes writes past `bytes` fail with EFBIG, for the file-size fault below.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previousHandler_);
  }

 private:
  rlimit saved_{};
  void (*previousHandler_)(int) = nullptr;
};

TEST(PstStoreComponent, MessagesLostToAFailedCommitMoveToTheLog) {
  TempDir dir;
  std::vector<fs::path> files;
  // Big enough that a group of them outgrows the limit below.
  for (int i = 0; i < 40; ++i) {
    const auto path = dir.path() / "src" / ("m" + std::to_string(i) + ".eml");
    WriteText(path, MessageText("m" + std::to_string(i)) + std::string(60000, 'x') + "\r\n");
    files.push_back(path);
  }
  const auto storePath = dir.path() / "full.pst";
  const auto logPath = dir.path() / "full.log";
  engine::StartLog(logPath.string());

  PstStoreSessionFactory stores({8, std::chrono::hours(1)});
  engine::FolderOutcome outcome;
  outcome.storePath = storePath.string();
  outcome.logPath = logPath.string();
  outcome.queued = static_cast<std::int32_t>(files.size());
  std::vector<std::string> failedBySave;
  {
    auto session = stores.CreateSession();
    const auto store = session->LogonPstStore(storePath.string(), kDefaultStoreFormat, kName);
    store->ValidateIPMTree();
    auto inbox = store->GetDefaultFolder(DefaultFolder::Inbox);
    FileSizeLimit limit(fs::file_size(storePath) + 1200000);
    for (const auto& file : files) {
      // What the engine's import loop does with each file.
      try {
        auto message = inbox->AddItem(kMailItemKind);
        message->Import(file.string(), kImportRfc822);
        message->MarkAsRead();
        message->Save();
        ++outcome.imported;
      } catch (const StoreError&) {
        ++outcome.failed;
        failedBySave.push_back(file.string());
        engine::LogAppender(logPath.string()).WriteBad(file.string());
      }
    }
    EXPECT_NE(ErrorOf([&] { session->Logoff(); }), "no error");
  }
  ASSERT_FALSE(failedBySave.empty()) << "the size limit never hit the store";
  const auto lost = stores.UncommittedFiles(storePath.string());
  EXPECT_FALSE(lost.empty());
  EXPECT_LT(lost.size(), 8u);

  stores.Reconcile(outcome);
  EXPECT_TRUE(stores.UncommittedFiles(storePath.string()).empty());
  EXPECT_TRUE(outcome.Reconciles());
  // The counts and the log now say what the file holds: the committed messages and no others.
  EXPECT_EQ(MessagesIn(storePath, "Inbox"), static_cast<std::size_t>(outcome.imported));
  const std::string log = ReadText(logPath);
  std::size_t badLines = 0;
  for (auto at = log.find("BAD : "); at != std::string::npos; at = log.find("BAD : ", at + 1)) ++badLines;
  EXPECT_EQ(badLines, static_cast<std::size_t>(outcome.failed));
  for (const auto& file : lost) EXPECT_NE(log.find("BAD : " + file + "\r\n"), std::string::npos) << file;
  EXPECT_GT(outcome.imported, 0);
  EXPECT_EQ(outcome.imported % 8, 0) << "only whole groups were committed";
}

}  // namespace
}  // namespace mailfold::test
