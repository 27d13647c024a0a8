// The store port over the real store library, and a folder's conversion through it: folders,
// existing stores, errors with their kinds, group commits, and what happens to messages whose
// commit fails.
#include "engine/pst_store_port.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <csignal>

#include "convert_fixture.h"
#include "engine/conversion_log.h"
#include "engine/folder_conversion.h"
#include "engine/message_reader.h"
#include "engine/recording_screen.h"
#include "pst/messaging/property_tags.h"
#include "pst/messaging/store.h"

namespace mailfold::test {
namespace {

using engine::ConversionError;
using engine::FailureKind;
using engine::PstStoreOpener;

constexpr const char* kName = "Mail : Created - 6.12.26 4.7.05";

// The kind of the ConversionError `action` throws; nullopt when it throws none.
std::optional<FailureKind> KindOf(const std::function<void()>& action, std::string* cause = nullptr) {
  try {
    action();
  } catch (const ConversionError& error) {
    if (cause) *cause = error.what();
    return error.kind();
  }
  return std::nullopt;
}

std::size_t MessagesIn(const fs::path& storePath, const std::string& path) {
  auto store = pst::Store::open(storePath.string(), false);
  return store->folderByPath(path).messages().size();
}

pst::MessageModel Read(const fs::path& file) { return engine::ReadMessageFile(file.string()); }

TEST(PstStorePort, FoldersAreFoundAndMadeByNameAndANewStoreHasItsDefaultFolders) {
  TempDir dir;
  PstStoreOpener stores;
  auto store = stores.Open((dir.path() / "a.pst").string(), kName, {});
  EXPECT_EQ(store->InboxName(), "Inbox");
  EXPECT_EQ(store->SentItemsName(), "Sent Items");
  const auto top = store->Top();
  const auto inbox = store->FindFolder({"Inbox"});
  ASSERT_TRUE(inbox);
  const auto work = store->CreateFolder(*inbox, "Work");
  store->CreateFolder(work, "2020");
  EXPECT_EQ(store->FindFolder({"Inbox", "Work", "2020"}).has_value(), true);
  EXPECT_FALSE(store->FindFolder({"Inbox", "Home", "Old"}));
  EXPECT_EQ(store->FindFolder({}), top);
  // Sub-folders in creation order; a second folder of the same name, or no name, is refused.
  store->CreateFolder(top, "Zeta");
  store->CreateFolder(top, "Alpha");
  const auto names = store->SubfolderNames(top);
  ASSERT_GE(names.size(), 2u);
  EXPECT_EQ(names[names.size() - 2], "Zeta");
  EXPECT_EQ(names.back(), "Alpha");
  EXPECT_EQ(KindOf([&] { store->CreateFolder(top, "Zeta"); }), FailureKind::BadInput);
  EXPECT_EQ(KindOf([&] { store->CreateFolder(top, ""); }), FailureKind::BadInput);
  // Missing folders on the way are made under their real parents.
  const auto deep = engine::EnsureFolder(*store, {"Archive", "Calendar", "2020"});
  EXPECT_EQ(store->FindFolder({"Archive", "Calendar", "2020"}), deep);
  EXPECT_FALSE(store->Close().failure);
  // A closed store refuses further use.
  EXPECT_EQ(KindOf([&] { store->Top(); }), FailureKind::Io);
}

// Flags of every message in the folder at `path` of a store file, read back independently.
std::vector<std::int32_t> FlagsIn(const fs::path& storePath, const std::string& path) {
  auto store = pst::Store::open(storePath.string(), false);
  std::vector<std::int32_t> flags;
  for (auto nid : store->folderByPath(path).messages()) {
    const auto model = store->readMessage(nid);
    const auto* value = model.props.getAs<std::int32_t>(pst::kPrMessageFlags);
    flags.push_back(value ? *value : -1);
  }
  return flags;
}

TEST(PstStorePort, ConvertedMessagesAreReadNeverDraftsAndThePaperclipFollowsTheAttachments) {
  TempDir dir;
  const auto sources = dir.path() / "src";
  const auto draft = sources / "draft.eml";
  WriteText(draft, "X-Unsent: 1\r\n" + MessageText("draft"));
  const std::vector<std::string> files = {WriteMessage(sources, "plain").string(),
                                          WriteMessage(sources, "attached", true).string(), draft.string()};
  PstStoreOpener stores;
  RecordingScreen screen;
  engine::FolderConversion conversion(screen, screen.requests, stores);
  const auto outcome =
      conversion.StartMigration(
          {"src", sources.string(), files, {}, {}, {engine::ConversionMode::MultipleFolders, dir.str()}, false});
  ASSERT_EQ(outcome.imported, 3);
  const auto flags = FlagsIn(dir.path() / "src.pst", "");
  ASSERT_EQ(flags.size(), 3u);
  EXPECT_EQ(flags[0], pst::kMsgFlagRead);                           // not 0x11: no attachment
  EXPECT_EQ(flags[1], pst::kMsgFlagRead | pst::kMsgFlagHasAttach);  // the paperclip stays
  EXPECT_EQ(flags[2], pst::kMsgFlagRead);                           // a draft's file is mail read, not a draft
}

// A store that existed is someone's own: no default folder is made or designated in it. The
// Inbox and Sent Items of the folder rules are the folders it records, else top-level folders of
// those names, else such folders made when a message or sub-folder first needs them.
TEST(PstStorePort, ExistingStoresKeepTheirDefaultFolders) {
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
    PstStoreOpener stores;
    auto store = stores.Open(path.string(), kName, {});
    EXPECT_EQ(store->InboxName(), "Inbox");
    EXPECT_EQ(store->SentItemsName(), "Sent Items");
    EXPECT_EQ(store->SubfolderNames(store->Top()).size(), foldersBefore);  // nothing made yet
    store->AddMessage(engine::EnsureFolder(*store, {store->InboxName()}), Read(message), message.string());
    EXPECT_FALSE(store->Close().failure);

    auto after = pst::Store::open(path.string(), false);
    EXPECT_EQ(after->folderByPath("Inbox").messages().size(), c.inboxMessagesAfter);
    EXPECT_EQ(after->ipmRoot().children().size(), foldersBefore + c.foldersMade);
    auto recorded = after->findDefaultFolder(6);
    EXPECT_EQ(recorded ? std::optional<pst::ndb::Nid>(recorded->nid()) : std::nullopt, inboxBefore);
  }
}

#ifndef _WIN32
// Makes writes past `bytes` fail with EFBIG, for the file-size faults below (POSIX only).
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
#endif

TEST(PstStorePort, FailuresKeepTheirKind) {
  TempDir dir;
  WriteText(dir.path() / "empty.eml", "");
  WriteText(dir.path() / "not-a-store.pst", "This is a text file, not a store.\n");
  PstStoreOpener stores;
  std::string cause;
  // Store files that cannot be created, or are not stores.
  EXPECT_EQ(KindOf([&] { stores.Open((dir.path() / "no" / "x.pst").string(), kName, {}); }, &cause),
            FailureKind::NotFound);
#ifdef _WIN32
  EXPECT_NE(cause.find("Path not found"), std::string::npos) << cause;  // the system's words
#else
  EXPECT_NE(cause.find("No such file or directory"), std::string::npos) << cause;
#endif
  EXPECT_EQ(KindOf([&] { stores.Open((dir.path() / "not-a-store.pst").string(), kName, {}); }, &cause),
            FailureKind::Corrupt);
  EXPECT_NE(cause.find("not-a-store.pst"), std::string::npos) << cause;
  EXPECT_EQ(ReadText(dir.path() / "not-a-store.pst"), "This is a text file, not a store.\n");
#ifndef _WIN32
  // A store whose creation fails is taken away again (it would block every later run); an empty
  // file given for it stays empty.
  WriteText(dir.path() / "placeholder.pst", "");
  {
    FileSizeLimit limit(20000);
    EXPECT_EQ(KindOf([&] { stores.Open((dir.path() / "new.pst").string(), kName, {}); }), FailureKind::Io);
    EXPECT_EQ(KindOf([&] { stores.Open((dir.path() / "placeholder.pst").string(), kName, {}); }), FailureKind::Io);
  }
  EXPECT_FALSE(fs::exists(dir.path() / "new.pst"));
  EXPECT_EQ(fs::file_size(dir.path() / "placeholder.pst"), 0u);
#endif
  // Message files that are no messages, or are gone.
  EXPECT_EQ(KindOf([&] { Read(dir.path() / "empty.eml"); }, &cause), FailureKind::BadInput);
  EXPECT_NE(cause.find("empty.eml"), std::string::npos) << cause;
  EXPECT_EQ(KindOf([&] { Read(dir.path() / "gone.eml"); }), FailureKind::NotFound);
  // A protected store without its password, and with another one.
  MAILFOLD_REQUIRE_SHARED();
  const auto locked = dir.path() / "locked.pst";
  fs::copy_file(sharedDir() / "samples" / "pst" / "pst2john-outlook2010-openwall-password.pst", locked);
  fs::permissions(locked, fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(KindOf([&] { stores.Open(locked.string(), kName, {}); }), FailureKind::Refused);
  int asked = 0;
  EXPECT_EQ(KindOf([&] {
              stores.Open(locked.string(), kName, [&asked](const std::string&) {
                ++asked;
                return std::optional<std::string>("openwall2");
              });
            }),
            FailureKind::Refused);
  EXPECT_EQ(asked, 1);
  EXPECT_FALSE(KindOf([&] {
    stores.Open(locked.string(), kName, [](const std::string&) { return std::optional<std::string>("openwall"); });
  }));
}

TEST(PstStorePort, CommitsInGroupsByBytesAndByTime) {
  TempDir dir;
  for (int i = 0; i < 7; ++i) WriteMessage(dir.path() / "src", "m" + std::to_string(i));
  auto now = std::chrono::steady_clock::time_point{};
  // Three files of the same size make a group.
  const auto size = fs::file_size(dir.path() / "src" / "m0.eml");
  PstStoreOpener stores({3 * size, std::chrono::milliseconds(1000)}, [&now] { return now; });
  const auto storePath = dir.path() / "groups.pst";
  auto store = stores.Open(storePath.string(), kName, {});
  const auto inbox = *store->FindFolder({"Inbox"});
  const auto add = [&](int i) {
    const auto file = dir.path() / "src" / ("m" + std::to_string(i) + ".eml");
    store->AddMessage(inbox, Read(file), file.string());
  };
  EXPECT_EQ(stores.Commits(storePath.string()), 1u);  // the default folders
  add(0);
  add(1);
  EXPECT_EQ(stores.Commits(storePath.string()), 1u);
  add(2);  // the third message completes a group
  EXPECT_EQ(stores.Commits(storePath.string()), 2u);
  EXPECT_EQ(MessagesIn(storePath, "Inbox"), 3u);  // on disk, seen by a second reader
  add(3);
  EXPECT_EQ(stores.Commits(storePath.string()), 2u);
  now += std::chrono::milliseconds(1000);  // a second of work since the last commit
  add(4);
  EXPECT_EQ(stores.Commits(storePath.string()), 3u);
  EXPECT_EQ(MessagesIn(storePath, "Inbox"), 5u);
  add(5);
  const auto report = store->Close();  // commits the rest
  EXPECT_TRUE(report.lost.empty());
  EXPECT_EQ(stores.Commits(storePath.string()), 4u);
  EXPECT_EQ(MessagesIn(storePath, "Inbox"), 6u);

  // A store dropped without Close still leaves its messages on disk.
  {
    auto reopened = stores.Open(storePath.string(), kName, {});
    const auto file = dir.path() / "src" / "m6.eml";
    reopened->AddMessage(*reopened->FindFolder({"Inbox"}), Read(file), file.string());
  }
  EXPECT_EQ(MessagesIn(storePath, "Inbox"), 7u);
}

// A folder converted into a store that fills up: the messages of the group whose commit failed
// are not in the file, and the outcome and the log say so, with the cause.
TEST(PstStorePort, MessagesLostToAFailedCommitMoveToTheLog) {
#ifdef _WIN32
  GTEST_SKIP() << "the store fills up under a file-size limit (setrlimit), which Windows does not have";
#else
  TempDir dir;
  // Big enough that a group of them outgrows the limit below.
  for (int i = 0; i < 40; ++i)
    WriteText(dir.path() / "src" / ("m" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".eml"),
              MessageText("m" + std::to_string(i)) + std::string(60000, 'x') + "\r\n");
  const auto storePath = dir.path() / "src.pst";
  PstStoreOpener stores({8 * fs::file_size(dir.path() / "src" / "m00.eml"), std::chrono::hours(1)});
  stores.Open(storePath.string(), kName, {})->Close();  // made beforehand, so the limit counts from it

  RecordingScreen screen;
  engine::FolderConversion conversion(screen, screen.requests, stores);
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(dir.path() / "src")) files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  engine::FolderOutcome outcome;
  {
    FileSizeLimit limit(fs::file_size(storePath) + 1200000);
    outcome = conversion.StartMigration({"src", (dir.path() / "src").string(), files, {}, {},
                                         {engine::ConversionMode::MultipleFolders, dir.str()}, false});
  }
  EXPECT_TRUE(outcome.Reconciles());
  ASSERT_GT(outcome.failed, 0) << "the size limit never hit the store";
  // The counts and the log say what the file holds: the committed messages and no others.
  EXPECT_GT(outcome.imported, 0);
  EXPECT_EQ(outcome.imported % 8, 0) << "only whole groups were committed";
  EXPECT_EQ(MessagesIn(storePath, ""), static_cast<std::size_t>(outcome.imported));
  const std::string log = ReadText(outcome.logPath);
  std::size_t badLines = 0;
  for (auto at = log.find("BAD : "); at != std::string::npos; at = log.find("BAD : ", at + 1)) ++badLines;
  EXPECT_EQ(badLines, static_cast<std::size_t>(outcome.failed));
  for (const auto& failure : outcome.failures) {
    EXPECT_EQ(failure.failure.kind, FailureKind::Io) << failure.file;
    EXPECT_NE(log.find("BAD : " + failure.file + "\r\n    " + failure.failure.cause + "\r\n"), std::string::npos);
  }
#endif
}

// A run refused because another writer holds the store leaves that writer's store and log as they
// are; a conversion that fails before it imports commits nothing, and takes away a store it made.
TEST(PstStorePort, ARefusedOrAbandonedRunLeavesEverythingAsItWas) {
  TempDir dir;
  WriteText(dir.path() / "src" / "a.eml", MessageText("a"));
  const auto storePath = dir.path() / "src.pst";
  const auto logPath = dir.path() / "src.log";
  PstStoreOpener stores;
  auto running = stores.Open(storePath.string(), kName, {});
  running->AddMessage(running->Top(), Read(dir.path() / "src" / "a.eml"), "a.eml");
  WriteText(logPath, "---- Log Starts -----\r\nBAD : /elsewhere/x.eml\r\n");

  RecordingScreen screen;
  engine::FolderConversion second(screen, screen.requests, stores);
  const auto outcome = second.StartMigration({"src", (dir.path() / "src").string(),
                                              {(dir.path() / "src" / "a.eml").string()}, {}, {},
                                              {engine::ConversionMode::MultipleFolders, dir.str()}, false});
  EXPECT_EQ(outcome.ending, engine::FolderEnding::StoreFailed);
  EXPECT_EQ(outcome.failed, 1);
  EXPECT_TRUE(outcome.logPath.empty());
  EXPECT_NE(outcome.error.find("the store is in use"), std::string::npos) << outcome.error;
  EXPECT_EQ(ReadText(logPath), "---- Log Starts -----\r\nBAD : /elsewhere/x.eml\r\n");
  ASSERT_EQ(screen.messages.size(), 1u);
  EXPECT_NE(screen.messages[0].text.find("Wait until the other conversion has finished"), std::string::npos);
  EXPECT_EQ(screen.messages[0].text.find("are listed in"), std::string::npos) << screen.messages[0].text;
  EXPECT_TRUE(running->Close().lost.empty());
  EXPECT_EQ(MessagesIn(storePath, ""), 1u);  // the running conversion's message is there

  // Abandoned: an existing store keeps its last commit byte for byte; a new one is taken away.
  const std::string before = ReadText(storePath);
  auto existing = stores.Open(storePath.string(), kName, {});
  existing->AddMessage(existing->CreateFolder(existing->Top(), "Dropped"), Read(dir.path() / "src" / "a.eml"), "a.eml");
  existing->Abandon();
  EXPECT_EQ(ReadText(storePath), before);
  stores.Open((dir.path() / "new.pst").string(), kName, {})->Abandon();
  EXPECT_FALSE(fs::exists(dir.path() / "new.pst"));
}

}  // namespace
}  // namespace mailfold::test
