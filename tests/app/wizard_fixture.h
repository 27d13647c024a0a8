// The whole wizard on a virtual display: the real screens and the real conversion screen over
// the store engine, desktop services replaced by scripted dialogs and a recording opener, and
// user actions sent as the toolkit's own events.
#pragma once

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/radiobut.h>
#include <wx/timer.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

#include "app/frm_multiple.h"
#include "app/frm_single.h"
#include "app/frm_start.h"
#include "app/migrate_all_launcher.h"
#include "app/wizard.h"
#include "app_doubles.h"
#include "engine/pst_store_port.h"
#include "run/frm_migrate_all.h"
#include "run_gui/wx_environment.h"
#include "support/temp_dir.h"

namespace mailfold::test {

namespace fs = std::filesystem;

// A user's click on a button: only one that is shown and enabled can be clicked. Handled at once.
inline void Press(wxButton* button) {
  ASSERT_TRUE(button->IsShownOnScreen()) << button->GetName() << " is not on screen";
  ASSERT_TRUE(button->IsEnabled()) << button->GetName() << " is disabled";
  wxCommandEvent click(wxEVT_BUTTON, button->GetId());
  click.SetEventObject(button);
  button->GetEventHandler()->ProcessEvent(click);
}

inline void Choose(wxRadioButton* option) {
  option->SetValue(true);
  wxCommandEvent click(wxEVT_RADIOBUTTON, option->GetId());
  click.SetEventObject(option);
  click.SetInt(1);
  option->GetEventHandler()->ProcessEvent(click);
}

inline void Toggle(wxCheckBox* box) {
  ASSERT_TRUE(box->IsEnabled()) << box->GetName() << " is disabled";
  box->SetValue(!box->GetValue());
  wxCommandEvent click(wxEVT_CHECKBOX, box->GetId());
  click.SetEventObject(box);
  click.SetInt(box->GetValue() ? 1 : 0);
  box->GetEventHandler()->ProcessEvent(click);
}

inline void ClickLabel(wxWindow* label) {
  wxMouseEvent up(wxEVT_LEFT_UP);
  up.SetEventObject(label);
  up.SetId(label->GetId());
  label->GetEventHandler()->ProcessEvent(up);
}

// The close box; returns whether the window let itself be closed.
inline bool CloseBox(wxWindow* window) {
  wxCloseEvent close(wxEVT_CLOSE_WINDOW, window->GetId());
  close.SetEventObject(window);
  close.SetCanVeto(true);
  window->GetEventHandler()->ProcessEvent(close);
  return !close.GetVeto();
}

inline std::string Text(const wxString& text) { return text.utf8_string(); }

class WizardTest : public ::testing::Test {
 protected:
  TempDir temp;
  WizardDialogs dialogs;
  RecordingOpener opener;
  app::Shell shell{dialogs, opener};
  engine::PstStoreOpener stores;
  app::MigrateAllLauncher launcher{stores, dialogs};
  std::unique_ptr<app::Wizard> wizard;
  int processEnded = 0;
  int conversionsOpened = 0;
  std::optional<run::RunSummary> lastRun;
  wxWindow* lastConversionParent = nullptr;
  bool conversionWasModal = false;

  void SetUp() override {
    MAILFOLD_REQUIRE_DISPLAY();
    fs::create_directories(Desktop());
    app::Wizard::Options options;
    options.helpFolder = (fs::path(MAILFOLD_SOURCE_DIR) / "docs" / "help").string();
    options.desktopFolder = [this] { return Desktop(); };
    options.endProcess = [this] { ++processEnded; };
    wizard = std::make_unique<app::Wizard>(shell, launcher, options);
    // Each conversion screen: Start once it shows, the closing message answered, then its close box.
    launcher.onOpen = [this](run::FrmMigateAll& screen) {
      ++conversionsOpened;
      lastConversionParent = screen.GetParent();
      run::FrmMigateAll* frm = &screen;
      dialogs.onMessage = [this, frm](const AskedMessage& message) {
        if (message.title != run::kApplicationTitle) return;
        frm->CallAfter([this, frm] {
          lastRun = frm->LastRun();
          if (frm->IsModal()) CloseBox(frm);
        });
      };
      frm->CallAfter([this, frm] {
        conversionWasModal = frm->IsModal();
        Press(frm->CmdStartConversion());
      });
    };
    watchdog_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { EndEveryModalLoop(); });
    watchdog_.StartOnce(120000);
  }

  void TearDown() override {
    watchdog_.Stop();
    EXPECT_FALSE(timedOut_) << "a modal screen did not close";
    wizard.reset();
    // Let the toolkit delete the destroyed windows before the next test.
    for (int i = 0; i < 3 && wxTheApp; ++i) wxTheApp->ProcessIdle();
  }

  std::string Desktop() const { return temp.str() + "/Desktop"; }
  std::string Src(const std::string& relative = "") const {
    return relative.empty() ? temp.str() + "/mail" : temp.str() + "/mail/" + relative;
  }
  // A small message file at `relative` below the source folder.
  void WriteMessage(const std::string& relative, const std::string& subject) {
    const fs::path path = fs::path(Src(relative));
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "From: a@example.org\r\nTo: b@example.org\r\nSubject: " << subject
                        << "\r\nDate: Mon, 7 Dec 2026 06:00:00 +0000\r\n\r\nHello.\r\n";
  }

  app::FrmStart* Start() const { return wizard->StartScreen(); }

  // Runs `inside` once the modal screen that `open` shows is up; fails instead of hanging.
  void WhileModal(const std::function<void()>& open, std::function<void()> inside) {
    wxTheApp->CallAfter(std::move(inside));
    open();
  }

 private:
  void EndEveryModalLoop() {
    timedOut_ = true;
    for (wxWindow* window : wxTopLevelWindows) {
      if (auto* dialog = dynamic_cast<wxDialog*>(window); dialog && dialog->IsModal()) dialog->EndModal(wxID_ABORT);
    }
  }
  wxTimer watchdog_;
  bool timedOut_ = false;
};

}  // namespace mailfold::test
