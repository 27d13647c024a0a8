// frmMigateAll, the conversion screen: the window "Conversion Status" on which the user starts a
// run and watches it. A thin wx view: the run driver works on a thread of its own, its events and
// questions reach this window through a ThreadedListener and the screen's presenter
// (ScreenPresenter), and the skip / stop / close requests (RequestProtocol) reach the run through
// RunRequests. The window thread never waits on the disk: it only renders and answers.
//
// The selection screens open it modally over themselves:
//
//   FrmMigateAll screen(this, selection, stores, dialogs);
//   screen.ShowModal();
//
// Every opening starts from the load step. ShowModal returns only after the run (if any) has
// ended: a screen closed during a run is hidden at once, and its modal call waits for the run's
// next test point, so the screen object outlives every run it started.
#pragma once

#include <wx/dialog.h>

#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "engine/file_services.h"
#include "engine/message_reader.h"
#include "engine/run_requests.h"
#include "engine/store_port.h"
#include "run/dialog_service.h"
#include "run/post_per_turn.h"
#include "run/request_protocol.h"
#include "run/run_driver.h"
#include "run/run_summary.h"
#include "run/screen_presenter.h"
#include "run/selection.h"
#include "run/threaded_listener.h"

class wxButton;
class wxCheckBox;
class wxGauge;
class wxPanel;
class wxStaticBox;
class wxStaticText;
class wxEventLoopBase;

namespace mailfold::run {

class WxConversionScreen;

class FrmMigateAll : public wxDialog {
 public:
  FrmMigateAll(wxWindow* parent, Selection& selection, engine::StoreOpener& stores, DialogService& dialogs,
               engine::FileServices files = engine::FileServices::System(),
               engine::FolderConversion::Clock clock = engine::FolderConversion::LocalTime,
               engine::MessageReader reader = engine::ReadMessageFile);
  // Ends a run still working (as the close box does) and waits for it.
  ~FrmMigateAll() override;

  // Opening the screen again after it was closed starts from the load step.
  bool Show(bool show = true) override;
  int ShowModal() override;

  // Runs on the window thread after each event of a run has been shown, and the run waits for it
  // each time: a caller can watch the run step by step and act on the screen at a given point
  // (progress screenshots, tests pressing buttons). Empty: the run does not wait.
  void SetEventObserver(std::function<void()> observer);

  bool RunInProgress() const { return worker_.joinable(); }
  // The outcome of the last run started from this screen, if any.
  const std::optional<RunSummary>& LastRun() const { return lastRun_; }

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
  // On the window thread once the run's thread has ended.
  void RunEnded(std::optional<RunSummary> summary, const std::string& failure);
  void WaitForRun();

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

  Selection& selection_;
  DialogService& dialogs_;
  engine::RunRequests requests_;
  std::unique_ptr<WxConversionScreen> screen_;
  std::unique_ptr<ScreenPresenter> presenter_;
  std::unique_ptr<PostPerTurn> windowThread_;
  std::unique_ptr<ThreadedListener> relay_;
  std::unique_ptr<RunDriver> driver_;
  std::unique_ptr<RequestProtocol> protocol_;
  std::thread worker_;
  wxEventLoopBase* waitingLoop_ = nullptr;  // the loop ShowModal runs until a closed screen's run ends
  std::optional<RunSummary> lastRun_;
};

}  // namespace mailfold::run
