// The wizard's rules without a window: the mode, the single-folder pick, and the multiple-folder
// list with its select-all box, output folder and Next.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "app/multiple_model.h"
#include "app/single_model.h"
#include "app/start_model.h"
#include "app_doubles.h"
#include "support/temp_dir.h"

namespace mailfold::test {
namespace {

namespace fs = std::filesystem;
using app::MultipleModel;

TEST(StartModel, SingleIsSelectedAndBoldAtFirstAndTheBoldCaptionFollowsTheChoice) {
  app::StartModel start;
  EXPECT_EQ(start.Mode(), engine::ConversionMode::SingleFolder);
  EXPECT_TRUE(start.SingleBold());
  EXPECT_FALSE(start.MultipleBold());
  EXPECT_EQ(start.Next(), app::NextScreen::SingleFolder);

  start.SelectMultiple();
  EXPECT_FALSE(start.SingleBold());
  EXPECT_TRUE(start.MultipleBold());
  EXPECT_EQ(start.Next(), app::NextScreen::MultipleFolders);

  start.SelectSingle();
  EXPECT_TRUE(start.SingleBold());
  EXPECT_FALSE(start.MultipleBold());
}

TEST(StartModel, TheExitConfirmationAsksWithTheApplicationTitleAndOnlyYesConfirms) {
  WizardDialogs dialogs;
  RecordingOpener opener;
  app::Shell shell(dialogs, opener);
  dialogs.answers = {run::MessageAnswer::No, run::MessageAnswer::Yes};
  EXPECT_FALSE(app::StartModel::ConfirmExit(shell));
  EXPECT_TRUE(app::StartModel::ConfirmExit(shell));
  ASSERT_EQ(dialogs.messages.size(), 2u);
  EXPECT_EQ(dialogs.messages[0].text, "Are you sure you want to exit now?");
  EXPECT_EQ(dialogs.messages[0].title, "QUORVA Mailfold");
  EXPECT_EQ(dialogs.messages[0].icon, run::MessageIcon::Question);
  EXPECT_EQ(dialogs.messages[0].buttons, run::MessageButtons::YesNo);
}

TEST(SingleModel, CancelledBrowsersChangeNothingAndAPickEnablesNextForGood) {
  WizardDialogs dialogs;
  RecordingOpener opener;
  app::Shell shell(dialogs, opener);
  app::SingleModel single;

  dialogs.folderAnswers = {std::nullopt, std::string("/data/mail"), std::nullopt, std::string("/")};
  EXPECT_FALSE(single.PickSource(shell));
  EXPECT_EQ(single.SourcePath(), "");
  EXPECT_FALSE(single.NextEnabled());
  EXPECT_FALSE(single.CanOpenConversion());

  EXPECT_TRUE(single.PickSource(shell));
  EXPECT_EQ(single.SourcePath(), "/data/mail");  // no separator added
  EXPECT_TRUE(single.NextEnabled());

  EXPECT_FALSE(single.PickSource(shell));
  EXPECT_EQ(single.SourcePath(), "/data/mail");
  EXPECT_TRUE(single.NextEnabled());

  EXPECT_TRUE(single.PickSource(shell));
  EXPECT_EQ(single.SourcePath(), "/");  // a root keeps its separator
  EXPECT_EQ(dialogs.prompts, std::vector<std::string>(4, "Choose Source Folder..."));
}

TEST(Shell, AnEmptyAddressOpensNothingAndAFailingOpenerIsNotReported) {
  WizardDialogs dialogs;
  RecordingOpener opener;
  app::Shell shell(dialogs, opener);
  shell.OpenDocument("");
  EXPECT_TRUE(opener.opened.empty());
  shell.OpenDocument("file:///x/help.html#select-folder");
  EXPECT_EQ(opener.opened, std::vector<std::string>{"file:///x/help.html#select-folder"});

  class Throwing : public app::DocumentOpener {
    void Open(const std::string&) override { throw std::runtime_error("no browser"); }
  } throwing;
  app::Shell failing(dialogs, throwing);
  EXPECT_NO_THROW(failing.OpenDocument("file:///x"));
}

// Records what the window would be told.
struct Changes : app::MultipleModelObserver {
  int cleared = 0, added = 0, stripes = 0, checkChanges = 0, busyChanges = 0;
  std::vector<std::string> captions;
  void RowsCleared() override { ++cleared; }
  void RowAdded(int) override { ++added; }
  void StripesDue() override { ++stripes; }
  void RowCheckChanged(int) override { ++checkChanges; }
  void BusyChanged() override { ++busyChanges; }
};

class MultipleModelTest : public ::testing::Test {
 protected:
  WizardDialogs dialogs;
  RecordingOpener opener;
  app::Shell shell{dialogs, opener};
  TempDir temp;
  std::function<void()> onYield;
  int yields = 0;
  std::unique_ptr<MultipleModel> model;
  Changes changes;

  void SetUp() override {
    model = std::make_unique<MultipleModel>(shell, "/home/user/Desktop", [this] {
      ++yields;
      if (onYield) onYield();
      return true;
    });
    model->SetObserver(&changes);
  }
  void TearDown() override { model->SetObserver(nullptr); }

  std::string Root() const { return temp.str(); }
  void MakeFolders(std::initializer_list<const char*> names) {
    for (const char* name : names) fs::create_directories(temp.path() / name);
  }
  void Fill(const std::string& picked) {
    dialogs.folderAnswers.push_back(picked);
    model->PickRoot();
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& row : model->Rows()) names.push_back(row.name);
    return names;
  }
  int Checked() const {
    int n = 0;
    for (const auto& row : model->Rows()) n += row.checked;
    return n;
  }
};

TEST_F(MultipleModelTest, CreationSetsTheOutputFolderAndADisabledUncheckedSelectAll) {
  EXPECT_EQ(model->OutputFolderText(), "/home/user/Desktop");
  EXPECT_EQ(model->OutputFolderForJoin(), "/home/user/Desktop");
  EXPECT_FALSE(model->SelectAllChecked());
  EXPECT_FALSE(model->SelectAllEnabled());
  EXPECT_EQ(model->SelectAllCaption(), "Check All");
  EXPECT_TRUE(model->Rows().empty());
}

TEST_F(MultipleModelTest, TheFillListsEverySubFolderByNameUncheckedWithOneYieldPerRow) {
  MakeFolders({"zoe", "anna", "Bob", "empty", "anna/deeper"});
  std::ofstream(temp.path() / "loose.eml") << "Subject: x\r\n\r\n";
  Fill(Root());
  EXPECT_EQ(Names(), (std::vector<std::string>{"Bob", "anna", "empty", "zoe"}));  // byte order, files left out
  EXPECT_EQ(model->Root(), Root() + "/");
  EXPECT_EQ(model->Rows()[1].path, Root() + "/anna");
  EXPECT_EQ(Checked(), 0);
  EXPECT_EQ(yields, 4);
  EXPECT_EQ(changes.added, 4);
  EXPECT_EQ(changes.stripes, 1);
  EXPECT_TRUE(model->SelectAllEnabled());
  EXPECT_EQ(model->ListStatus(), "");
  EXPECT_EQ(dialogs.prompts, std::vector<std::string>{"Choose Source Folder..."});
}

TEST_F(MultipleModelTest, ARootPickedWithItsSeparatorGivesNoDoubledSeparator) {
  MakeFolders({"a"});
  Fill(Root() + "/");
  ASSERT_EQ(model->Rows().size(), 1u);
  EXPECT_EQ(model->Rows()[0].path, Root() + "/a");

  // The file-system root: "/" stays "/" and rows read "/name".
  dialogs.folderAnswers.push_back("/");
  model->PickRoot();
  EXPECT_EQ(model->Root(), "/");
  ASSERT_FALSE(model->Rows().empty());
  for (const auto& row : model->Rows()) {
    EXPECT_EQ(row.path, "/" + row.name);
    EXPECT_EQ(row.path.find("//"), std::string::npos);
  }
}

TEST_F(MultipleModelTest, SelectAllWalksEveryRowAndSetsTheCaptionInsideTheWalk) {
  MakeFolders({"a", "b", "c"});
  Fill(Root());
  yields = 0;
  model->SetSelectAll(true);
  EXPECT_EQ(Checked(), 3);
  EXPECT_EQ(model->SelectAllCaption(), "Uncheck All");
  EXPECT_EQ(yields, 3);

  // Single rows by hand do not move the box or its caption.
  model->SetRowChecked(1, false);
  EXPECT_TRUE(model->SelectAllChecked());
  EXPECT_EQ(model->SelectAllCaption(), "Uncheck All");
  EXPECT_EQ(Checked(), 2);

  // Setting the state it has does nothing.
  model->SetSelectAll(true);
  EXPECT_EQ(Checked(), 2);

  model->SetSelectAll(false);
  EXPECT_EQ(Checked(), 0);
  EXPECT_EQ(model->SelectAllCaption(), "Check All");
}

TEST_F(MultipleModelTest, AnEmptyListKeepsTheCaptionAndNextSaysNoFoldersSelected) {
  MakeFolders({"a"});
  Fill(Root());
  model->SetSelectAll(true);
  ASSERT_EQ(model->SelectAllCaption(), "Uncheck All");

  TempDir bare;
  dialogs.folderAnswers.push_back(bare.str());
  model->PickRoot();
  EXPECT_TRUE(model->Rows().empty());
  EXPECT_FALSE(model->SelectAllChecked());
  EXPECT_EQ(model->SelectAllCaption(), "Uncheck All");  // no row, so no caption change
  EXPECT_TRUE(model->SelectAllEnabled());
  EXPECT_EQ(changes.stripes, 1);  // only the first, non-empty fill

  EXPECT_FALSE(model->ConfirmNext());
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, "No Folders Selected !\r\nPlease Select alteast one folder to convert.");
  EXPECT_EQ(dialogs.messages[0].title, "Select Folder(s) to Convert");
  EXPECT_EQ(dialogs.messages[0].icon, run::MessageIcon::Information);
  EXPECT_EQ(dialogs.messages[0].buttons, run::MessageButtons::Ok);
}

TEST_F(MultipleModelTest, ANewRootAfterCheckAllRefillsUncheckedAndResetsTheCaption) {
  MakeFolders({"a", "b"});
  Fill(Root());
  model->SetSelectAll(true);
  TempDir other;
  fs::create_directories(other.path() / "x");
  fs::create_directories(other.path() / "y");
  dialogs.folderAnswers.push_back(other.str());
  model->PickRoot();
  EXPECT_EQ(Names(), (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(Checked(), 0);
  EXPECT_FALSE(model->SelectAllChecked());
  EXPECT_EQ(model->SelectAllCaption(), "Check All");
}

TEST_F(MultipleModelTest, NextStopsAtTheFirstCheckedRow) {
  MakeFolders({"a", "b", "c", "d"});
  Fill(Root());
  model->SetRowChecked(2, true);
  yields = 0;
  EXPECT_TRUE(model->ConfirmNext());
  EXPECT_EQ(yields, 3);
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(MultipleModelTest, CancelledBrowsersChangeNothing) {
  MakeFolders({"a"});
  Fill(Root());
  model->SetRowChecked(0, true);
  const int before = changes.cleared;
  dialogs.folderAnswers = {std::nullopt, std::nullopt};
  model->PickRoot();
  model->ChangeOutputFolder();
  EXPECT_EQ(changes.cleared, before);
  ASSERT_EQ(model->Rows().size(), 1u);
  EXPECT_TRUE(model->Rows()[0].checked);
  EXPECT_EQ(model->OutputFolderText(), "/home/user/Desktop");
  EXPECT_EQ(dialogs.prompts.back(), "Choose Output Folder...");
}

TEST_F(MultipleModelTest, ChangeShowsThePickAsReturnedAndJoinsWithASeparator) {
  dialogs.folderAnswers = {std::string("/srv/out"), std::string("/")};
  model->ChangeOutputFolder();
  EXPECT_EQ(model->OutputFolderText(), "/srv/out");
  EXPECT_EQ(model->OutputFolderForJoin(), "/srv/out/");
  model->ChangeOutputFolder();
  EXPECT_EQ(model->OutputFolderText(), "/");
  EXPECT_EQ(model->OutputFolderForJoin(), "/");
}

TEST_F(MultipleModelTest, NoSecondFillOrWalkStartsWhileOneRuns) {
  MakeFolders({"a", "b", "c"});
  TempDir other;
  fs::create_directories(other.path() / "other");
  bool tried = false;
  onYield = [&] {
    if (tried) return;
    tried = true;
    EXPECT_TRUE(model->Busy());
    dialogs.folderAnswers.push_back(other.str());
    model->PickRoot();         // ignored: the browser is not even shown
    model->SetSelectAll(true);  // ignored
    EXPECT_FALSE(model->ConfirmNext());
  };
  Fill(Root());
  EXPECT_EQ(Names(), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(Checked(), 0);
  EXPECT_FALSE(model->SelectAllChecked());
  EXPECT_EQ(dialogs.prompts.size(), 1u);
  EXPECT_TRUE(dialogs.messages.empty());  // the refused Next shows nothing
  EXPECT_FALSE(model->Busy());
  // Once the fill is over, everything works again.
  model->SetSelectAll(true);
  EXPECT_EQ(Checked(), 3);
}

TEST_F(MultipleModelTest, AWalkEndsAtOnceWhenTheScreenGoesAway) {
  MakeFolders({"a", "b", "c"});
  int allowed = 2;
  model = std::make_unique<MultipleModel>(shell, "/d", [&] { return allowed-- > 0; });
  dialogs.folderAnswers.push_back(Root());
  model->PickRoot();
  EXPECT_EQ(model->Rows().size(), 2u);
  EXPECT_FALSE(model->Busy());
}

TEST_F(MultipleModelTest, AnUnreadableRootIsReportedInTheListStatusAndTheScreenStaysUsable) {
  MakeFolders({"a"});
  Fill(Root());
  model->SetRowChecked(0, true);

  Fill(Root() + "/does-not-exist");
  EXPECT_TRUE(model->Rows().empty());
  EXPECT_NE(model->ListStatus().find("could not be read"), std::string::npos) << model->ListStatus();
  EXPECT_NE(model->ListStatus().find("does-not-exist"), std::string::npos);
  EXPECT_TRUE(model->SelectAllEnabled());
  EXPECT_FALSE(model->Busy());

  // A readable root afterwards clears the status.
  Fill(Root());
  EXPECT_EQ(model->ListStatus(), "");
  EXPECT_EQ(model->Rows().size(), 1u);
}

TEST_F(MultipleModelTest, AListingThatBreaksOffKeepsTheRowsItReadAndSaysWhy) {
  model = std::make_unique<MultipleModel>(
      shell, "/d", [] { return true; },
      [](const std::string& root) {
        app::RootListing listing;
        listing.folders = {{"a", root + "a"}};
        listing.error = "The folder \"" + root + "\" could not be read in full: access is denied.";
        return listing;
      });
  dialogs.folderAnswers.push_back("/mail");
  model->PickRoot();
  ASSERT_EQ(model->Rows().size(), 1u);
  EXPECT_EQ(model->Rows()[0].path, "/mail/a");
  EXPECT_EQ(model->ListStatus(), "The folder \"/mail/\" could not be read in full: access is denied.");
}

TEST(RootListing, WhatCannotBeListedIsReportedWithTheReason) {
  TempDir temp;
  std::ofstream(temp.path() / "plain") << "x";
  const app::RootListing file = app::ListSubFolders(temp.str() + "/plain/");
  EXPECT_TRUE(file.folders.empty());
  EXPECT_NE(file.error.find("could not be read"), std::string::npos) << file.error;
  EXPECT_NE(file.error.find(temp.str() + "/plain/"), std::string::npos) << file.error;

  const app::RootListing empty = app::ListSubFolders(temp.str() + "/");
  EXPECT_TRUE(empty.folders.empty());
  EXPECT_EQ(empty.error, "");
}

TEST(RootListing, AFolderWithoutSearchPermissionIsListedButCannotBeARoot) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  TempDir temp;
  fs::create_directories(temp.path() / "locked" / "inner");
  fs::create_directories(temp.path() / "open");
  fs::permissions(temp.path() / "locked", fs::perms::none);
  const app::RootListing listing = app::ListSubFolders(temp.str() + "/");
  EXPECT_EQ(listing.folders.size(), 2u);  // a folder without search permission is still listed
  EXPECT_EQ(listing.error, "");
  const app::RootListing locked = app::ListSubFolders(temp.str() + "/locked/");
  EXPECT_TRUE(locked.folders.empty());
  EXPECT_NE(locked.error.find("access is denied"), std::string::npos) << locked.error;
  fs::permissions(temp.path() / "locked", fs::perms::owner_all);
}

TEST(RootListing, NamesOutsideAsciiComeBackByteForByte) {
  TempDir temp;
  const std::string names[] = {"Zoë", "日本語", "a b&c", "\xff\xfe"};
  for (const auto& name : names) fs::create_directories(temp.path() / name);
  const app::RootListing listing = app::ListSubFolders(temp.str() + "/");
  ASSERT_EQ(listing.folders.size(), 4u);
  std::vector<std::string> listed;
  for (const auto& folder : listing.folders) {
    listed.push_back(folder.name);
    EXPECT_EQ(folder.path, temp.str() + "/" + folder.name);
  }
  std::vector<std::string> expected(std::begin(names), std::end(names));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(listed, expected);
}

}  // namespace
}  // namespace mailfold::test
