// Whole journeys from the start screen to finished store files, and the screens' own rules as
// the user meets them.
#include <wx/listctrl.h>

#include <chrono>
#include <cstdio>

#include "app/image_list.h"

#include "wizard_fixture.h"

namespace mailfold::test {
namespace {

TEST_F(WizardTest, TheStartScreenOpensWithSingleSelectedAndBoldAndTheModeSwitchesTheWeights) {
  wizard->Start();
  app::FrmStart* start = Start();
  ASSERT_NE(start, nullptr);
  EXPECT_TRUE(start->IsShown());
  EXPECT_EQ(Text(start->GetTitle()), "QUORVA Mailfold v6.3");
  EXPECT_EQ(start->GetClientSize(), wxSize(618, 472));
  EXPECT_TRUE(start->OptSingle()->GetValue());
  EXPECT_EQ(start->OptSingle()->GetFont().GetWeight(), wxFONTWEIGHT_BOLD);
  EXPECT_EQ(start->OptMultiple()->GetFont().GetWeight(), wxFONTWEIGHT_NORMAL);

  Choose(start->OptMultiple());
  EXPECT_FALSE(start->OptSingle()->GetValue());
  EXPECT_EQ(start->OptSingle()->GetFont().GetWeight(), wxFONTWEIGHT_NORMAL);
  EXPECT_EQ(start->OptMultiple()->GetFont().GetWeight(), wxFONTWEIGHT_BOLD);
  EXPECT_EQ(wizard->StartState().Mode(), engine::ConversionMode::MultipleFolders);

  // The help links and the manual open the local pages at their places.
  ClickLabel(start->LblSingleHelp());
  ClickLabel(start->LblMultipleHelp());
  Press(start->CmdHelp());
  ASSERT_EQ(opener.opened.size(), 3u);
  EXPECT_EQ(opener.opened[0].rfind("file://", 0), 0u);
  EXPECT_NE(opener.opened[0].find("/docs/help/help.html#single-folder"), std::string::npos) << opener.opened[0];
  EXPECT_NE(opener.opened[1].find("/docs/help/help.html#multiple-folders"), std::string::npos);
  EXPECT_NE(opener.opened[2].find("/docs/help/index.html"), std::string::npos);
  EXPECT_EQ(Text(start->LblSingleHelp()->GetLabel()), " [ ? ]");
  EXPECT_EQ(Text(start->LblSingleHelp()->GetToolTipText()), "Click to Know More...");
  EXPECT_EQ(start->LblSingleHelp()->GetForegroundColour(), wxColour(0, 0, 255));
}

TEST_F(WizardTest, ExitNeedsYesAndYesEndsTheProcessWithTheOtherScreensOpen) {
  wizard->Start();
  Choose(Start()->OptMultiple());
  Press(Start()->CmdNext());  // the multiple-folder screen exists now, the start screen is hidden
  Press(wizard->MultipleScreen()->CmdBack());

  dialogs.answers = {run::MessageAnswer::No};
  EXPECT_FALSE(CloseBox(Start()));
  ASSERT_NE(Start(), nullptr);
  EXPECT_TRUE(Start()->IsShown());
  EXPECT_FALSE(Start()->OptSingle()->GetValue());  // the mode is as it was
  EXPECT_EQ(processEnded, 0);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, "Are you sure you want to exit now?");
  EXPECT_EQ(dialogs.messages[0].title, "QUORVA Mailfold");
  EXPECT_EQ(dialogs.messages[0].icon, run::MessageIcon::Question);

  dialogs.answers = {run::MessageAnswer::Yes};
  CloseBox(Start());
  EXPECT_EQ(processEnded, 1);
  EXPECT_EQ(wizard->StartScreen(), nullptr);
  EXPECT_EQ(wizard->MultipleScreen(), nullptr);
  EXPECT_TRUE(wizard->Exiting());
}

TEST_F(WizardTest, SingleFolderJourneyFromTheStartScreenToAFinishedStore) {
  WriteMessage("a.eml", "first");
  WriteMessage("sub/b.eml", "second");
  dialogs.saveAsAnswer = temp.str() + "/single.pst";
  dialogs.folderAnswers = {std::nullopt, Src(), std::nullopt};
  wizard->Start();

  bool checked = false;
  WhileModal([&] { Press(Start()->CmdNext()); }, [&] {
    app::FrmSingle* single = wizard->SingleScreen();
    ASSERT_NE(single, nullptr);
    EXPECT_TRUE(single->IsModal());
    EXPECT_EQ(single->GetParent(), Start());  // modal over the start screen
    EXPECT_EQ(Text(single->GetTitle()), "Single Folder Conversion Mode");
    EXPECT_EQ(single->GetClientSize(), wxSize(579, 250));
    EXPECT_FALSE(single->CmdNext()->IsEnabled());

    Press(single->CmdAddFolder());  // cancelled
    EXPECT_EQ(Text(single->TxtSourceMailbox()->GetValue()), "");
    EXPECT_FALSE(single->CmdNext()->IsEnabled());

    Press(single->CmdAddFolder());
    EXPECT_EQ(Text(single->TxtSourceMailbox()->GetValue()), Src());
    EXPECT_FALSE(single->TxtSourceMailbox()->IsEditable());

    Press(single->CmdAddFolder());  // cancelled again: the pick stays
    EXPECT_EQ(Text(single->TxtSourceMailbox()->GetValue()), Src());
    EXPECT_TRUE(single->CmdNext()->IsEnabled());

    ClickLabel(single->LblSingleMailbox());
    // The start screen's Next does not open a second screen while this one is open.
    Press(Start()->CmdNext());
    EXPECT_EQ(wizard->SingleScreen(), single);

    Press(single->CmdNext());  // returns once the conversion screen has closed
    EXPECT_EQ(Text(single->TxtSourceMailbox()->GetValue()), Src());
    EXPECT_EQ(conversionsOpened, 1);
    // Next again opens the conversion screen again for the same folder.
    Press(single->CmdNext());
    EXPECT_EQ(conversionsOpened, 2);
    EXPECT_EQ(Text(single->TxtSourceMailbox()->GetValue()), Src());
    checked = true;
    CloseBox(single);
  });
  ASSERT_TRUE(checked);

  EXPECT_EQ(wizard->SingleScreen(), nullptr);
  EXPECT_TRUE(Start()->OptSingle()->GetValue());
  EXPECT_EQ(dialogs.prompts, std::vector<std::string>(3, "Choose Source Folder..."));
  ASSERT_EQ(opener.opened.size(), 1u);
  EXPECT_NE(opener.opened[0].find("#select-folder"), std::string::npos);

  EXPECT_EQ(conversionsOpened, 2);
  EXPECT_TRUE(conversionWasModal);
  ASSERT_TRUE(lastRun.has_value());
  EXPECT_EQ(lastRun->mode, engine::ConversionMode::SingleFolder);
  EXPECT_EQ(lastRun->sourcePath, Src() + "/");
  EXPECT_EQ(lastRun->Imported(), 2);
  EXPECT_EQ(lastRun->Failed(), 0);
  EXPECT_TRUE(fs::is_regular_file(temp.str() + "/single.pst"));
  EXPECT_TRUE(fs::is_regular_file(temp.str() + "/single.log"));

  // Opened again, the screen starts empty.
  WhileModal([&] { Press(Start()->CmdNext()); }, [&] {
    app::FrmSingle* single = wizard->SingleScreen();
    ASSERT_NE(single, nullptr);
    EXPECT_EQ(Text(single->TxtSourceMailbox()->GetValue()), "");
    EXPECT_FALSE(single->CmdNext()->IsEnabled());
    CloseBox(single);
  });
}

TEST_F(WizardTest, MultipleFolderJourneyKeepsItsStateAcrossBackAndEndsInOneStorePerCheckedFolder) {
  for (const char* folder : {"carol", "alice", "bob"}) {
    WriteMessage(std::string(folder) + "/1.eml", folder);
    WriteMessage(std::string(folder) + "/inbox/2.eml", folder);
  }
  const std::string output = temp.str() + "/out";
  fs::create_directories(output);

  wizard->Start();
  Choose(Start()->OptMultiple());
  Press(Start()->CmdNext());
  app::FrmMultiple* multiple = wizard->MultipleScreen();
  ASSERT_NE(multiple, nullptr);
  EXPECT_TRUE(multiple->IsShown());
  EXPECT_FALSE(Start()->IsShown());
  EXPECT_EQ(Text(multiple->GetTitle()), "Multiple Folder Conversion Mode");
  EXPECT_EQ(multiple->GetClientSize(), wxSize(706, 472));
  EXPECT_EQ(Text(multiple->TxtOutputFolder()->GetValue()), Desktop());
  EXPECT_FALSE(multiple->ChkSelectAll()->IsEnabled());
  EXPECT_EQ(multiple->Lv()->GetSize(), wxSize(641, 209));
  EXPECT_EQ(multiple->Lv()->GetColumnWidth(0), 200);
  EXPECT_EQ(multiple->Lv()->GetColumnWidth(1), 440);

  // Next with an empty list.
  Press(multiple->CmdNext());
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].title, "Select Folder(s) to Convert");
  EXPECT_EQ(conversionsOpened, 0);

  dialogs.folderAnswers = {Src()};
  Press(multiple->CmdAddFolder());
  wxListCtrl* lv = multiple->Lv();
  ASSERT_EQ(lv->GetItemCount(), 3);
  EXPECT_EQ(Text(lv->GetItemText(0)), "alice");
  EXPECT_EQ(Text(lv->GetItemText(1, 1)), Src("bob"));
  EXPECT_EQ(lv->GetItemBackgroundColour(0), wxColour(255, 255, 255));
  EXPECT_EQ(lv->GetItemBackgroundColour(1), wxColour(255, 255, 192));
  EXPECT_EQ(lv->GetItemBackgroundColour(2), wxColour(255, 255, 255));
  wxListItem cell;
  cell.SetId(0);
  cell.SetColumn(0);
  cell.SetMask(wxLIST_MASK_IMAGE);
  ASSERT_TRUE(lv->GetItem(cell));
  EXPECT_EQ(cell.GetImage(), app::ImageIndex(app::ListImage::Person));
  cell.SetColumn(1);
  ASSERT_TRUE(lv->GetItem(cell));
  EXPECT_EQ(cell.GetImage(), app::ImageIndex(app::ListImage::Folder));
  EXPECT_TRUE(multiple->ChkSelectAll()->IsEnabled());
  EXPECT_EQ(Text(multiple->ChkSelectAll()->GetLabel()), "Check All");

  // The path column shows the path as its tool tip; the name column shows none.
  wxRect pathCell, nameCell;
  ASSERT_TRUE(lv->GetSubItemRect(2, 1, pathCell));
  ASSERT_TRUE(lv->GetSubItemRect(2, 0, nameCell));
  EXPECT_EQ(Text(multiple->ToolTipAt(wxPoint(pathCell.x + 30, pathCell.y + pathCell.height / 2))), Src("carol"));
  EXPECT_EQ(Text(multiple->ToolTipAt(wxPoint(nameCell.x + 30, nameCell.y + nameCell.height / 2))), "");

  // Check All, then one row unchecked by hand: the box keeps its state and caption.
  Toggle(multiple->ChkSelectAll());
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(lv->IsItemChecked(i)) << i;
  EXPECT_EQ(Text(multiple->ChkSelectAll()->GetLabel()), "Uncheck All");
  lv->CheckItem(1, false);  // sends the list's own event, as a click on the box does
  EXPECT_FALSE(multiple->Model().Rows()[1].checked);
  EXPECT_TRUE(multiple->ChkSelectAll()->GetValue());
  EXPECT_EQ(Text(multiple->ChkSelectAll()->GetLabel()), "Uncheck All");

  // Back and Next again: the same screen with the same rows, checks and output folder.
  Press(multiple->CmdBack());
  EXPECT_TRUE(Start()->IsShown());
  EXPECT_FALSE(multiple->IsShown());
  Press(Start()->CmdNext());
  EXPECT_EQ(wizard->MultipleScreen(), multiple);
  EXPECT_TRUE(multiple->IsShown());
  ASSERT_EQ(lv->GetItemCount(), 3);
  EXPECT_TRUE(lv->IsItemChecked(0));
  EXPECT_FALSE(lv->IsItemChecked(1));
  EXPECT_TRUE(lv->IsItemChecked(2));
  EXPECT_EQ(Text(multiple->TxtOutputFolder()->GetValue()), Desktop());

  // Change... cancelled, then picked.
  dialogs.folderAnswers = {std::nullopt, output};
  Press(multiple->CmdChange());
  EXPECT_EQ(Text(multiple->TxtOutputFolder()->GetValue()), Desktop());
  Press(multiple->CmdChange());
  EXPECT_EQ(Text(multiple->TxtOutputFolder()->GetValue()), output);
  EXPECT_EQ(dialogs.prompts,
            (std::vector<std::string>{"Choose Source Folder...", "Choose Output Folder...", "Choose Output Folder..."}));

  ClickLabel(multiple->LblSelectRootFolder());
  ASSERT_EQ(opener.opened.size(), 1u);
  EXPECT_NE(opener.opened[0].find("#select-root-folder"), std::string::npos);

  // Next: the conversion screen over this one; alice and carol become stores in the output folder.
  Press(multiple->CmdNext());
  EXPECT_EQ(conversionsOpened, 1);
  EXPECT_EQ(lastConversionParent, multiple);
  EXPECT_TRUE(conversionWasModal);
  ASSERT_TRUE(lastRun.has_value());
  EXPECT_EQ(lastRun->mode, engine::ConversionMode::MultipleFolders);
  EXPECT_EQ(lastRun->checkedRows, 2);
  EXPECT_EQ(lastRun->Imported(), 4);
  EXPECT_EQ(lastRun->folders.size(), 2u);
  EXPECT_TRUE(fs::is_regular_file(output + "/alice.pst"));
  EXPECT_TRUE(fs::is_regular_file(output + "/carol.pst"));
  EXPECT_FALSE(fs::exists(output + "/bob.pst"));
  // Rows taken up by the run are marked.
  EXPECT_EQ(lv->GetItemTextColour(0), wxColour(0, 128, 0));
  EXPECT_EQ(lv->GetItemTextColour(2), wxColour(0, 128, 0));
  EXPECT_NE(lv->GetItemTextColour(1), wxColour(0, 128, 0));

  // The close box goes back to the start screen; the screen keeps its state for the next visit.
  EXPECT_FALSE(CloseBox(multiple));
  EXPECT_TRUE(Start()->IsShown());
  EXPECT_FALSE(multiple->IsShown());
  EXPECT_EQ(wizard->MultipleScreen(), multiple);
  EXPECT_EQ(multiple->Lv()->GetItemCount(), 3);
}

TEST_F(WizardTest, AnUnreadableRootIsShownUnderTheListAndTheScreenStaysUsable) {
  wizard->Start();
  Choose(Start()->OptMultiple());
  Press(Start()->CmdNext());
  app::FrmMultiple* multiple = wizard->MultipleScreen();
  std::ofstream(temp.str() + "/plain-file") << "x";
  dialogs.folderAnswers = {temp.str() + "/plain-file"};
  Press(multiple->CmdAddFolder());
  EXPECT_TRUE(multiple->LblListStatus()->IsShown());
  EXPECT_NE(Text(multiple->LblListStatus()->GetLabel()).find("could not be read"), std::string::npos);
  EXPECT_TRUE(multiple->CmdAddFolder()->IsEnabled());
  EXPECT_TRUE(multiple->CmdNext()->IsEnabled());

  WriteMessage("x/1.eml", "x");
  dialogs.folderAnswers = {Src()};
  Press(multiple->CmdAddFolder());
  EXPECT_FALSE(multiple->LblListStatus()->IsShown());
  EXPECT_EQ(multiple->Lv()->GetItemCount(), 1);
}

TEST_F(WizardTest, WhileTheListFillsNothingCanStartASecondWalkAndNamesOutsideAsciiSurvive) {
  constexpr int kFolders = 1000;
  for (int i = 0; i < kFolders; ++i) fs::create_directories(Src("user" + std::to_string(1000 + i)));
  fs::create_directories(Src("Zoë 日本"));
  WriteMessage("Zoë 日本/1.eml", "zoe");
  wizard->Start();
  Choose(Start()->OptMultiple());
  Press(Start()->CmdNext());
  app::FrmMultiple* multiple = wizard->MultipleScreen();

  // Runs inside the fill's first yield, as a user's click during the fill would.
  bool sawBusy = false;
  wxTheApp->CallAfter([&] {
    sawBusy = true;
    EXPECT_FALSE(multiple->CmdAddFolder()->IsEnabled());
    EXPECT_FALSE(multiple->CmdNext()->IsEnabled());
    EXPECT_FALSE(multiple->ChkSelectAll()->IsEnabled());
    EXPECT_TRUE(multiple->CmdBack()->IsEnabled());
    // The event of a click that reached the button anyway changes nothing either.
    wxCommandEvent click(wxEVT_BUTTON, multiple->CmdAddFolder()->GetId());
    click.SetEventObject(multiple->CmdAddFolder());
    multiple->CmdAddFolder()->GetEventHandler()->ProcessEvent(click);
  });
  dialogs.folderAnswers = {Src(), std::string("/")};
  const auto started = std::chrono::steady_clock::now();
  Press(multiple->CmdAddFolder());
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
  std::printf("filling %d rows took %lld ms\n", kFolders + 1, static_cast<long long>(took.count()));
  EXPECT_TRUE(sawBusy);
  EXPECT_EQ(dialogs.foldersBrowsed, 1);  // the second click did not browse
  ASSERT_EQ(multiple->Lv()->GetItemCount(), kFolders + 1);
  EXPECT_TRUE(multiple->CmdAddFolder()->IsEnabled());
  EXPECT_TRUE(multiple->ChkSelectAll()->IsEnabled());
  EXPECT_LT(took.count(), 120000);

  // Check All walks every row the same way; Uncheck All brings the list back.
  const auto walkStarted = std::chrono::steady_clock::now();
  Toggle(multiple->ChkSelectAll());
  const auto walk =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - walkStarted);
  std::printf("checking %d rows took %lld ms\n", kFolders + 1, static_cast<long long>(walk.count()));
  EXPECT_TRUE(multiple->Lv()->IsItemChecked(kFolders));
  EXPECT_EQ(Text(multiple->ChkSelectAll()->GetLabel()), "Uncheck All");
  Toggle(multiple->ChkSelectAll());
  EXPECT_FALSE(multiple->Lv()->IsItemChecked(kFolders));

  // Byte order puts "Z" (0x5A) before the lower-case names.
  EXPECT_EQ(Text(multiple->Lv()->GetItemText(0)), "Zoë 日本");
  EXPECT_EQ(Text(multiple->Lv()->GetItemText(0, 1)), Src("Zoë 日本"));
  EXPECT_EQ(Text(multiple->Lv()->GetItemText(kFolders)), "user1999");
  multiple->Lv()->CheckItem(0, true);

  const std::string output = temp.str() + "/Ausgabe ü";
  fs::create_directories(output);
  dialogs.folderAnswers = {output};
  Press(multiple->CmdChange());
  Press(multiple->CmdNext());
  ASSERT_TRUE(lastRun.has_value());
  EXPECT_EQ(lastRun->Imported(), 1);
  EXPECT_TRUE(fs::is_regular_file(output + "/Zoë 日本.pst"));
}

TEST_F(WizardTest, ExitConfirmedWhileTheListFillsEndsTheFillAndEveryScreen) {
  for (int i = 0; i < 50; ++i) fs::create_directories(Src("f" + std::to_string(100 + i)));
  wizard->Start();
  Choose(Start()->OptMultiple());
  Press(Start()->CmdNext());
  app::FrmMultiple* multiple = wizard->MultipleScreen();
  // Inside the fill's first yield: Back, then the start screen's close box, answered Yes.
  wxTheApp->CallAfter([&] {
    Press(multiple->CmdBack());
    dialogs.answers = {run::MessageAnswer::Yes};
    CloseBox(Start());
  });
  dialogs.folderAnswers = {Src()};
  Press(multiple->CmdAddFolder());  // returns once the fill has given up
  EXPECT_EQ(processEnded, 1);
  EXPECT_EQ(wizard->StartScreen(), nullptr);
  EXPECT_EQ(wizard->MultipleScreen(), nullptr);
  // The windows go with the toolkit's next idle pass; nothing of the fill may touch them then.
  wxTheApp->ProcessIdle();
}

}  // namespace
}  // namespace mailfold::test
