#include "run/frm_migrate_all.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/font.h>
#include <wx/gauge.h>
#include <wx/panel.h>
#include <wx/statbox.h>
#include <wx/evtloop.h>
#include <wx/stattext.h>
#include <wx/utils.h>

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

FrmMigateAll::FrmMigateAll(wxWindow* parent, Selection& selection, engine::StoreOpener& stores,
                           DialogService& dialogs, engine::FileServices files, engine::FolderConversion::Clock clock,
                           engine::MessageReader reader)
    : wxDialog(parent, wxID_ANY, kWindowCaption, wxDefaultPosition, wxDefaultSize, wxDEFAULT_DIALOG_STYLE,
               "frmMigateAll"),
      selection_(selection),
      dialogs_(dialogs) {
  CreateControls();
  screen_ = std::make_unique<WxConversionScreen>(*this, dialogs_);
  presenter_ = std::make_unique<ScreenPresenter>(
      *screen_, [this](int row) { selection_.MarkRowTakenUp(row); },
      [this](const RunSummary& summary) { lastRun_ = summary; });
  windowThread_ = std::make_unique<PostPerTurn>(*this);
  relay_ = std::make_unique<ThreadedListener>(
      *presenter_, [this](std::function<void()> work) { windowThread_->Post(std::move(work)); });
  driver_ = std::make_unique<RunDriver>(stores, std::move(files), std::move(clock), std::move(reader));
  protocol_ = std::make_unique<RequestProtocol>(requests_, *screen_);
  Load();
}

FrmMigateAll::~FrmMigateAll() {
  if (!worker_.joinable()) return;
  // The screen is going: the run ends at its next test point and asks nothing more.
  requests_.RequestClose();
  relay_->Abandon();
  worker_.join();
}

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
  requests_.Reset();
  presenter_->ShowLoadState();
}

bool FrmMigateAll::Show(bool show) {
  if (show && !IsShown() && screen_ && screen_->IsClosed() && !RunInProgress()) {
    screen_->Reopened();
    Load();
  }
  return wxDialog::Show(show);
}

int FrmMigateAll::ShowModal() {
  if (screen_->IsClosed() && !RunInProgress()) {
    screen_->Reopened();
    Load();
  }
  const int result = wxDialog::ShowModal();
  WaitForRun();
  return result;
}

void FrmMigateAll::WaitForRun() {
  if (!RunInProgress()) return;
  // The screen is closed but its run still works up to its next test point: the owner stays
  // disabled and events keep flowing until the run has ended.
  wxWindowDisabler disabler;
  wxGUIEventLoop loop;
  waitingLoop_ = &loop;
  loop.Run();
  waitingLoop_ = nullptr;
}

void FrmMigateAll::SetEventObserver(std::function<void()> observer) {
  if (!observer) {
    relay_->SetAfterEvent({}, false);
    return;
  }
  // After the observer, the window handles what it caused (a click it queued) before the run
  // goes on.
  relay_->SetAfterEvent(
      [observer = std::move(observer)] {
        observer();
        if (wxTheApp) wxTheApp->Yield(true);
      },
      true);
}

void FrmMigateAll::CmdStartConversion_Click() {
  // A press while a run works does nothing.
  if (RunInProgress()) return;
  RunPlan plan;
  try {
    plan = RunPlan::Of(selection_, screen_->DeleteSourceChecked());
  } catch (const std::exception& error) {
    RunEnded(std::nullopt, error.what());
    return;
  }
  worker_ = std::thread([this, plan = std::move(plan)] {
    std::optional<RunSummary> summary;
    std::string failure;
    try {
      summary = driver_->Run(plan, *relay_, requests_);
    } catch (const std::exception& error) {
      failure = error.what();
    }
    CallAfter([this, summary = std::move(summary), failure] { RunEnded(summary, failure); });
  });
}

void FrmMigateAll::RunEnded(std::optional<RunSummary> summary, const std::string& failure) {
  if (worker_.joinable()) worker_.join();
  if (summary) lastRun_ = std::move(summary);  // as the presenter was told already, unless the screen went
  if (!failure.empty()) {
    presenter_->ShowRunEnded();
    // The user must learn that the run did not finish.
    dialogs_.ShowMessage(std::string("The conversion ended unexpectedly:\r\n") + failure, kApplicationTitle,
                         MessageIcon::Information, MessageButtons::Ok);
  }
  if (waitingLoop_) waitingLoop_->Exit();
}

void FrmMigateAll::CmdSkip_Click() { protocol_->SkipPressed(); }

void FrmMigateAll::CmdStopMigration_Click() { protocol_->StopPressed(); }

void FrmMigateAll::Form_Close() { protocol_->CloseRequested(); }

}  // namespace mailfold::run
