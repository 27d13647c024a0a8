// The string rules of the engine: path forms, message-file names, relative folders, progress
// texts, the time stamp and the log path.
#include <gtest/gtest.h>

#include "engine/conversion_log.h"
#include "engine/folder_conversion.h"
#include "engine/import_loop.h"
#include "engine/store_paths.h"
#include "fake_store_component.h"
#include "run/screen_presenter.h"

namespace mailfold::engine {
namespace {

TEST(PathForms, PosixPathsTakeTheBackslashFormAndKeepBackslashesInsideNames) {
  EXPECT_EQ(BackslashFormOf("/mail/Inbox/a.eml"), "\\mail\\Inbox\\a.eml");
  EXPECT_EQ(BackslashFormOf("/"), "\\");
  // A "\" inside a POSIX name must not become a folder separator.
  EXPECT_EQ(BackslashFormOf("/mail/a\\b/x.eml"), "\\mail\\a\xEF\xBC\xBC" "b\\x.eml");
  EXPECT_EQ(StoreSafeName("Work\\2020"), "Work\xEF\xBC\xBC" "2020");
  // A name that is not UTF-8 is read as windows-1252, name by name.
  EXPECT_EQ(BackslashFormOf("/mail/caf\xE9/x\xE8.eml"), "\\mail\\caf\xC3\xA9\\x\xC3\xA8.eml");
  EXPECT_EQ(BackslashFormOf("/mail/caf\xC3\xA9/\x80"), "\\mail\\caf\xC3\xA9\\\xE2\x82\xAC");
}

TEST(PathForms, OnlyTheLeadingRootIsCutAway) {
  EXPECT_EQ(WithoutRoot("\\mail\\Inbox", "\\mail"), "\\Inbox");
  EXPECT_EQ(WithoutRoot("\\Inbox\\Work", "\\"), "Inbox\\Work");
  EXPECT_EQ(WithoutRoot("\\m\\x\\m\\y", "\\m"), "\\x\\m\\y");
  EXPECT_EQ(WithoutRoot("D:\\Mail\\Inbox", "D:\\Mail"), "\\Inbox");
  EXPECT_EQ(WithoutRoot("\\other\\Inbox", "\\mail"), "\\other\\Inbox");
}

TEST(PathForms, FileNameAndParent) {
  EXPECT_EQ(FileNameOf("D:\\Mail\\a.eml"), "a.eml");
  EXPECT_EQ(FileNameOf("a.eml"), "a.eml");
  EXPECT_EQ(ParentPathOf("D:\\Mail\\a.eml"), "D:\\Mail\\");
  EXPECT_EQ(ParentPathOf("a.eml"), "");
  EXPECT_EQ(FileNameOf("/mail/x\\y.eml", '/'), "x\\y.eml");
}

TEST(MessageFiles, EmlInAnyCaseAndEmlTildeOneAreMessages) {
  EXPECT_TRUE(IsMessageFile("/m/a.eml"));
  EXPECT_TRUE(IsMessageFile("/m/MSG.EML"));
  EXPECT_TRUE(IsMessageFile("/m/EML~1"));
  EXPECT_TRUE(IsMessageFile("/m/eml~1"));
  EXPECT_FALSE(IsMessageFile("/m/a.eml.meta"));
  EXPECT_FALSE(IsMessageFile("/m/notes.txt"));
  EXPECT_FALSE(IsMessageFile("/m/eml~12"));
  EXPECT_FALSE(IsMessageFile("/m/x.eml/notes.txt"));  // only the file's own name counts
  EXPECT_FALSE(IsMessageFile("/m/eml"));
}

class RelativeFolder : public ::testing::Test {
 protected:
  test::FakeStoreComponent component;
  std::unique_ptr<OpenStore> store = component.Open("/s.pst", "S", {});
  StoreFolders Store(const std::string& root) {
    return StoreFolders{*store, BackslashFormOf(root), "Posteingang", "Gesendet"};
  }
};

TEST_F(RelativeFolder, FollowsTheSourceFolderBelowTheRoot) {
  const auto mail = Store("/D/Mail");
  EXPECT_EQ(RelativeFolderOfFile(BackslashFormOf("/D/Mail/a.eml"), mail), "");
  // Below a root that is not a drive root, Inbox keeps its own name.
  EXPECT_EQ(RelativeFolderOfFile(BackslashFormOf("/D/Mail/Inbox/a.eml"), mail), "Inbox\\");
  EXPECT_EQ(RelativeFolderOfFile(BackslashFormOf("/D/Mail/Projects/2020/a.eml"), mail), "Projects\\2020\\");
}

TEST_F(RelativeFolder, BelowADriveRootInboxAndSentMapOntoTheDefaultFolders) {
  const auto root = Store("/");
  EXPECT_EQ(RelativeFolderOfFile(BackslashFormOf("/a.eml"), root), "");
  EXPECT_EQ(RelativeFolderOfFile(BackslashFormOf("/Inbox/a.eml"), root), "Posteingang\\");
  EXPECT_EQ(RelativeFolderOfFile(BackslashFormOf("/Inbox/Work/a.eml"), root), "Posteingang\\Work\\");
  EXPECT_EQ(RelativeFolderOfFile(BackslashFormOf("/Sent/a.eml"), root), "Gesendet\\");
  EXPECT_EQ(RelativeFolderOfFile(BackslashFormOf("/Sent/Old/b.eml"), root), "Gesendet\\Old\\");
  EXPECT_EQ(RelativeFolderOfFile(BackslashFormOf("/Work/Inbox/a.eml"), root), "Work\\Inbox\\");
}

TEST_F(RelativeFolder, AFolderWithABangGoesToTheNameBeforeIt) {
  const auto mail = Store("/D/Mail");
  EXPECT_EQ(RelativeFolderOfFile(BackslashFormOf("/D/Mail/Work!2/c.eml"), mail), "Work\\");
  EXPECT_EQ(RelativeFolderOfFile(BackslashFormOf("/D/Mail/Work !2/deep/c.eml"), mail), "Work\\");
  // Nothing before the "!" leaves an empty name: the import puts such a message into the root.
  EXPECT_EQ(RelativeFolderOfFile(BackslashFormOf("/D/Mail/!x/c.eml"), mail), "\\");
}

TEST(Progress, HalvesRoundToTheEvenNeighbour) {
  using namespace run;
  EXPECT_FLOAT_EQ(ProgressValue(1, 40), 2.5f);
  EXPECT_EQ(ProgressLabel(ProgressValue(1, 40)), "2% Complete");
  EXPECT_EQ(ProgressLabel(ProgressValue(3, 40)), "8% Complete");
  EXPECT_EQ(ProgressLabel(ProgressValue(40, 40)), "100% Complete");
  EXPECT_EQ(RoundHalfEven(0.5f), 0);
  EXPECT_EQ(RoundHalfEven(1.5f), 2);
  EXPECT_EQ(RoundHalfEven(33.3333f), 33);
  EXPECT_EQ(RoundHalfEven(66.6667f), 67);
  EXPECT_EQ(ReadingCaption(3, 40), "Reading Messages && Email Metadata - (3 of 40) File(s)");
  EXPECT_EQ(DisplayedCaption(ReadingCaption(3, 40)), "Reading Messages & Email Metadata - (3 of 40) File(s)");
  EXPECT_EQ(DisplayedCaption("Sta&rt Conversion"), "Start Conversion");
}

TEST(TimeStamp, DayMonthYearHourMinuteWithoutLeadingZerosSecondsWithTwo) {
  std::tm when{};
  when.tm_mday = 6;
  when.tm_mon = 11;
  when.tm_year = 126;
  when.tm_hour = 4;
  when.tm_min = 7;
  when.tm_sec = 5;
  EXPECT_EQ(FormatTimeStamp(when), "6.12.26 4.7.05");
  when.tm_mday = 31;
  when.tm_mon = 0;
  when.tm_year = 105;
  when.tm_hour = 23;
  when.tm_min = 59;
  when.tm_sec = 48;
  EXPECT_EQ(FormatTimeStamp(when), "31.1.05 23.59.48");
}

TEST(Log, SitsBesideTheStoreNeverOnItAndFailsWithItsRealCause) {
  EXPECT_EQ(LogPathFor("/out/Inbox.pst"), "/out/Inbox.log");
  EXPECT_EQ(LogPathFor("/out/a.pst.b.pst"), "/out/a.log.b.log");
  // Folder names keep ".pst": the log belongs beside the store, in a folder that exists.
  EXPECT_EQ(LogPathFor("/data/x.pst.d/store.pst"), "/data/x.pst.d/store.log");
  // No ".pst" in exactly that case: the log must not take the store's path.
  EXPECT_EQ(LogPathFor("/out/Inbox.PST"), "/out/Inbox.PST.log");
  EXPECT_EQ(LogPathFor("/out/Inbox"), "/out/Inbox.log");
#ifndef _WIN32  // Windows has no device that is always full
  // A full disk shows when the buffered header is written out by the close.
  try {
    StartLog("/dev/full");
    ADD_FAILURE() << "a log on /dev/full was written";
  } catch (const std::exception& error) {
    EXPECT_NE(std::string(error.what()).find("No space left on device"), std::string::npos) << error.what();
  }
#endif
}

}  // namespace
}  // namespace mailfold::engine
