// Pictures of the wizard's screens for the documentation. Runs only when MAILFOLD_SCREENSHOT_DIR
// names the folder to write them to (docs/screenshots in the source tree):
//   MAILFOLD_SCREENSHOT_DIR=$PWD/docs/screenshots xvfb-run -a build/bin/test_app --gtest_filter='Screenshots*'
#include <wx/dcmemory.h>
#include <wx/image.h>

#include <cstdlib>

#include "app/image_list.h"
#include "run_gui/screen_capture.h"
#include "wizard_fixture.h"

namespace mailfold::test {
namespace {

// The client area as the display shows it, under a plain title bar with the window's caption:
// the virtual display has no window manager to draw frames.
void Capture(wxTopLevelWindow* window, const std::string& file) {
  constexpr int kTitleBarHeight = 26;
  window->Raise();
  window->Refresh();
  window->Update();
  // GTK paints on its frame clock: give it a few frames to bring the display up to date.
  for (int frame = 0; frame < 20; ++frame) {
    wxTheApp->Yield(true);
    wxMilliSleep(16);
  }
  const wxSize client = window->GetClientSize();
  const wxImage shown = CaptureScreenArea(wxRect(window->ClientToScreen(wxPoint(0, 0)), client));
  ASSERT_TRUE(shown.IsOk());
  wxBitmap picture(client.GetWidth(), client.GetHeight() + kTitleBarHeight, 24);
  {
    wxMemoryDC out(picture);
    out.DrawBitmap(wxBitmap(shown), 0, kTitleBarHeight);
    out.SetBrush(wxBrush(wxColour(48, 48, 48)));
    out.SetPen(*wxTRANSPARENT_PEN);
    out.DrawRectangle(0, 0, client.GetWidth(), kTitleBarHeight);
    out.SetTextForeground(*wxWHITE);
    out.SetFont(window->GetFont().Bold());
    const wxString title = window->GetTitle();
    out.DrawText(title, 10, (kTitleBarHeight - out.GetTextExtent(title).GetHeight()) / 2);
  }
  ASSERT_TRUE(picture.ConvertToImage().SaveFile(file, wxBITMAP_TYPE_PNG)) << file;
}

class Screenshots : public WizardTest {
 protected:
  std::string dir;
  void SetUp() override {
    const char* target = std::getenv("MAILFOLD_SCREENSHOT_DIR");
    if (!target || !*target) GTEST_SKIP() << "MAILFOLD_SCREENSHOT_DIR is not set";
    dir = target;
    WizardTest::SetUp();
    wxInitAllImageHandlers();
  }
};

TEST_F(Screenshots, EveryWizardScreen) {
  for (const char* user : {"anna.berg", "bob.miller", "carla.diaz", "dev-team", "info", "sales"})
    WriteMessage(std::string(user) + "/1.eml", user);
  wizard->Start();
  Capture(Start(), dir + "/start.png");

  dialogs.folderAnswers = {Src()};
  WhileModal([&] { Press(Start()->CmdNext()); }, [&] {
    app::FrmSingle* single = wizard->SingleScreen();
    Capture(single, dir + "/single-empty.png");
    Press(single->CmdAddFolder());
    Capture(single, dir + "/single-selected.png");
    CloseBox(single);
  });

  Choose(Start()->OptMultiple());
  Capture(Start(), dir + "/start-multiple.png");
  Press(Start()->CmdNext());
  app::FrmMultiple* multiple = wizard->MultipleScreen();
  Capture(multiple, dir + "/multiple-empty.png");
  dialogs.folderAnswers = {Src()};
  Press(multiple->CmdAddFolder());
  multiple->Lv()->CheckItem(0, true);
  multiple->Lv()->CheckItem(2, true);
  multiple->Lv()->CheckItem(3, true);
  Capture(multiple, dir + "/multiple-selected.png");
}

}  // namespace
}  // namespace mailfold::test

namespace mailfold::test {
namespace {

// The program icon for the Windows resource file, from the same drawing the windows use:
//   MAILFOLD_ICON_DIR=$PWD/app/resources xvfb-run -a build/bin/test_app --gtest_filter='ProgramIcon*'
TEST(ProgramIcon, WrittenAsIcoAndPng) {
  MAILFOLD_REQUIRE_DISPLAY();
  const char* target = std::getenv("MAILFOLD_ICON_DIR");
  if (!target || !*target) GTEST_SKIP() << "MAILFOLD_ICON_DIR is not set";
  wxInitAllImageHandlers();
  const wxImage icon = app::DrawProgramIcon().ConvertToImage();
  EXPECT_TRUE(icon.SaveFile(std::string(target) + "/mailfold.ico", wxBITMAP_TYPE_ICO));
  EXPECT_TRUE(icon.SaveFile(std::string(target) + "/mailfold-32.png", wxBITMAP_TYPE_PNG));
}

}  // namespace
}  // namespace mailfold::test
