// The conversion screen as it opens: its controls under their names, captions, tool tips, fonts,
// places, and the state every opening starts from.
#include <wx/checkbox.h>
#include <wx/tooltip.h>

#include "gui_fixture.h"

namespace mailfold::test {
namespace {

wxWindow* Named(wxWindow* parent, const char* name) { return wxWindow::FindWindowByName(name, parent); }

std::string Tip(const wxWindow* window) {
  return window->GetToolTip() ? window->GetToolTip()->GetTip().utf8_string() : std::string();
}

TEST_F(GuiTest, OpensWithItsControlsCaptionsAndTips) {
  EXPECT_EQ(frm->GetName(), "frmMigateAll");
  EXPECT_EQ(frm->GetTitle(), "Conversion Status");
  for (const char* name : {"lblCount1", "CmdSkip", "lblProgress", "ProgressBar1", "FrameConversion", "LblCurrentDBX",
                           "ChkDelete", "lblDeleteHelp", "CmdStartConversion", "CmdStopMigration"})
    EXPECT_NE(Named(frm, name), nullptr) << name;

  EXPECT_EQ(StatusLine(), "Conversion Not Started Yet...");
  EXPECT_EQ(Text(frm->lblProgress()), "0% Complete");
  EXPECT_EQ(Step(), "Converting Messages...");
  EXPECT_EQ(frm->FrameConversion()->GetLabelText(), " Details ");
  EXPECT_EQ(frm->CmdSkip()->GetLabel(), "X");
  EXPECT_EQ(frm->CmdStartConversion()->GetLabel(), "Sta&rt Conversion");
  EXPECT_EQ(frm->CmdStopMigration()->GetLabel(), "S&top Conversion");
  EXPECT_EQ(frm->ChkDelete()->GetLabel(), "Delete Source file(s), during conversion...");
  EXPECT_EQ(Text(frm->lblDeleteHelp()), " [ ? ]");

  EXPECT_EQ(Tip(frm->CmdSkip()), "Cancel Conversion of Current Folder");
  EXPECT_EQ(Tip(frm->CmdStopMigration()), "Stops Complete Conversion");
  EXPECT_EQ(Tip(frm->lblDeleteHelp()), "Click to Know More...");
  EXPECT_EQ(Tip(frm->CmdStartConversion()), "");

  EXPECT_EQ(frm->ProgressBar1()->GetRange(), 100);
  EXPECT_EQ(frm->ProgressBar1()->GetValue(), 0);
  EXPECT_TRUE(frm->lblCount1()->GetFont().GetWeight() >= wxFONTWEIGHT_BOLD);
  EXPECT_TRUE(frm->CmdSkip()->GetFont().GetWeight() >= wxFONTWEIGHT_BOLD);
  EXPECT_GT(frm->lblProgress()->GetFont().GetFractionalPointSize(),
            frm->LblCurrentDBX()->GetFont().GetFractionalPointSize());
}

TEST_F(GuiTest, TheButtonsAndTheHiddenOptionStartAsLoaded) {
  EXPECT_EQ(Buttons(), (ButtonStates{true, true, false, true, false}));
  EXPECT_FALSE(frm->ChkDelete()->IsShown());
  EXPECT_FALSE(frm->ChkDelete()->GetValue());
  EXPECT_FALSE(frm->lblDeleteHelp()->IsShown());
  // Stop takes Start's place exactly.
  EXPECT_EQ(frm->CmdStopMigration()->GetRect(), frm->CmdStartConversion()->GetRect());
}

TEST_F(GuiTest, TheLayoutFollowsTheTwipMeasuresAndKeepsEveryControlInside) {
  // 7200 x 3930 twips at 15 twips per pixel.
  EXPECT_EQ(frm->GetClientSize(), wxSize(480, 262));
  const wxRect client(frm->GetClientSize());
  for (wxWindow* child : frm->GetChildren())
    EXPECT_TRUE(client.Contains(child->GetRect())) << child->GetName() << " runs outside the window";
  // Start sits at the bottom centre; the "X" at the right end of the status line.
  const wxRect start = frm->CmdStartConversion()->GetRect();
  EXPECT_NEAR(start.GetLeft() + start.GetWidth() / 2.0, client.GetWidth() / 2.0, 1.0);
  EXPECT_GT(start.GetTop(), frm->FrameConversion()->GetRect().GetBottom());
  const wxRect status = frm->lblCount1()->GetParent()->GetRect();
  EXPECT_EQ(frm->CmdSkip()->GetRect().GetTop(), status.GetTop());
  EXPECT_GT(frm->CmdSkip()->GetRect().GetLeft(), status.GetRight());
  // The step label lies inside the Details frame.
  EXPECT_TRUE(frm->FrameConversion()->GetRect().Contains(frm->LblCurrentDBX()->GetRect()));
}

}  // namespace
}  // namespace mailfold::test
