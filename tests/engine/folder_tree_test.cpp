// Rebuilding the source folder tree in the store: sorting, repeats, special names, the Inbox and
// Sent mapping, drive roots, and the repair of missing parents.
#include <gtest/gtest.h>

#include "conversion_fixture.h"
#include "engine/folder_hierarchy.h"
#include "engine/store_paths.h"

namespace mailfold::engine {
namespace {

using test::ConversionTest;

TEST(FolderList, QuickSortPutsParentsBeforeChildren) {
  std::vector<std::string> list = {"\\Projects\\2020", "", "\\Inbox\\Work", "\\Calendar", "\\Projects", "\\Inbox", ""};
  QuickSortList(list, 0, static_cast<long>(list.size()) - 1);
  EXPECT_EQ(list, (std::vector<std::string>{"", "", "\\Calendar", "\\Inbox", "\\Inbox\\Work", "\\Projects",
                                            "\\Projects\\2020"}));

  // Larger lists in every arrangement sort like std::sort.
  std::vector<std::string> many;
  for (int i = 0; i < 500; ++i) many.push_back("\\f" + std::to_string((i * 7919) % 331));
  auto expected = many;
  std::sort(expected.begin(), expected.end());
  QuickSortList(many, 0, static_cast<long>(many.size()) - 1);
  EXPECT_EQ(many, expected);
  QuickSortList(many, 0, static_cast<long>(many.size()) - 1);  // already sorted
  EXPECT_EQ(many, expected);

  std::vector<std::string> one = {"x"};
  QuickSortList(one, 0, 0);
  EXPECT_EQ(one, std::vector<std::string>{"x"});
  EXPECT_THROW(QuickSortList(one, 0, 1), std::out_of_range);
}

TEST(FolderList, RemoveDuplicatesKeepsOneOfEachAndCompacts) {
  std::vector<std::string> list = {"", "", "\\A", "\\A", "\\A", "\\B", "\\C", "\\C"};
  RemoveDuplicates(list);
  EXPECT_EQ(list, (std::vector<std::string>{"\\A", "\\B", "\\C"}));
  std::vector<std::string> empty = {"", "", ""};
  RemoveDuplicates(empty);
  EXPECT_EQ(empty.size(), 3u);
}

TEST(FolderList, SpecialPaths) {
  for (const char* special : {"\\Inbox", "\\Calendar", "\\Archive\\Contacts", "\\Emailed Contacts", "Inbox\\Sent",
                              "\\Tasks", "\\Sent", "\\Notebook", "\\Conversations"})
    EXPECT_TRUE(IsSpecialFolderPath(special)) << special;
  for (const char* ordinary : {"Inbox", "\\Inbox\\Work", "\\Sent\\Old", "\\sent", "\\Calendars", "\\MyCalendar"})
    EXPECT_FALSE(IsSpecialFolderPath(ordinary)) << ordinary;
}

TEST(FolderList, ReadingDropsTheRootRepeatsAndVanishedFolders) {
  test::RecordingScreen screen;
  const std::vector<std::string> folders = {"/D/Mail/Inbox", "/D/Mail/Gone", "/D/Mail/Projects", "/D/Mail/Inbox",
                                            "/D/Mail/Projects/2020"};
  const auto list = ReadFolderList(folders, BackslashFormOf("/D/Mail"),
                                   [](const std::string& path) { return path != "/D/Mail/Gone"; }, screen);
  EXPECT_EQ(list, (std::vector<std::string>{"\\Inbox", "\\Projects", "\\Projects\\2020"}));
  EXPECT_EQ(screen.steps.front(), "Reading Folder(s)...");
  EXPECT_EQ(screen.steps.back(), "Creating Outlook Folders...");
  EXPECT_EQ(ReadFolderList({}, "\\x", [](const std::string&) { return true; }, screen),
            std::vector<std::string>{""});
}

// The hierarchy on its own, with paths that need no real folders (a drive root among them).
class Hierarchy : public ::testing::Test {
 protected:
  test::FakeStoreComponent stores;
  test::RecordingScreen screen;

  test::FakeFolder& Build(const std::string& root, const std::vector<std::string>& folders) {
    auto store = stores.Open("/s.pst", "S", {});
    const StoreFolders open{*store, BackslashFormOf(root), store->InboxName(), store->SentItemsName()};
    auto list = ReadFolderList(folders, open.rootPath, [](const std::string&) { return true; }, screen);
    CreateStoreFolders(list, open, screen);
    return *stores.Store("/s.pst").root;
  }
  std::vector<std::string> Paths(const test::FakeFolder& root) {
    std::vector<std::string> paths;
    root.CollectPaths("", paths);
    std::sort(paths.begin(), paths.end());
    return paths;
  }
};

TEST_F(Hierarchy, DriveRootMapsInboxAndSentOntoTheDefaultFolders) {
  stores.defaultFolders = {"Posteingang", "Gesendete Elemente", "Kalender"};
  auto& root = Build("/", {"/Inbox", "/Sent", "/Archive", "/Inbox/Work", "/Sent/Old", "/Sent/Old/2019"});
  EXPECT_EQ(Paths(root), (std::vector<std::string>{"Archive", "Gesendete Elemente", "Gesendete Elemente\\Old",
                                                   "Gesendete Elemente\\Old\\2019", "Kalender", "Posteingang",
                                                   "Posteingang\\Work"}));
}

TEST_F(Hierarchy, EmailedContactsAndBangFoldersAreNeverCreated) {
  auto& root = Build("/", {"/Emailed Contacts", "/Work!2", "/Work!2/deep", "/Archive", "/Archive/Emailed Contacts"});
  const auto paths = Paths(root);
  EXPECT_EQ(std::count(paths.begin(), paths.end(), "Archive"), 1);
  for (const auto& path : paths) {
    EXPECT_EQ(path.find("Emailed Contacts"), std::string::npos) << path;
    EXPECT_EQ(path.find('!'), std::string::npos) << path;
    EXPECT_EQ(path.find("deep"), std::string::npos) << path;
  }
}

TEST_F(Hierarchy, MissingParentsAreCreatedUnderTheirRealParents) {
  // \Archive\Calendar is special and not created; 2020 still needs it, below Archive.
  // \Sent, \Sent\Calendar and \Sent\Calendar\Tasks are all special: a chain three deep.
  auto& root = Build("/D/Mail", {"/D/Mail/Archive", "/D/Mail/Archive/Calendar", "/D/Mail/Archive/Calendar/2020",
                                 "/D/Mail/Sent", "/D/Mail/Sent/Calendar", "/D/Mail/Sent/Calendar/Tasks",
                                 "/D/Mail/Sent/Calendar/Tasks/Deep"});
  EXPECT_TRUE(root.Find("Archive\\Calendar\\2020"));
  EXPECT_TRUE(root.Find("Sent\\Calendar\\Tasks\\Deep"));
  // Nothing landed at the top by mistake.
  EXPECT_FALSE(root.Find("Calendar\\2020"));
  EXPECT_FALSE(root.Find("Calendar\\Calendar"));
  EXPECT_FALSE(root.Find("Tasks\\Deep"));
}

TEST_F(Hierarchy, AFolderThatCannotBeCreatedIsLeftOutAndTheRestGoesOn) {
  stores.failures.folderNames = {"Refused"};
  auto& root = Build("/D/Mail", {"/D/Mail/Refused", "/D/Mail/Refused/Child", "/D/Mail/Fine"});
  EXPECT_FALSE(root.Find("Refused"));
  EXPECT_TRUE(root.Find("Fine"));
}

TEST_F(Hierarchy, ADrivePrefixLeftInAPathIsDropped) {
  // "D:" is a legal folder name here; below it, "D:\Mail\Work" keeps only what follows ":\".
  auto& root = Build("/", {"/D:", "/D:/Mail", "/D:/Mail/Work"});
  EXPECT_TRUE(root.Find("D:"));
  EXPECT_TRUE(root.Find("Mail\\Work"));
  EXPECT_FALSE(root.Find("D:\\Mail"));
}

TEST_F(ConversionTest, BelowAnOrdinaryRootInboxIsATopLevelFolderOfThatName) {
  stores.defaultFolders = {"Posteingang", "Gesendet"};
  Write("Inbox/a.eml");
  const auto outcome = ConvertSource();
  const std::string store = Out("store.pst");
  EXPECT_EQ(Folder(store, "Inbox").ItemNames(), std::vector<std::string>{"a.eml"});
  EXPECT_TRUE(Folder(store, "Posteingang").items().empty());
  EXPECT_EQ(outcome.failed, 0);
}

TEST_F(ConversionTest, TheExampleTreeLandsWhereItBelongs) {
  Write("top.eml");
  Write("Calendar/cal.eml");
  Write("Inbox/in.eml");
  Write("Inbox/Work/work.eml");
  Write("Projects/p.eml");
  Write("Projects/2020/p2020.eml");
  const auto outcome = Convert(Src(), "Mail");
  const std::string store = Out("store.pst");

  ASSERT_EQ(outcome.ending, FolderEnding::Converted);
  EXPECT_EQ(StoreFolders(store),
            (std::vector<std::string>{"Calendar", "Contacts", "Deleted Items", "Drafts", "Inbox", "Inbox\\Work",
                                      "Outbox", "Projects", "Projects\\2020", "Sent Items", "Tasks"}));
  EXPECT_EQ(StoreRoot(store).ItemNames(), std::vector<std::string>{"top.eml"});
  EXPECT_EQ(Folder(store, "Calendar").ItemNames(), std::vector<std::string>{"cal.eml"});
  EXPECT_EQ(Folder(store, "Inbox").ItemNames(), std::vector<std::string>{"in.eml"});
  EXPECT_EQ(Folder(store, "Inbox\\Work").ItemNames(), std::vector<std::string>{"work.eml"});
  EXPECT_EQ(Folder(store, "Projects").ItemNames(), std::vector<std::string>{"p.eml"});
  EXPECT_EQ(Folder(store, "Projects\\2020").ItemNames(), std::vector<std::string>{"p2020.eml"});
  EXPECT_EQ(stores.Store(store).displayName, std::string("Mail : Created - ") + test::kStamp);
  EXPECT_EQ(stores.Store(store).logoffs, 1);
  const std::string log = test::ReadFile(outcome.logPath);
  EXPECT_EQ(log, "---- Log Starts -----\r\n");
  test::ExpectReconciled(outcome, StoreRoot(store).CountItemsDeep(), log);
  EXPECT_EQ(outcome.imported, 6);
}

TEST_F(ConversionTest, SentWithOldIsRepairedAndSentAloneStillReceivesItsMessages) {
  Write("Sent/s1.eml");
  Write("Sent/Old/old.eml");
  Write("Notebook/n.eml");
  Write("Conversations/c.eml");
  const auto outcome = ConvertSource();
  const std::string store = Out("store.pst");
  // \Sent is special: the repair for \Sent\Old makes a top-level Sent, and Old goes inside it.
  EXPECT_EQ(Folder(store, "Sent").ItemNames(), std::vector<std::string>{"s1.eml"});
  EXPECT_EQ(Folder(store, "Sent\\Old").ItemNames(), std::vector<std::string>{"old.eml"});
  // Special folders with no sub-folder are created when their first message arrives.
  EXPECT_EQ(Folder(store, "Notebook").ItemNames(), std::vector<std::string>{"n.eml"});
  EXPECT_EQ(Folder(store, "Conversations").ItemNames(), std::vector<std::string>{"c.eml"});
  EXPECT_EQ(outcome.failed, 0);
  test::ExpectReconciled(outcome, StoreRoot(store).CountItemsDeep(), test::ReadFile(outcome.logPath));
}

TEST_F(ConversionTest, BangAndEmailedContactsFoldersLoseNoMessage) {
  Write("Work!2/c.eml");
  Write("Work!2/deep/d.eml");
  Write("Emailed Contacts/e.eml");
  const auto outcome = ConvertSource();
  const std::string store = Out("store.pst");
  EXPECT_EQ(Folder(store, "Work").ItemNames(), (std::vector<std::string>{"c.eml", "d.eml"}));
  EXPECT_EQ(Folder(store, "Emailed Contacts").ItemNames(), std::vector<std::string>{"e.eml"});
  for (const auto& path : StoreFolders(store)) EXPECT_EQ(path.find('!'), std::string::npos) << path;
  EXPECT_EQ(outcome.failed, 0);
  test::ExpectReconciled(outcome, StoreRoot(store).CountItemsDeep(), test::ReadFile(outcome.logPath));
}

TEST_F(ConversionTest, BackslashesInNamesStayInsideOneName) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows file names hold neither a backslash nor bytes that are not UTF-16";
#endif
  Write("a\\b/m.eml");
  // Names that are not UTF-8 (Latin-1 archives) name folders of their own, read as windows-1252.
  Write("caf\xE9/e.eml");
  Write("caf\xE8/f.eml");
  const auto outcome = Convert(Src(), "x\\y");
  const std::string store = Out("store.pst");
  const std::string standIn(kBackslashStandIn);
  EXPECT_EQ(Folder(store, "a" + standIn + "b").ItemNames(), std::vector<std::string>{"m.eml"});
  EXPECT_EQ(stores.Store(store).displayName, "x" + standIn + "y : Created - " + test::kStamp);
  // The proposed file name keeps the folder's own name: "\" is legal in a file name here.
  EXPECT_EQ(screen.saveAsAsked.at(0).second, std::string("x\\y") + test::kStamp + ".pst");
  EXPECT_FALSE(StoreRoot(store).Find("a"));
  EXPECT_EQ(Folder(store, "caf\xC3\xA9").ItemNames(), std::vector<std::string>{"e.eml"});
  EXPECT_EQ(Folder(store, "caf\xC3\xA8").ItemNames(), std::vector<std::string>{"f.eml"});
  EXPECT_EQ(outcome.imported, 3);
}

TEST_F(ConversionTest, AFolderWithoutSubFoldersFillsTheRootAndSourcesListedTwiceCreateNothingExtra) {
  Write("one.eml");
  Write("two.eml");
  auto outcome = ConvertSource();
  EXPECT_EQ(StoreRoot(Out("store.pst")).ItemNames(), (std::vector<std::string>{"one.eml", "two.eml"}));
  EXPECT_EQ(outcome.imported, 2);

  // The same folder listed twice.
  Write("Dup/x.eml");
  struct Quiet : files::ScanObserver {
    void FileQueued(std::int32_t) override {}
    bool ShouldStop() override { return false; }
  } quiet;
  const auto scan = files::ScanFolderTree(Src(), "*.eml", quiet);
  std::vector<std::string> twice = scan.folders;
  twice.insert(twice.end(), scan.folders.begin(), scan.folders.end());
  ASSERT_EQ(twice.size(), 2u);
  screen.saveAsAnswer = Out("twice.pst");
  FolderConversion conversion(screen, screen.requests, stores, FileServices::System(), test::FixedTime,
                              stores.Reader());
  outcome = conversion.StartMigration({"src", Src(), scan.files, twice, {}, {}, false});
  EXPECT_EQ(StoreFolders(Out("twice.pst")).size(), stores.defaultFolders.size() + 1);
  EXPECT_EQ(Folder(Out("twice.pst"), "Dup").ItemNames(), std::vector<std::string>{"x.eml"});
}

}  // namespace
}  // namespace mailfold::engine
