// Clicks that go through the display like a user's: the mouse is moved onto the button and pressed
// with the X server's test extension, and GTK turns the click into the button's event.
#include <wx/app.h>
#include <wx/uiaction.h>
#include <wx/utils.h>

#include "gui_fixture.h"

namespace mailfold::test {
namespace {

void ClickWithTheMouse(wxWindow* button) {
  wxUIActionSimulator mouse;
  mouse.MouseMove(button->GetScreenRect().GetPosition() + button->GetSize() / 2);
  mouse.MouseClick();
}

TEST_F(GuiTest, StartAndStopClickedWithTheMouse) {
  for (int m = 0; m < 12; ++m) Write("m" + std::to_string(m) + ".eml");
  At("/m3.eml", [&] { ClickWithTheMouse(frm->CmdStopMigration()); });
  dialogs.answers = {run::MessageAnswer::Yes};
  bool started = false;
  frm->CallAfter([&] {
    // Let the window reach the display before the pointer goes there.
    for (int frame = 0; frame < 10; ++frame) {
      wxTheApp->Yield(true);
      wxMilliSleep(16);
    }
    ClickWithTheMouse(frm->CmdStartConversion());
    started = true;
  });
  wxTimer watchdog;
  watchdog.Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
    if (frm->IsModal()) frm->EndModal(wxID_ABORT);
  });
  watchdog.StartOnce(60000);
  const int result = frm->ShowModal();
  watchdog.Stop();

  ASSERT_TRUE(started);
  if (!frm->LastRun().has_value() && dialogs.messages.empty())
    GTEST_SKIP() << "the display does not take simulated input";
  EXPECT_EQ(result, wxID_CANCEL);  // the confirmed stop closed the screen
  EXPECT_EQ(dialogs.Titles(), (std::vector<std::string>{"Confirm Stop", run::kApplicationTitle}));
  const auto imported = StoreRoot(Out("store.pst")).CountItemsDeep();
  EXPECT_GE(imported, 4u);
  EXPECT_LT(imported, 12u);
}

}  // namespace
}  // namespace mailfold::test
