#include "run/frm_migrate_all.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/font.h>
#include <wx/gauge.h>
#include <wx/panel.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

#include <exception>

#include "run/wx_conversion_screen.h"

namespace mailfold::run {
namespace {

// The layout is kept in twips, the unit the screens were designed in (1/1440 inch, 15 twips per
// pixel at 96 dots per inch).
constexpr int kTwipsPerPixel = 15;
constexpr int Px(int twips) { return twips / kTwipsPerPixel; }

struct TwipRect {
  int left, top, width, height;
  wxPoint Position() const { return {Px(left), Px(top)}; }
  wxSize Size() const { return {Px(width), Px(height)}; }
};

constexpr int kClientWidth = 7200;   // 480 px
constexpr int kClientHeight = 3930;  // 262 px
constexpr TwipRect kStatusLine{120, 120, 6480, 375};
constexpr TwipRect kSkipButton{6660, 120, 420, 375};
constexpr TwipRect kProgressText{120, 600, 6960, 300};
constexpr TwipRect kProgressBar{120, 930, 6960, 300};
constexpr TwipRect kDetailsFrame{120, 1380, 6960, 1440};
constexpr TwipRect kCurrentStep{300, 1710, 6600, 960};
constexpr TwipRect kDeleteOption{120, 2910, 4500, 300};
constexpr TwipRect kDeleteHelp{4680, 2910, 600, 300};
// Start and Stop share one place, bottom centre.
constexpr TwipRect kStartStop{(kClientWidth - 2280) / 2, 3330, 2280, 450};

const char* const kWindowCaption = "Conversion Status";

wxFont Tahoma(double points, bool bold = false) {
  wxFontInfo info(points);
  info.FaceName("Tahoma");
  if (bold) info.Bold();
  return wxFont(info);
}

}  // namespace

FrmMigateAll::FrmMigateAll(wxWindow* parent, Selection& selection, engine::StoreSessionFactory& stores,
                           DialogService& dialogs, engine::FileServices files, engine::FolderConversion::Clock clock)
    : wxDialog(parent, wxID_ANY, kWindowCaption, wxDefaultPosition, wxDefaultSize, wxDEFAULT_DIALOG_STYLE,
               "frmMigateAll"),
      dialogs_(dialogs) {
  CreateControls();
  screen_ = std::make_unique<WxConversionScreen>(*this, dialogs_);
  driver_ = std::make_unique<RunDriver>(*screen_, selection, stores, std::move(files), std::move(clock));
  protocol_ = std::make_unique<RequestProtocol>(*screen_);
  Load();
}

FrmMigateAll::~FrmMigateAll() = default;

void FrmMigateAll::CreateControls() {
  SetFont(Tahoma(9));
  SetClientSize(Px(kClientWidth), Px(kClientHeight));

  // The status line is a white band; a panel carries the colour on every platform.
  statusBack_ = new wxPanel(this, wxID_ANY, kStatusLine.Position(), kStatusLine.Size(), wxBORDER_SUNKEN);
  statusBack_->SetBackgroundColour(*wxWHITE);
  lblCount1_ = new wxStaticText(statusBack_, wxID_ANY, "", wxPoint(4, 3),
                                wxSize(kStatusLine.Size().GetWidth() - 10, kStatusLine.Size().GetHeight() - 8),
                                wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_MIDDLE, "lblCount1");
  lblCount1_->SetFont(Tahoma(9.75, true));
  lblCount1_->SetBackgroundColour(*wxWHITE);

  // Exact fit: the native padding would leave no room for the "X" in a button this small.
  cmdSkip_ = new wxButton(this, wxID_ANY, "X", kSkipButton.Position(), kSkipButton.Size(), wxBU_EXACTFIT,
                          wxDefaultValidator, "CmdSkip");
  cmdSkip_->SetFont(Tahoma(9.75, true));
  cmdSkip_->SetToolTip("Cancel Conversion of Current Folder");

  lblProgress_ = new wxStaticText(this, wxID_ANY, "", kProgressText.Position(), kProgressText.Size(),
                                  wxST_NO_AUTORESIZE, "lblProgress");
  lblProgress_->SetFont(Tahoma(11.25));

  progressBar1_ = new wxGauge(this, wxID_ANY, 100, kProgressBar.Position(), kProgressBar.Size(),
                              wxGA_HORIZONTAL | wxGA_SMOOTH, wxDefaultValidator, "ProgressBar1");

  frameConversion_ = new wxStaticBox(this, wxID_ANY, "", kDetailsFrame.Position(), kDetailsFrame.Size(), 0,
                                     "FrameConversion");
  lblCurrentDBX_ = new wxStaticText(this, wxID_ANY, "", kCurrentStep.Position(), kCurrentStep.Size(),
                                    wxST_NO_AUTORESIZE, "LblCurrentDBX");
  lblCurrentDBX_->SetForegroundColour(wxColour(128, 128, 128));

  // The delete-source option is never offered; it stays hidden and unchecked.
  chkDelete_ = new wxCheckBox(this, wxID_ANY, "Delete Source file(s), during conversion...",
                              kDeleteOption.Position(), kDeleteOption.Size(), 0, wxDefaultValidator, "ChkDelete");
  chkDelete_->SetForegroundColour(wxColour(128, 0, 0));
  chkDelete_->Hide();
  lblDeleteHelp_ = new wxStaticText(this, wxID_ANY, " [ ? ]", kDeleteHelp.Position(), kDeleteHelp.Size(), 0,
                                    "lblDeleteHelp");
  lblDeleteHelp_->SetForegroundColour(wxColour(0, 0, 255));
  lblDeleteHelp_->SetToolTip("Click to Know More...");
  lblDeleteHelp_->SetCursor(wxCursor(wxCURSOR_HAND));
  lblDeleteHelp_->Hide();

  cmdStartConversion_ = new wxButton(this, wxID_ANY, "Sta&rt Conversion", kStartStop.Position(), kStartStop.Size(),
                                     0, wxDefaultValidator, "CmdStartConversion");
  cmdStopMigration_ = new wxButton(this, wxID_ANY, "S&top Conversion", kStartStop.Position(), kStartStop.Size(), 0,
                                   wxDefaultValidator, "CmdStopMigration");
  cmdStopMigration_->SetToolTip("Stops Complete Conversion");
  cmdStopMigration_->Hide();

  // The screen has no Cancel button, and Escape must not end a run by accident.
  SetEscapeId(wxID_NONE);

  cmdStartConversion_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { CmdStartConversion_Click(); });
  cmdSkip_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { CmdSkip_Click(); });
  cmdStopMigration_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { CmdStopMigration_Click(); });
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { Form_Close(); });
}

void FrmMigateAll::Load() {
  // A screen opened again looks as it did when it was first made, then runs the load step.
  SetTitle(kWindowCaption);
  cmdStartConversion_->Enable();
  cmdStartConversion_->Show();
  cmdStopMigration_->Enable();
  cmdStopMigration_->Hide();
  driver_->Load();
}

bool FrmMigateAll::Show(bool show) {
  if (show && !IsShown() && screen_ && screen_->IsClosed() && !driver_->Running()) {
    screen_->Reopened();
    Load();
  }
  return wxDialog::Show(show);
}

int FrmMigateAll::ShowModal() {
  if (screen_->IsClosed() && !driver_->Running()) {
    screen_->Reopened();
    Load();
  }
  return wxDialog::ShowModal();
}

void FrmMigateAll::SetYieldObserver(std::function<void()> observer) { screen_->SetYieldObserver(std::move(observer)); }

engine::ConversionScreen& FrmMigateAll::Screen() { return *screen_; }

void FrmMigateAll::CmdStartConversion_Click() {
  // A press while a run works (between two folders, or during its first yield) does nothing.
  if (driver_->Running()) return;
  try {
    lastRun_ = driver_->Start();
  } catch (const std::exception& error) {
    // The driver has already reset the buttons; the user must learn that the run did not finish.
    dialogs_.ShowMessage(std::string("The conversion ended unexpectedly:\r\n") + error.what(), kApplicationTitle,
                         engine::MessageIcon::Information, engine::MessageButtons::Ok);
  }
}

void FrmMigateAll::CmdSkip_Click() { protocol_->SkipPressed(); }

void FrmMigateAll::CmdStopMigration_Click() { protocol_->StopPressed(); }

void FrmMigateAll::Form_Close() { protocol_->CloseRequested(); }

}  // namespace mailfold::run
