// frmMigateAll, the conversion screen: the window "Conversion Status" on which the user starts a
// run and watches it. A thin wx view: the run driver (RunDriver) and the skip / stop / close
// requests (RequestProtocol) do the work; WxConversionScreen lets them and the conversion engine
// reach this window's controls.
//
// The selection screens open it modally over themselves:
//
//   FrmMigateAll screen(this, selection, stores, dialogs);
//   screen.ShowModal();
//
// Every opening starts from the load step. A run works inside the Start button's handler and
// yields to the window system at fixed points, so the buttons and the close box act in the middle
// of a run; ShowModal returns only after the run (if any) has ended, so the screen object outlives
// every run it started.
#pragma once

#include <wx/dialog.h>

#include <functional>
#include <memory>
#include <optional>

#include "engine/file_services.h"
#include "engine/store_component.h"
#include "run/dialog_service.h"
#include "run/request_protocol.h"
#include "run/run_driver.h"
#include "run/run_summary.h"
#include "run/selection.h"

class wxButton;
class wxCheckBox;
class wxGauge;
class wxPanel;
class wxStaticBox;
class wxStaticText;

namespace mailfold::run {

class WxConversionScreen;

class FrmMigateAll : public wxDialog {
 public:
  FrmMigateAll(wxWindow* parent, Selection& selection, engine::StoreSessionFactory& stores, DialogService& dialogs,
               engine::FileServices files = engine::FileServices::System(),
               engine::FolderConversion::Clock clock = engine::FolderConversion::LocalTime);
  ~FrmMigateAll() override;

  // Opening the screen again after it was closed starts from the load step.
  bool Show(bool show = true) override;
  int ShowModal() override;

  // Called just before every yield of a run (and of its scan), on the window thread. Lets a caller
  // watch a run as it goes: progress screenshots, responsiveness measurements.
  void SetYieldObserver(std::function<void()> observer);

  // Called with each folder's outcome as soon as its conversion returns, before the closing
  // message is built from it. With our store component:
  //   screen.SetAfterFolder([&stores](engine::FolderOutcome& outcome) { stores.Reconcile(outcome); });
  void SetAfterFolder(std::function<void(engine::FolderOutcome&)> afterFolder) {
    driver_->SetAfterFolder(std::move(afterFolder));
  }

  bool RunInProgress() const { return driver_->Running(); }
  // The outcome of the last run started from this screen, if any.
  const std::optional<RunSummary>& LastRun() const { return lastRun_; }
  // The screen as the run driver and the engine see it.
  engine::ConversionScreen& Screen();
  const RunDriver& Driver() const { return *driver_; }

  // The controls, under the names they carry (also their window names).
  wxStaticText* lblCount1() const { return lblCount1_; }
  wxButton* CmdSkip() const { return cmdSkip_; }
  wxStaticText* lblProgress() const { return lblProgress_; }
  wxGauge* ProgressBar1() const { return progressBar1_; }
  wxStaticBox* FrameConversion() const { return frameConversion_; }
  wxStaticText* LblCurrentDBX() const { return lblCurrentDBX_; }
  wxCheckBox* ChkDelete() const { return chkDelete_; }
  wxStaticText* lblDeleteHelp() const { return lblDeleteHelp_; }
  wxButton* CmdStartConversion() const { return cmdStartConversion_; }
  wxButton* CmdStopMigration() const { return cmdStopMigration_; }

 private:
  void CreateControls();
  void Load();
  void CmdStartConversion_Click();
  void CmdSkip_Click();
  void CmdStopMigration_Click();
  void Form_Close();

  wxPanel* statusBack_ = nullptr;
  wxStaticText* lblCount1_ = nullptr;
  wxButton* cmdSkip_ = nullptr;
  wxStaticText* lblProgress_ = nullptr;
  wxGauge* progressBar1_ = nullptr;
  wxStaticBox* frameConversion_ = nullptr;
  wxStaticText* lblCurrentDBX_ = nullptr;
  wxCheckBox* chkDelete_ = nullptr;
  wxStaticText* lblDeleteHelp_ = nullptr;
  wxButton* cmdStartConversion_ = nullptr;
  wxButton* cmdStopMigration_ = nullptr;

  DialogService& dialogs_;
  std::unique_ptr<WxConversionScreen> screen_;
  std::unique_ptr<RunDriver> driver_;
  std::unique_ptr<RequestProtocol> protocol_;
  std::optional<RunSummary> lastRun_;
};

}  // namespace mailfold::run
