// Runs on the real conversion screen: Start, "X", Stop and the close box pressed with wx events
// while the run works on a temporary tree, scripted answers to its message boxes, and what the
// screen and the store show afterwards.
#include "gui_fixture.h"

namespace mailfold::test {
namespace {

using run::MessageAnswer;
using run::kApplicationTitle;

constexpr ButtonStates kDuringImport{false, false, true, true, true};
constexpr ButtonStates kAfterNormalEnd{true, true, false, false, false};

TEST_F(GuiTest, ASingleFolderRunShowsItsProgressAndEndsWithTheSuccessMessage) {
  Write("a.eml");
  Write("c.eml");
  Write("Inbox/b.eml");
  Write("notes.txt", "not a message");
  std::vector<ButtonStates> duringImport;
  std::string lastStep;
  afterEachEvent = [&] {
    // Each file, as its import begins.
    if (Step() != lastStep && Step().starts_with("Converting Messages... from")) duringImport.push_back(Buttons());
    lastStep = Step();
  };
  WatchEvents();
  ButtonStates after{};
  std::string statusAfter, progressAfter;
  int barAfter = -1;
  const int result = RunModal([&] {
    after = Buttons();
    statusAfter = StatusLine();
    progressAfter = Text(frm->lblProgress());
    barAfter = frm->ProgressBar1()->GetValue();
  });

  EXPECT_EQ(result, wxID_CANCEL);
  ASSERT_FALSE(duringImport.empty());
  for (const auto& states : duringImport) EXPECT_EQ(states, kDuringImport);
  EXPECT_EQ(after, kAfterNormalEnd);
  EXPECT_EQ(statusAfter, "Migrating 3 items from " + Src() + "/");
  EXPECT_EQ(progressAfter, "100% Complete");
  EXPECT_EQ(barAfter, 100);
  EXPECT_EQ(frm->GetTitle(), "Conversion Status");
  EXPECT_EQ(frm->FrameConversion()->GetLabelText(), "Reading Messages & Email Metadata - (3 of 3) File(s)");

  ASSERT_EQ(dialogs.proposedNames, std::vector<std::string>{std::string("src") + kStamp + ".pst"});
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].title, kApplicationTitle);
  EXPECT_EQ(dialogs.messages[0].text, run::kSingleSuccessText);
  EXPECT_EQ(dialogs.messages[0].icon, run::MessageIcon::Information);
  EXPECT_EQ(StoreRoot(Out("store.pst")).CountItemsDeep(), 3u);
  EXPECT_EQ(Folder(Out("store.pst"), "Inbox").ItemNames(), std::vector<std::string>{"b.eml"});
  EXPECT_EQ(stores.Store(Out("store.pst")).logoffs, 1);
}

TEST_F(GuiTest, AFolderWithoutMessageFilesMakesNoStoreAndLeavesStartDisabled) {
  Write("notes.txt", "x");
  ButtonStates after{};
  std::string statusAfter;
  RunModal([&] {
    after = Buttons();
    statusAfter = StatusLine();
  });
  EXPECT_EQ(statusAfter, "Migrating 0 items from " + Src() + "/");
  EXPECT_EQ(after, (ButtonStates{false, true, false, false, false}));
  EXPECT_TRUE(dialogs.proposedNames.empty());
  EXPECT_TRUE(stores.stores.empty());
  ASSERT_EQ(dialogs.Titles(), std::vector<std::string>{kApplicationTitle});
  EXPECT_NE(dialogs.messages[0].text.find("No message files"), std::string::npos) << dialogs.messages[0].text;
}

TEST_F(GuiTest, RowsTwoAndFiveOfFiveAreCountedAgainstTheWholeList) {
  MakeRows({2, 5});
  std::vector<std::string> titles;
  afterEachEvent = [&] {
    const std::string title = frm->GetTitle().utf8_string();
    if (titles.empty() || titles.back() != title) titles.push_back(title);
  };
  WatchEvents();
  ButtonStates after{};
  RunModal([&] { after = Buttons(); });

  EXPECT_EQ(titles, (std::vector<std::string>{"Conversion Status", "Converting 2 of 5 Folders",
                                              "Converting 5 of 5 Folders"}));
  EXPECT_EQ(selection.marked, (std::vector<int>{1, 4}));
  EXPECT_EQ(StoreRoot(Out("f2.pst")).CountItemsDeep(), 4u);
  EXPECT_EQ(StoreRoot(Out("f5.pst")).CountItemsDeep(), 4u);
  EXPECT_EQ(stores.stores.size(), 2u);
  EXPECT_EQ(after, kAfterNormalEnd);
  ASSERT_EQ(dialogs.Titles(), std::vector<std::string>{kApplicationTitle});
  EXPECT_EQ(dialogs.messages[0].text, run::kMultipleSuccessText);
}

TEST_F(GuiTest, MultipleFoldersWithNoCheckedRowEndAtOnceWithStartStillEnabled) {
  MakeRows({});
  ButtonStates after{};
  std::string statusAfter;
  RunModal([&] {
    after = Buttons();
    statusAfter = StatusLine();
  });
  EXPECT_EQ(statusAfter, "Conversion Not Started Yet...");
  EXPECT_EQ(after, (ButtonStates{true, true, false, false, false}));
  EXPECT_TRUE(selection.marked.empty());
  ASSERT_EQ(dialogs.Titles(), std::vector<std::string>{kApplicationTitle});
}

TEST_F(GuiTest, AConfirmedSkipEndsTheFolderAndADeclinedOneGoesOn) {
  MakeRows({1, 2});
  std::string progressAfterSkip, statusAfterSkip;
  afterEachEvent = [&] {
    if (progressAfterSkip.empty() && Text(frm->lblProgress()).starts_with("Skipped... at ")) {
      progressAfterSkip = Text(frm->lblProgress());
      statusAfterSkip = StatusLine();
    }
  };
  At("/f1/m1.eml", [&] { Click(frm->CmdSkip()); });
  At("/f2/m2.eml", [&] { Click(frm->CmdSkip()); });
  dialogs.answers = {MessageAnswer::Yes, MessageAnswer::No};
  RunModal();

  EXPECT_EQ(dialogs.Titles(), (std::vector<std::string>{"Confirm Skip", "Confirm Skip", kApplicationTitle}));
  EXPECT_EQ(StoreRoot(Out("f1.pst")).CountItemsDeep(), 2u);  // m0 and m1, then the skip
  EXPECT_EQ(StoreRoot(Out("f2.pst")).CountItemsDeep(), 4u);  // the declined skip lost nothing
  EXPECT_EQ(stores.Store(Out("f1.pst")).logoffs, 1);
  EXPECT_EQ(progressAfterSkip, "Skipped... at 50% Complete");
  EXPECT_EQ(statusAfterSkip, "Checking Next Folder...");
  ASSERT_TRUE(frm->LastRun().has_value());
  EXPECT_EQ(frm->LastRun()->Skipped(), 2);
  EXPECT_NE(dialogs.messages.back().text.find("left out because a folder was skipped"), std::string::npos);
}

TEST_F(GuiTest, AStopDeclinedGoesOnAndAStopConfirmedClosesTheScreenInTheFirstOfThreeFolders) {
  MakeRows({1, 2, 3});
  std::vector<ButtonStates> afterDecline;
  At("/f1/m1.eml", [&] { Click(frm->CmdStopMigration()); });
  At("/f1/m2.eml", [&] {
    afterDecline.push_back(Buttons());
    Click(frm->CmdStopMigration());
  });
  dialogs.answers = {MessageAnswer::No, MessageAnswer::Yes};
  std::vector<bool> shownAtClosingMessage;
  dialogs.onMessage = [&](const AskedMessage& message) {
    if (message.title == kApplicationTitle) shownAtClosingMessage.push_back(frm->IsShown());
  };
  const int result = RunModal();

  EXPECT_EQ(result, wxID_CANCEL);
  EXPECT_EQ(dialogs.Titles(), (std::vector<std::string>{"Confirm Stop", "Confirm Stop", kApplicationTitle}));
  EXPECT_EQ(shownAtClosingMessage, std::vector<bool>{false});  // the screen closed before the message
  ASSERT_EQ(afterDecline.size(), 1u);
  EXPECT_EQ(afterDecline[0], kDuringImport);
  EXPECT_EQ(selection.marked, std::vector<int>{0});
  EXPECT_EQ(StoreRoot(Out("f1.pst")).CountItemsDeep(), 3u);
  EXPECT_EQ(stores.stores.count(Out("f2.pst")), 0u);
  EXPECT_EQ(stores.stores.count(Out("f3.pst")), 0u);
  EXPECT_EQ(Text(frm->lblProgress()).rfind("Stopped... at ", 0), 0u);
  EXPECT_EQ(StatusLine(), "Stopped...");
  EXPECT_NE(dialogs.messages.back().text.find("stopped"), std::string::npos) << dialogs.messages.back().text;
}

TEST_F(GuiTest, SkipThenStopBeforeTheNextTestPointClosesAtOnceWithoutAnyQuestion) {
  for (int m = 0; m < 6; ++m) Write("m" + std::to_string(m) + ".eml");
  At("/m1.eml", [&] {
    Click(frm->CmdSkip());
    Click(frm->CmdStopMigration());
  });
  const int result = RunModal();

  EXPECT_EQ(result, wxID_CANCEL);
  EXPECT_TRUE(dialogs.messages.empty()) << dialogs.messages.front().title;
  EXPECT_FALSE(frm->IsShown());
  ASSERT_TRUE(frm->LastRun().has_value());
  EXPECT_TRUE(frm->LastRun()->closedByUser);
  // What was imported is in the store, and the store was closed properly.
  EXPECT_EQ(StoreRoot(Out("store.pst")).CountItemsDeep(), 2u);
  EXPECT_EQ(stores.Store(Out("store.pst")).logoffs, 1);
}

TEST_F(GuiTest, TheCloseBoxEndsARunQuietlyAndTheNextOpeningStartsFromTheLoadStep) {
  MakeRows({1, 2, 3});
  At("/f2/m1.eml", [&] { ClickCloseBox(); });
  EXPECT_EQ(RunModal(), wxID_CANCEL);
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_EQ(selection.marked, (std::vector<int>{0, 1}));
  EXPECT_EQ(StoreRoot(Out("f2.pst")).CountItemsDeep(), 2u);
  EXPECT_EQ(stores.Store(Out("f2.pst")).logoffs, 1);
  EXPECT_EQ(stores.stores.count(Out("f3.pst")), 0u);

  // Opened again: the load step's state, and a new run works.
  ButtonStates atOpening{};
  std::string statusAtOpening, titleAtOpening, progressAtOpening;
  frm->CallAfter([&] {
    atOpening = Buttons();
    statusAtOpening = StatusLine();
    titleAtOpening = frm->GetTitle().utf8_string();
    progressAtOpening = Text(frm->lblProgress());
  });
  frm->SetEventObserver({});
  RunModal();
  EXPECT_EQ(atOpening, (ButtonStates{true, true, false, true, false}));
  EXPECT_EQ(statusAtOpening, "Conversion Not Started Yet...");
  EXPECT_EQ(titleAtOpening, "Conversion Status");
  EXPECT_EQ(progressAtOpening, "0% Complete");
  EXPECT_EQ(dialogs.Titles(), std::vector<std::string>{kApplicationTitle});
  EXPECT_EQ(StoreRoot(Out("f3.pst")).CountItemsDeep(), 4u);
  EXPECT_EQ(stores.Store(Out("f1.pst")).logons, 2);
}

TEST_F(GuiTest, StartPressedDuringARunDoesNothing) {
  MakeRows({1, 2});
  std::vector<bool> startShownBetweenFolders;
  At("/f1/m1.eml", [&] { QueueButtonEvent(frm->CmdStartConversion()); });
  At("/f2/m0.eml", [&] {
    startShownBetweenFolders.push_back(frm->CmdStartConversion()->IsShown());
    QueueButtonEvent(frm->CmdStartConversion());
  });
  RunModal();
  EXPECT_EQ(startShownBetweenFolders, std::vector<bool>{false});  // Stop covers it
  EXPECT_EQ(selection.marked, (std::vector<int>{0, 1}));
  EXPECT_EQ(stores.Store(Out("f1.pst")).logons, 1);
  EXPECT_EQ(StoreRoot(Out("f1.pst")).CountItemsDeep(), 4u);
  EXPECT_EQ(dialogs.Titles(), std::vector<std::string>{kApplicationTitle});
}

TEST_F(GuiTest, CancelInTheSaveDialogClosesTheScreenAndWritesNothing) {
  Write("a.eml");
  dialogs.saveAsAnswer.reset();
  EXPECT_EQ(RunModal(), wxID_CANCEL);
  EXPECT_EQ(dialogs.proposedNames.size(), 1u);
  EXPECT_TRUE(stores.stores.empty());
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_FALSE(frm->IsShown());
}

class FailingSelection : public ListSelection {
 public:
  std::string SourcePath() const override { throw std::runtime_error("the source folder box is gone"); }
};

TEST(GuiFailure, AnUnexpectedFailureOfTheRunIsReportedAndLeavesTheScreenUsable) {
  MAILFOLD_REQUIRE_DISPLAY();
  FailingSelection selection;
  FakeStoreComponent stores;
  ScriptedDialogs dialogs;
  auto* frm = new run::FrmMigateAll(nullptr, selection, stores, dialogs);
  dialogs.onMessage = [frm](const AskedMessage&) { frm->CallAfter([frm] { frm->Close(); }); };
  frm->CallAfter([frm] { QueueButtonEvent(frm->CmdStartConversion()); });
  frm->ShowModal();
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_NE(dialogs.messages[0].text.find("the source folder box is gone"), std::string::npos);
  EXPECT_FALSE(frm->RunInProgress());
  EXPECT_FALSE(frm->CmdSkip()->IsEnabled());
  EXPECT_FALSE(frm->CmdStopMigration()->IsShown());
  frm->Destroy();
}

}  // namespace
}  // namespace mailfold::test

namespace mailfold::test {
namespace {

TEST_F(GuiTest, AFolderOutcomeCorrectedAfterItsConversionMakesTheClosingMessageHonest) {
  Write("a.eml");
  Write("b.eml");
  // The store reports when it closes that a failed commit lost this message.
  stores.failures.lostFileNames = {"b.eml"};
  RunModal();
  ASSERT_EQ(dialogs.Titles(), std::vector<std::string>{run::kApplicationTitle});
  const std::string& text = dialogs.messages[0].text;
  EXPECT_NE(text, run::kSingleSuccessText);
  EXPECT_NE(text.find("Converted 1 of 2"), std::string::npos) << text;
  ASSERT_TRUE(frm->LastRun().has_value());
  EXPECT_EQ(frm->LastRun()->Failed(), 1);
}

}  // namespace
}  // namespace mailfold::test
