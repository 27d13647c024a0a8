// One folder into one store end to end: naming, the log, progress, skip and stop, failures and
// their reports, deleting sources.
#include <gtest/gtest.h>

#include "conversion_fixture.h"
#include "engine/import_loop.h"

#include <chrono>
#include <iostream>

namespace mailfold::engine {
namespace {

using run::MessageAnswer;
using run::MessageButtons;
using run::MessageIcon;
using test::ConversionTest;
namespace fs = std::filesystem;

TEST_F(ConversionTest, SingleModeAsksForTheStoreFileAndLogsBesideIt) {
  Write("a.eml");
  fs::create_directories(temp.path() / "x.pst.d");
  screen.saveAsAnswer = files::Utf8FromPath(temp.path() / "x.pst.d" / "Mail.pst");
  const auto outcome = Convert(Src(), "Mail");
  ASSERT_EQ(screen.saveAsAsked.size(), 1u);
  EXPECT_EQ(screen.saveAsAsked[0].first, "Outlook Data File(s) (*.pst)|*.pst");
  EXPECT_EQ(screen.saveAsAsked[0].second, std::string("Mail") + test::kStamp + ".pst");
  EXPECT_EQ(outcome.storePath, *screen.saveAsAnswer);
  EXPECT_EQ(outcome.logPath, files::Utf8FromPath(temp.path() / "x.pst.d" / "Mail.log"));
  EXPECT_EQ(test::ReadFile(outcome.logPath), "---- Log Starts -----\r\n");
  EXPECT_TRUE(screen.startEnabled);
  EXPECT_TRUE(screen.skipEnabled);
  EXPECT_TRUE(screen.stopShown);
  EXPECT_TRUE(screen.stopEnabled);
  EXPECT_EQ(screen.progressMax, 100);
  EXPECT_NE(std::find(screen.steps.begin(), screen.steps.end(), "Outlook Session Created..."), screen.steps.end());
  EXPECT_EQ(StoreRoot(outcome.storePath).ItemNames(), std::vector<std::string>{"a.eml"});
}

TEST_F(ConversionTest, AStoreNameWithoutPstExtensionKeepsTheLogOffTheStoreAndBlanksAroundItGo) {
  Write("a.eml");
  screen.saveAsAnswer = Out("Mail.PST");
  auto outcome = ConvertSource();
  EXPECT_EQ(outcome.logPath, Out("Mail.PST.log"));
  EXPECT_EQ(outcome.imported, 1);
  // Typed with blanks around it: the store and its log are named without them.
  screen.saveAsAnswer = "  " + Out("Blank.pst") + "  ";
  outcome = ConvertSource();
  EXPECT_EQ(outcome.storePath, Out("Blank.pst"));
  EXPECT_EQ(outcome.logPath, Out("Blank.log"));
  EXPECT_EQ(stores.stores.count(Out("Blank.pst")), 1u);
  // Blanks only: no choice, as Cancel.
  screen.saveAsAnswer = "   ";
  EXPECT_EQ(ConvertSource().ending, FolderEnding::Cancelled);
}

TEST_F(ConversionTest, ADriveRootLikeSourceGivesAnEmptyNameAndMapsInboxAndSent) {
  Write("Inbox/a.eml");
  Write("Inbox/Work/w.eml");
  Write("Sent/Old/b.eml");
  stores.defaultFolders = {"Posteingang", "Gesendet"};
  // A source given with its final "/" reads like a drive root: relative paths have no leading "\".
  const auto outcome = Convert(Src() + "/", "");
  const std::string store = Out("store.pst");
  EXPECT_EQ(screen.saveAsAsked.at(0).second, std::string(test::kStamp) + ".pst");
  EXPECT_EQ(stores.Store(store).displayName, std::string(" : Created - ") + test::kStamp);
  EXPECT_EQ(Folder(store, "Posteingang").ItemNames(), std::vector<std::string>{"a.eml"});
  EXPECT_EQ(Folder(store, "Posteingang\\Work").ItemNames(), std::vector<std::string>{"w.eml"});
  EXPECT_EQ(Folder(store, "Gesendet\\Old").ItemNames(), std::vector<std::string>{"b.eml"});
  EXPECT_FALSE(StoreRoot(store).Find("Inbox"));
  EXPECT_FALSE(StoreRoot(store).Find("Sent"));
  test::ExpectReconciled(outcome, StoreRoot(store).CountItemsDeep(), test::ReadFile(outcome.logPath));
}

TEST_F(ConversionTest, FortyFilesShowTwoThenEightPercent) {
  for (int i = 1; i <= 40; ++i) Write("m" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".eml");
  const auto outcome = ConvertSource();
  ASSERT_EQ(screen.frameCaptions.size(), 40u);
  EXPECT_EQ(screen.frameCaptions[0], "Reading Messages && Email Metadata - (1 of 40) File(s)");
  EXPECT_EQ(screen.frameCaptions[2], "Reading Messages && Email Metadata - (3 of 40) File(s)");
  EXPECT_EQ(screen.progressTexts[0], "2% Complete");
  EXPECT_EQ(screen.progressTexts[2], "8% Complete");
  EXPECT_EQ(screen.progressTexts.back(), "100% Complete");
  EXPECT_FLOAT_EQ(screen.progressValue, 100.0f);
  EXPECT_EQ(outcome.imported, 40);
}

TEST_F(ConversionTest, MultipleModeNamesTheStoreAfterTheFolderAndCountsOtherFilesOnlyInProgress) {
  Write("a.eml");
  Write("a.eml.meta", "meta");
  Write("notes.txt", "notes");
  Write("EML~1");
  const StoreTarget target{ConversionMode::MultipleFolders, "  " + files::Utf8FromPath(temp.path() / "out") + "  "};
  auto outcome = Convert(Src(), "Customer", target);
  EXPECT_TRUE(screen.saveAsAsked.empty());
  EXPECT_EQ(outcome.storePath, Out("Customer.pst"));
  EXPECT_EQ(outcome.logPath, Out("Customer.log"));
  EXPECT_EQ(outcome.totalFiles, 4);
  EXPECT_EQ(outcome.queued, 2);
  EXPECT_EQ(StoreRoot(Out("Customer.pst")).ItemNames(), (std::vector<std::string>{"EML~1", "a.eml"}));
  EXPECT_EQ(screen.frameCaptions.back(), "Reading Messages && Email Metadata - (4 of 4) File(s)");
  EXPECT_EQ(stores.Store(Out("Customer.pst")).displayName, std::string("Customer : Created - ") + test::kStamp);

  // A second run into the same output folder adds to the store and starts a fresh log.
  std::ofstream(outcome.logPath, std::ios::app) << "stale line\r\n";
  outcome = Convert(Src(), "Customer", target);
  EXPECT_EQ(StoreRoot(Out("Customer.pst")).items().size(), 4u);
  EXPECT_EQ(stores.Store(Out("Customer.pst")).logons, 2);
  EXPECT_EQ(test::ReadFile(outcome.logPath), "---- Log Starts -----\r\n");
}

TEST_F(ConversionTest, FailedMessagesBecomeBadLinesAndKeepTheirSources) {
  const auto good = Write("good.eml");
  const auto unreadable = Write("Inbox/unreadable.eml");
  const auto unsaved = Write("Projects/unsaved.eml");
  Write("good.eml.meta", "m");
  Write("Projects/unsaved.eml.meta", "m");
  stores.failures.readFileNames = {"unreadable.eml"};
  stores.failures.addFileNames = {"unsaved.eml"};
  screen.deleteSource = true;
  const auto outcome = Convert(Src(), "src", {ConversionMode::MultipleFolders, Out("")});
  const std::string log = test::ReadFile(outcome.logPath);
  // Each BAD line is followed by its cause.
  EXPECT_EQ(log, "---- Log Starts -----\r\nBAD : " + unreadable + "\r\n    The message could not be read\r\nBAD : " +
                     unsaved + "\r\n    The message could not be saved\r\n");
  ASSERT_EQ(outcome.failures.size(), 2u);
  EXPECT_EQ(outcome.failures[0].failure.kind, FailureKind::BadInput);
  EXPECT_EQ(outcome.failures[1].failure.kind, FailureKind::Io);
  EXPECT_EQ(outcome.imported, 1);
  EXPECT_EQ(outcome.failed, 2);
  test::ExpectReconciled(outcome, StoreRoot(outcome.storePath).CountItemsDeep(), log);
  // The imported source and its companion are gone; failed sources stay.
  EXPECT_FALSE(fs::exists(good));
  EXPECT_FALSE(fs::exists(good + ".meta"));
  EXPECT_TRUE(fs::exists(unreadable));
  EXPECT_TRUE(fs::exists(unsaved));
  EXPECT_TRUE(fs::exists(unsaved + ".meta"));
  EXPECT_FALSE(outcome.AllImported());
  for (const auto& item : StoreRoot(outcome.storePath).items()) EXPECT_TRUE(item.read);
}

TEST_F(ConversionTest, WithoutDeleteSourceEverySourceStays) {
  const auto a = Write("a.eml");
  Write("a.eml.meta", "m");
  ConvertSource();
  EXPECT_TRUE(fs::exists(a));
  EXPECT_TRUE(fs::exists(a + ".meta"));
}

// Presses a button when the import reaches the file whose name is given.
std::function<void(test::RecordingScreen&)> PressAt(const std::string& fileName, bool skip, bool stop) {
  return [fileName, skip, stop, pressed = false](test::RecordingScreen& screen) mutable {
    if (pressed || screen.currentStep.find("/" + fileName + ")") == std::string::npos) return;
    pressed = true;
    if (skip) screen.requests.RequestSkip();
    if (stop) screen.requests.RequestStop();
  };
}

class SkipAndStop : public ConversionTest {
 protected:
  void SetUp() override {
    ConversionTest::SetUp();
    for (int i = 1; i <= 10; ++i) Write("m" + std::to_string(i - 1) + ".eml");
  }
};

TEST_F(SkipAndStop, ConfirmedSkipKeepsWhatWasImportedAndEndsTheFolderNormally) {
  screen.onYield = PressAt("m2.eml", true, false);
  screen.answers = {MessageAnswer::Yes};
  const auto outcome = ConvertSource();
  EXPECT_EQ(outcome.ending, FolderEnding::Skipped);
  EXPECT_EQ(screen.MessageTitles(), std::vector<std::string>{"Confirm Skip"});
  EXPECT_EQ(screen.messages[0].text, "Do you really want to \"Skip\" conversion of this folder ?");
  EXPECT_EQ(screen.messages[0].icon, MessageIcon::None);
  EXPECT_EQ(screen.messages[0].buttons, MessageButtons::YesNo);
  EXPECT_EQ(screen.progressText, "Skipped... at 30% Complete");
  EXPECT_EQ(screen.statusLine, "Checking Next Folder...");
  EXPECT_EQ(outcome.imported, 3);
  EXPECT_EQ(outcome.skipped, 7);
  EXPECT_TRUE(outcome.Reconciles());
  EXPECT_EQ(StoreRoot(outcome.storePath).items().size(), 3u);
  EXPECT_EQ(stores.Store(outcome.storePath).logoffs, 1);
  EXPECT_TRUE(screen.requests.SkipRequested());
  EXPECT_TRUE(screen.startEnabled);
  EXPECT_FALSE(screen.closed);
}

TEST_F(SkipAndStop, DeclinedSkipGoesOnAndAsksAgainOnTheNextPress) {
  auto first = PressAt("m2.eml", true, false);
  auto second = PressAt("m6.eml", true, false);
  screen.onYield = [&](test::RecordingScreen& s) {
    first(s);
    second(s);
  };
  screen.answers = {MessageAnswer::No, MessageAnswer::No};
  const auto outcome = ConvertSource();
  EXPECT_EQ(outcome.ending, FolderEnding::Converted);
  EXPECT_EQ(screen.MessageTitles(), (std::vector<std::string>{"Confirm Skip", "Confirm Skip"}));
  EXPECT_FALSE(screen.requests.SkipRequested());
  EXPECT_EQ(outcome.imported, 10);
  EXPECT_EQ(screen.progressText, "100% Complete");
}

TEST_F(SkipAndStop, ConfirmedStopClosesTheScreenAndStillCommitsTheStore) {
  // Three threads parse ahead: what they parsed past the stop is neither counted nor logged.
  parseWorkers = 3;
  screen.onYield = PressAt("m4.eml", false, true);
  screen.answers = {MessageAnswer::Yes};
  const auto outcome = ConvertSource();
  EXPECT_EQ(outcome.ending, FolderEnding::Stopped);
  ASSERT_EQ(screen.MessageTitles(), std::vector<std::string>{"Confirm Stop"});
  EXPECT_EQ(screen.messages[0].text,
            "This action will STOP complete conversion process.\r\nDo you really want to \"STOP\" on-going "
            "conversion ?");
  EXPECT_EQ(screen.progressText, "Stopped... at 50% Complete");
  EXPECT_EQ(screen.statusLine, "Stopped...");
  EXPECT_TRUE(screen.closed);
  EXPECT_TRUE(screen.requests.StopRequested());
  EXPECT_EQ(outcome.imported, 5);
  EXPECT_EQ(outcome.stopped, 5);
  EXPECT_TRUE(outcome.Reconciles());
  // Everything imported so far is on disk: the store was closed.
  EXPECT_EQ(stores.Store(outcome.storePath).logoffs, 1);
  EXPECT_EQ(StoreRoot(outcome.storePath).items().size(), 5u);
  test::ExpectReconciled(outcome, StoreRoot(outcome.storePath).CountItemsDeep(), test::ReadFile(outcome.logPath));
  // A stop does not end the folder the normal way.
  EXPECT_FALSE(screen.startEnabled);
}

TEST_F(SkipAndStop, DeclinedStopGoesOn) {
  screen.onYield = PressAt("m4.eml", false, true);
  screen.answers = {MessageAnswer::No};
  const auto outcome = ConvertSource();
  EXPECT_EQ(outcome.ending, FolderEnding::Converted);
  EXPECT_FALSE(screen.requests.StopRequested());
  EXPECT_FALSE(screen.closed);
  EXPECT_EQ(outcome.imported, 10);
}

TEST_F(SkipAndStop, BothRequestsAskSkipFirst) {
  // Skip accepted: no stop question, the stop request stays for the run driver.
  screen.onYield = PressAt("m1.eml", true, true);
  screen.answers = {MessageAnswer::Yes};
  auto outcome = ConvertSource();
  EXPECT_EQ(outcome.ending, FolderEnding::Skipped);
  EXPECT_EQ(screen.MessageTitles(), std::vector<std::string>{"Confirm Skip"});
  EXPECT_TRUE(screen.requests.StopRequested());

  // Skip declined: the stop question follows in the same test.
  screen.messages.clear();
  screen.requests.Reset();
  screen.saveAsAnswer = Out("second.pst");
  screen.currentStep.clear();
  screen.onYield = PressAt("m1.eml", true, true);
  screen.answers = {MessageAnswer::No, MessageAnswer::Yes};
  outcome = ConvertSource();
  EXPECT_EQ(outcome.ending, FolderEnding::Stopped);
  EXPECT_EQ(screen.MessageTitles(), (std::vector<std::string>{"Confirm Skip", "Confirm Stop"}));
  EXPECT_EQ(outcome.imported, 2);
}

TEST_F(SkipAndStop, ClosingTheScreenEndsTheFolderWithoutAQuestion) {
  screen.onYield = [](test::RecordingScreen& s) {
    if (s.currentStep.find("/m3.eml)") != std::string::npos) {
      s.requests.RequestClose();
      s.closed = true;
    }
  };
  const auto outcome = ConvertSource();
  EXPECT_EQ(outcome.ending, FolderEnding::Stopped);
  EXPECT_TRUE(screen.messages.empty());
  EXPECT_EQ(outcome.imported, 4);
  EXPECT_EQ(outcome.stopped, 6);
  EXPECT_EQ(stores.Store(outcome.storePath).logoffs, 1);
}

TEST_F(ConversionTest, CancelInTheSaveDialogClosesTheScreenAndWritesNothing) {
  Write("a.eml");
  screen.saveAsAnswer.reset();
  const auto outcome = ConvertSource();
  EXPECT_EQ(outcome.ending, FolderEnding::Cancelled);
  EXPECT_TRUE(screen.closed);
  EXPECT_TRUE(screen.requests.CloseRequested());
  EXPECT_TRUE(stores.stores.empty());
  EXPECT_TRUE(fs::is_empty(temp.path() / "out"));
  EXPECT_TRUE(outcome.Reconciles());
}

TEST_F(ConversionTest, ALogThatCannotBeCreatedStopsTheFolderAndLeavesNoStore) {
  Write("a.eml");
  const auto outcome = Convert(Src(), "src", {ConversionMode::MultipleFolders, Out("missing/folder")});
  EXPECT_EQ(outcome.ending, FolderEnding::LogFailed);
  EXPECT_NE(outcome.error.find(Out("missing/folder/src.log")), std::string::npos) << outcome.error;
  EXPECT_TRUE(screen.closed);
  EXPECT_TRUE(stores.stores.empty());
  EXPECT_EQ(outcome.failed, 1);
  EXPECT_TRUE(outcome.Reconciles());
}

TEST_F(ConversionTest, AStoreThatCannotBeOpenedIsReportedWithItsRealCause) {
  const auto a = Write("a.eml");
  const auto b = Write("Inbox/b.eml");
  Write("notes.txt", "n");
  for (int attempt = 0; attempt < 3; ++attempt) {
    stores.failures = {};
    if (attempt == 0) stores.failures.open = true;
    if (attempt == 1) stores.failures.damaged = true;
    if (attempt == 2) stores.failures.prepare = true;  // opened, then found damaged: nothing committed
    screen.messages.clear();
    screen.startEnabled = false;  // as the run driver leaves it when it takes up a folder
    const auto outcome = Convert(Src(), "src", {ConversionMode::MultipleFolders, Out("")});
    SCOPED_TRACE(attempt);
    EXPECT_EQ(outcome.ending, FolderEnding::StoreFailed);
    ASSERT_EQ(screen.messages.size(), 1u);
    const auto& message = screen.messages[0];
    EXPECT_EQ(message.title, "Outlook Error");
    EXPECT_EQ(message.icon, MessageIcon::Information);
    EXPECT_EQ(message.buttons, MessageButtons::Ok);
    EXPECT_EQ(message.text.rfind("Outlook Session Creation Error !\r\n", 0), 0u);
    EXPECT_NE(message.text.find(Out("src.pst")), std::string::npos);
    const std::string cause = attempt == 0   ? "Permission denied"
                              : attempt == 1 ? "The store's folder tree is damaged"
                                             : "The folder table is damaged";
    EXPECT_NE(message.text.find(cause), std::string::npos);
    EXPECT_EQ(message.text.find("32 Bit"), std::string::npos);
    EXPECT_EQ(message.text.find("install"), std::string::npos) << message.text;
    EXPECT_FALSE(screen.startEnabled);
    EXPECT_FALSE(screen.closed);
    // Nothing lost: every message file is listed as failed in the log.
    const std::string log = test::ReadFile(outcome.logPath);
    const std::string causeLine = "    The store file " + Out("src.pst") +
                                  (attempt == 2 ? " could not be prepared: " : " could not be opened or created: ") + cause;
    EXPECT_EQ(log, "---- Log Starts -----\r\nBAD : " + a + "\r\n" + causeLine + "\r\nBAD : " + b + "\r\n" + causeLine +
                       "\r\n");
    EXPECT_EQ(outcome.failures.at(0).failure.kind, attempt == 0 ? FailureKind::Io : FailureKind::Corrupt);
    EXPECT_EQ(outcome.failed, 2);
    EXPECT_TRUE(outcome.Reconciles());
    if (attempt == 2) {  // opened and let go without a commit
      EXPECT_EQ(stores.Store(Out("src.pst")).logoffs, 0);
      EXPECT_EQ(stores.Store(Out("src.pst")).abandoned, 1);
    }
  }
}

TEST_F(ConversionTest, AStoreThatCannotBeCompletedIsNotReportedAsConverted) {
  Write("a.eml");
  stores.failures.close = true;
  const auto outcome = ConvertSource();
  EXPECT_EQ(outcome.imported, 1);
  EXPECT_NE(outcome.error.find("No space left on device"), std::string::npos);
  EXPECT_FALSE(outcome.AllImported());
}


TEST_F(ConversionTest, AnEmptyOutputFolderMeansTheCurrentFolder) {
  Write("a.eml");
  const auto previous = fs::current_path();
  fs::current_path(temp.path() / "out");
  const auto outcome = Convert(Src(), "src", {ConversionMode::MultipleFolders, "   "});
  fs::current_path(previous);
  EXPECT_EQ(outcome.storePath, "src.pst");
  EXPECT_TRUE(fs::exists(Out("src.log")));
  EXPECT_EQ(outcome.imported, 1);
}

// Twenty folders of a hundred messages: every message lands in its folder, and the longest pause
// between two yields (the screen's input latency) is printed for the record.
TEST_F(ConversionTest, ALargeTreeReconcilesAndKeepsYielding) {
  constexpr int kFolders = 20;
  constexpr int kPerFolder = 100;
  std::string body = "Subject: load\r\n\r\n" + std::string(2000, 'x') + "\r\n";
  for (int f = 0; f < kFolders; ++f)
    for (int m = 0; m < kPerFolder; ++m) Write("F" + std::to_string(f) + "/m" + std::to_string(m) + ".eml", body);
  using Clock = std::chrono::steady_clock;
  auto last = Clock::now();
  Clock::duration longest{};
  screen.onYield = [&](test::RecordingScreen&) {
    const auto now = Clock::now();
    longest = std::max(longest, now - last);
    last = now;
  };
  const auto started = Clock::now();
  const auto outcome = ConvertSource();
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  EXPECT_EQ(outcome.imported, kFolders * kPerFolder);
  for (int f = 0; f < kFolders; ++f)
    EXPECT_EQ(Folder(outcome.storePath, "F" + std::to_string(f)).items().size(), static_cast<std::size_t>(kPerFolder));
  test::ExpectReconciled(outcome, StoreRoot(outcome.storePath).CountItemsDeep(), test::ReadFile(outcome.logPath));
  std::cout << "[ measured ] " << outcome.imported << " messages in " << seconds << " s ("
            << outcome.imported / seconds << " messages/s, scan included, Debug build), longest gap between yields "
            << std::chrono::duration<double, std::milli>(longest).count() << " ms, yields " << screen.yields << "\n";
}

}  // namespace
}  // namespace mailfold::engine
