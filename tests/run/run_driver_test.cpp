// The run driver in both modes and the skip / stop / close requests, on temporary trees with the
// fake store and a recording screen (no display needed).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <sstream>

#include "engine/conversion_fixture.h"
#include "files/tree_builder.h"
#include "run/request_protocol.h"
#include "run/run_driver.h"

namespace mailfold::run {
namespace {

namespace fs = std::filesystem;
using engine::ConversionMode;
using run::MessageAnswer;

class FakeSelection : public Selection {
 public:
  ConversionMode mode = ConversionMode::SingleFolder;
  std::string source;
  std::vector<FolderRow> rows;
  std::vector<int> marked;
  std::string output;

  ConversionMode Mode() const override { return mode; }
  std::string SourcePath() const override { return source; }
  int RowCount() const override { return static_cast<int>(rows.size()); }
  FolderRow Row(int index) const override { return rows.at(static_cast<std::size_t>(index)); }
  void MarkRowTakenUp(int index) override { marked.push_back(index); }
  std::string OutputFolder() const override { return output; }
};

class RunTest : public test::ConversionTest {
 protected:
  FakeSelection selection;
  RunDriver driver{stores, engine::FileServices::System(), test::FixedTime, stores.Reader()};
  RequestProtocol protocol{screen.requests, screen};

  void SetUp() override {
    ConversionTest::SetUp();
    screen.Load();
    selection.source = Src();
    selection.output = Out("");
  }
  // Five folders f1..f5 below the source, each holding `perFolder` messages; rows in that order.
  void MakeRows(std::initializer_list<int> checkedRows, int perFolder = 3) {
    selection.mode = ConversionMode::MultipleFolders;
    for (int i = 1; i <= 5; ++i) {
      const std::string name = "f" + std::to_string(i);
      for (int m = 0; m < perFolder; ++m) Write(name + "/m" + std::to_string(m) + ".eml");
      MakeFolder(name);
      const bool checked = std::find(checkedRows.begin(), checkedRows.end(), i) != checkedRows.end();
      selection.rows.push_back({checked, name, Src(name)});
    }
  }
  // Runs `action` once, at the first yield where the import works on a file whose path contains `marker`.
  void At(const std::string& marker, std::function<void()> action) {
    screen.onYield = [marker, action, done = false](test::RecordingScreen& s) mutable {
      if (done || s.currentStep.find(marker) == std::string::npos) return;
      done = true;
      action();
    };
  }
  // "Start Conversion": the selection is read, then the run works on this thread.
  RunSummary Start() { return driver.Run(RunPlan::Of(selection, screen.deleteSource), screen, screen.requests); }
  std::string ClosingText() const {
    if (screen.messages.empty() || screen.messages.back().title != kApplicationTitle) return "";
    return screen.messages.back().text;
  }
};

TEST_F(RunTest, LoadStartsEveryOpeningFromTheSameState) {
  screen.requests.RequestSkip();
  screen.requests.RequestStop();
  screen.requests.RequestClose();
  screen.deleteSource = true;
  screen.Load();
  EXPECT_EQ(screen.statusLine, "Conversion Not Started Yet...");
  EXPECT_EQ(screen.progressText, "0% Complete");
  EXPECT_EQ(screen.currentStep, "Converting Messages...");
  EXPECT_EQ(screen.frameCaption, " Details ");
  EXPECT_FALSE(screen.skipEnabled);
  EXPECT_FALSE(screen.deleteSource);
  EXPECT_FALSE(screen.requests.SkipRequested() || screen.requests.StopRequested() || screen.requests.CloseRequested());
}

TEST_F(RunTest, SingleFolderConvertsAndSaysSoWhenEverythingWasImported) {
  Write("a.eml");
  Write("Inbox/b.eml");
  Write("notes.txt", "not queued in this mode");
  bool stopShownDuringRun = false;
  bool skipEnabledDuringRun = false;
  screen.onYield = [&](test::RecordingScreen& s) {
    if (s.currentStep.rfind("Converting Messages... from", 0) == 0) {
      stopShownDuringRun = s.stopShown && s.stopEnabled;
      skipEnabledDuringRun = s.skipEnabled;
    }
  };
  const auto summary = Start();
  ASSERT_EQ(summary.folders.size(), 1u);
  EXPECT_EQ(summary.folders[0].imported, 2);
  EXPECT_EQ(screen.statusLines.at(screen.statusLines.size() - 1), "Migrating 2 items from " + Src() + "/");
  EXPECT_EQ(screen.windowCaption, "Conversion Status");
  EXPECT_EQ(ClosingText(), kSingleSuccessText);
  EXPECT_EQ(screen.messages.back().icon, run::MessageIcon::Information);
  // The folder's display name names the proposed store file.
  EXPECT_EQ(screen.saveAsAsked.at(0).second, std::string("src") + test::kStamp + ".pst");
  // Button states: Skip and Stop usable during the folder, Start back after a normal end.
  EXPECT_TRUE(stopShownDuringRun);
  EXPECT_TRUE(skipEnabledDuringRun);
  EXPECT_TRUE(screen.startEnabled);
  EXPECT_FALSE(screen.skipEnabled);
  EXPECT_FALSE(screen.stopShown);
  EXPECT_FALSE(screen.stopEnabled);
  EXPECT_FALSE(screen.closed);
}

TEST_F(RunTest, SingleFolderWithoutMessagesMakesNoStoreAndSaysNothingWasFound) {
  Write("notes.txt", "x");
  MakeFolder("old.eml");  // a folder whose name matches is not a message
  const auto summary = Start();
  EXPECT_EQ(screen.statusLine, "Migrating 0 items from " + Src() + "/");
  EXPECT_TRUE(summary.folders.empty());
  EXPECT_TRUE(stores.stores.empty());
  EXPECT_TRUE(screen.saveAsAsked.empty());
  EXPECT_EQ(ClosingText(), "No message files (*.eml) were found in " + Src() + "/, so nothing was converted.");
  EXPECT_FALSE(screen.startEnabled);  // only closing the window is left
  EXPECT_FALSE(screen.stopShown);
}

TEST_F(RunTest, FailedMessagesGiveAnHonestSummaryWithTheLog) {
  Write("a.eml");
  Write("b.eml");
  Write("c.eml");
  stores.failures.readFileNames = {"b.eml"};
  const auto summary = Start();
  EXPECT_FALSE(summary.AllWentWell());
  EXPECT_EQ(ClosingText(), "Converted 2 of 3 messages.\r\n1 message could not be converted.\r\n"
                           "The files that failed are listed in " + Out("store.log"));

  // Every message failing is no success either.
  stores.failures.readFileNames = {"a.eml", "b.eml", "c.eml"};
  Start();
  EXPECT_NE(ClosingText().find("Converted 0 of 3 messages."), std::string::npos);
}

TEST_F(RunTest, ARootSourceHasAnEmptyDisplayName) {
  Write("a.eml");
  selection.source = Src() + "/";
  Start();
  EXPECT_EQ(screen.saveAsAsked.at(0).second, std::string(test::kStamp) + ".pst");
}

TEST_F(RunTest, MultipleFoldersWithNoCheckedRowDoNothing) {
  MakeRows({});
  const auto statusBefore = screen.statusLines.size();
  Start();
  EXPECT_EQ(screen.statusLines.size(), statusBefore);
  EXPECT_TRUE(screen.markedRows.empty());
  EXPECT_EQ(ClosingText(), "No folder is checked, so nothing was converted.");
  EXPECT_TRUE(screen.startEnabled);
}

TEST_F(RunTest, MultipleFoldersConvertTheCheckedRowsIntoTheirOwnStores) {
  MakeRows({2, 5});
  Write("f5/notes.txt", "counted, not imported");
  const auto summary = Start();
  EXPECT_EQ(screen.windowCaptions, (std::vector<std::string>{"Converting 2 of 5 Folders", "Converting 5 of 5 Folders"}));
  EXPECT_EQ(screen.markedRows, (std::vector<int>{1, 4}));
  ASSERT_EQ(summary.folders.size(), 2u);
  EXPECT_EQ(StoreRoot(Out("f2.pst")).items().size(), 3u);
  EXPECT_EQ(StoreRoot(Out("f5.pst")).items().size(), 3u);
  EXPECT_EQ(summary.folders[1].totalFiles, 4);
  EXPECT_FALSE(fs::exists(Out("f1.pst")));
  EXPECT_EQ(ClosingText(), kMultipleSuccessText);
  EXPECT_TRUE(screen.startEnabled);
}

TEST_F(RunTest, ACheckedFolderWithoutFilesIsMarkedAndPassedOver) {
  MakeRows({1, 2}, 0);
  Write("f2/a.eml");
  const auto summary = Start();
  EXPECT_EQ(screen.markedRows, (std::vector<int>{0, 1}));
  EXPECT_NE(std::find(screen.statusLines.begin(), screen.statusLines.end(), "Converting 0 items from " + Src("f1")),
            screen.statusLines.end());
  ASSERT_EQ(summary.folders.size(), 1u);
  EXPECT_EQ(summary.folders[0].folderName, "f2");
}

TEST_F(RunTest, AStopConfirmedInTheFirstOfThreeFoldersEndsTheRun) {
  MakeRows({1, 3, 5});
  At("/f1/m1.eml", [this] { protocol.StopPressed(); });
  screen.answers = {MessageAnswer::Yes};
  const auto summary = Start();
  EXPECT_EQ(screen.markedRows, std::vector<int>{0});
  EXPECT_EQ(summary.folders.size(), 1u);
  EXPECT_TRUE(summary.stopped);
  EXPECT_TRUE(screen.closed);
  EXPECT_EQ(stores.stores.size(), 1u);
  EXPECT_EQ(stores.Store(Out("f1.pst")).logoffs, 1);
  // The closing message is still shown, and it is honest.
  EXPECT_EQ(ClosingText(), "Converted 2 of 3 messages.\r\nThe conversion was stopped; 1 message was not converted.");
  EXPECT_FALSE(screen.stopShown);
}

TEST_F(RunTest, ASkipConfirmedInOneFolderGoesOnWithTheNext) {
  MakeRows({1, 2});
  At("/f1/m0.eml", [this] { protocol.SkipPressed(); });
  screen.answers = {MessageAnswer::Yes};
  const auto summary = Start();
  ASSERT_EQ(summary.folders.size(), 2u);
  EXPECT_EQ(summary.folders[0].ending, engine::FolderEnding::Skipped);
  EXPECT_EQ(summary.folders[0].imported, 1);
  EXPECT_EQ(summary.folders[1].imported, 3);
  EXPECT_FALSE(screen.closed);
  EXPECT_EQ(ClosingText(), "Converted 4 of 6 messages.\r\n2 messages were left out because a folder was skipped.");
}

TEST_F(RunTest, StopWhileASkipIsPendingClosesAtOnceWithoutQuestions) {
  MakeRows({1, 2});
  At("/f1/m0.eml", [this] {
    protocol.SkipPressed();
    protocol.StopPressed();
  });
  const auto summary = Start();
  EXPECT_TRUE(screen.closed);
  EXPECT_TRUE(screen.messages.empty());  // no confirmation, no closing message for a closed screen
  EXPECT_FALSE(summary.closingMessageShown);
  EXPECT_EQ(summary.folders.size(), 1u);
  EXPECT_EQ(stores.Store(Out("f1.pst")).logoffs, 1);  // the store is committed
  EXPECT_EQ(summary.folders[0].imported, 1);
  EXPECT_TRUE(summary.folders[0].Reconciles());
}

TEST_F(RunTest, TheCloseBoxEndsARunQuietlyAndTheNextOpeningStartsAfresh) {
  MakeRows({1, 2, 3});
  At("/f2/m1.eml", [this] { protocol.CloseRequested(); });
  const auto summary = Start();
  EXPECT_TRUE(screen.closed);
  EXPECT_TRUE(screen.messages.empty());
  EXPECT_EQ(summary.folders.size(), 2u);
  EXPECT_EQ(screen.markedRows, (std::vector<int>{0, 1}));
  EXPECT_EQ(stores.Store(Out("f2.pst")).logoffs, 1);

  screen.Load();
  EXPECT_FALSE(screen.requests.CloseRequested());
  EXPECT_FALSE(screen.requests.StopRequested());
}

TEST_F(RunTest, AStopRequestMadeWhileAFolderWithFilesIsScannedIsDropped) {
  MakeRows({1});
  screen.onYield = [this, done = false](test::RecordingScreen& s) mutable {
    if (!done && s.statusLine.find("Queued for Conversion") != std::string::npos) {
      done = true;
      protocol.StopPressed();
    }
  };
  const auto summary = Start();
  EXPECT_FALSE(summary.stopped);
  EXPECT_EQ(summary.folders.at(0).imported, 3);
  EXPECT_TRUE(screen.messages.size() == 1 && screen.messages[0].title == kApplicationTitle);
}

TEST_F(RunTest, ASecondRunScansAfresh) {
  Write("A/a.eml");
  Write("B/b.eml");
  Start();
  screen.saveAsAnswer = Out("second.pst");
  const auto summary = Start();
  EXPECT_EQ(summary.folders.at(0).queued, 2);
  EXPECT_EQ(StoreRoot(Out("second.pst")).Find("A")->items().size(), 1u);
}

TEST_F(RunTest, CancelInTheSaveDialogEndsTheRunWithoutAMessage) {
  Write("a.eml");
  screen.saveAsAnswer.reset();
  const auto summary = Start();
  EXPECT_TRUE(screen.closed);
  EXPECT_TRUE(screen.messages.empty());
  EXPECT_TRUE(stores.stores.empty());
}

TEST_F(RunTest, AStoreFailureInOneFolderIsReportedAndTheRunGoesOn) {
  MakeRows({1, 2});
  stores.failures.open = true;
  const auto summary = Start();
  ASSERT_EQ(summary.folders.size(), 2u);
  EXPECT_EQ(screen.MessageTitles(), (std::vector<std::string>{"Outlook Error", "Outlook Error", kApplicationTitle}));
  EXPECT_NE(ClosingText().find("Converted 0 of 6 messages.\r\n6 messages could not be converted."), std::string::npos);
  EXPECT_NE(ClosingText().find(Out("f1.log")), std::string::npos);
}

}  // namespace
}  // namespace mailfold::run

namespace mailfold::run {
namespace {

// A folder the user cannot read: its messages are in no store, so it must be in the log, the
// closing message and the summary (run as an unprivileged user: root reads everything).
TEST(UnreadableFolders, ReachTheLogTheClosingMessageAndTheSummary) {
#ifdef _WIN32
  GTEST_SKIP() << "a folder made unreadable with POSIX permissions, read by a forked unprivileged child";
#else
  const auto report = test::RunUnprivileged([](const std::string& work) {
    const std::string src = work + "/src";
    test::MakeFolder(src);
    test::MakeFolder(src + "/locked");
    test::MakeFile(src + "/a.eml", "Subject: a\r\n\r\nbody\r\n");
    test::MakeFile(src + "/locked/b.eml", "Subject: b\r\n\r\nbody\r\n");
    ::chmod((src + "/locked").c_str(), 0);
    test::FakeStoreComponent stores;
    const auto run = [&](RunPlan plan) {
      test::RecordingScreen screen;
      screen.saveAsAnswer = work + "/out.pst";
      RunDriver driver(stores, engine::FileServices::System(), test::FixedTime, stores.Reader());
      const auto summary = driver.Run(plan, screen, screen.requests);
      std::string text = screen.messages.back().text;
      for (auto at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n")) text.replace(at, 2, " | ");
      return (summary.AllWentWell() ? "well|" : "not well|") + text;
    };
    RunPlan single;
    single.sourcePath = src;
    std::string out = run(single);
    out += "\n#" + test::ReadFile(work + "/out.log") + "#\n";
    // The source itself cannot be read.
    RunPlan unreadable;
    unreadable.sourcePath = src + "/locked";
    out += run(unreadable) + "\n";
    // A checked folder of the multiple-folder list that cannot be read.
    RunPlan multiple;
    multiple.mode = engine::ConversionMode::MultipleFolders;
    multiple.rows = {{true, "locked", src + "/locked"}};
    multiple.outputFolder = work;
    out += run(multiple) + "\n";
    return out;
  });
  ASSERT_TRUE(report.has_value()) << "could not run as an unprivileged user";
  std::istringstream lines(*report);
  std::string converted, log, source, multiple;
  std::getline(lines, converted);
  std::getline(lines, log, '#');
  std::getline(lines, log, '#');
  std::getline(lines, source);
  std::getline(lines, source);
  std::getline(lines, multiple);
  EXPECT_EQ(converted.rfind("not well|Converted 1 of 1 message.", 0), 0u) << converted;
  EXPECT_NE(converted.find("/src/locked/ could not be read: Permission denied"), std::string::npos) << converted;
  EXPECT_NE(log.find("BAD : "), std::string::npos) << log;
  EXPECT_NE(log.find("/src/locked/\r\n    the folder could not be read: Permission denied\r\n"), std::string::npos) << log;
  EXPECT_EQ(source.rfind("not well|No message file could be read, so nothing was converted.", 0), 0u) << source;
  EXPECT_EQ(multiple.find(kMultipleSuccessText), std::string::npos) << multiple;
  EXPECT_NE(multiple.find("could not be read"), std::string::npos) << multiple;
#endif
}

}  // namespace
}  // namespace mailfold::run
