// The conversion screen as the run driver and the engine see it (engine::ConversionScreen), over
// the controls of the wx window FrmMigateAll. Labels show their text as given; captions of
// buttons and the Details frame follow the access-key convention ("&&" shows one "&").
#pragma once

#include <functional>
#include <string>

#include "engine/conversion_screen.h"
#include "run/dialog_service.h"

namespace mailfold::run {

class FrmMigateAll;

class WxConversionScreen : public engine::ConversionScreen {
 public:
  WxConversionScreen(FrmMigateAll& view, DialogService& dialogs) : view_(view), dialogs_(dialogs) {}

  void SetWindowCaption(const std::string& caption) override;
  void SetStatusLine(const std::string& text) override;
  void SetProgressText(const std::string& text) override;
  std::string ProgressText() const override { return progressText_; }
  void SetProgressRange(int minimum, int maximum) override;
  void SetProgressValue(float value) override;
  void SetCurrentStep(const std::string& text) override;
  void SetFrameCaption(const std::string& caption) override;

  void EnableStart(bool enabled) override;
  void EnableSkip(bool enabled) override;
  void ShowStop(bool shown) override;
  void EnableStop(bool enabled) override;

  bool DeleteSourceChecked() const override;
  void SetDeleteSourceChecked(bool checked) override;

  engine::MessageAnswer ShowMessage(const std::string& text, const std::string& title, engine::MessageIcon icon,
                                    engine::MessageButtons buttons) override;
  std::optional<std::string> AskSaveAs(const std::string& filter, const std::string& proposedName) override;

  // Runs the yield observer, then lets wx handle every pending event (wxYield semantics).
  void ProcessPendingEvents() override;
  void Close() override;
  bool IsClosed() const override { return closed_; }
  engine::RunRequests& Requests() override { return requests_; }

  // The screen is being opened (again): it counts as open from now on.
  void Reopened() { closed_ = false; }
  void SetYieldObserver(std::function<void()> observer) { yieldObserver_ = std::move(observer); }

 private:
  FrmMigateAll& view_;
  DialogService& dialogs_;
  engine::RunRequests requests_;
  std::string progressText_;
  int progressMinimum_ = 0;
  int progressMaximum_ = 100;
  bool closed_ = false;
  std::function<void()> yieldObserver_;
};

}  // namespace mailfold::run
