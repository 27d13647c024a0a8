// The conversion screen's controls (ConversionView) over the widgets of the wx window
// FrmMigateAll. Labels show their text as given; captions of buttons and the Details frame follow
// the access-key convention ("&&" shows one "&"). Used on the window thread only.
#pragma once

#include <string>

#include "run/conversion_view.h"
#include "run/dialog_service.h"

namespace mailfold::run {

class FrmMigateAll;

class WxConversionScreen : public ConversionView {
 public:
  WxConversionScreen(FrmMigateAll& view, DialogService& dialogs) : view_(view), dialogs_(dialogs) {}

  void SetWindowCaption(const std::string& caption) override;
  void SetStatusLine(const std::string& text) override;
  void SetProgressText(const std::string& text) override;
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

  MessageAnswer ShowMessage(const std::string& text, const std::string& title, MessageIcon icon,
                            MessageButtons buttons) override;
  std::optional<std::string> AskSaveAs(const std::string& filter, const std::string& proposedName) override;
  std::optional<std::string> AskPassword(const std::string& prompt, const std::string& title) override;

  void Close() override;
  bool IsClosed() const override { return closed_; }
  // The screen is being opened (again): it counts as open from now on.
  void Reopened() { closed_ = false; }

 private:
  FrmMigateAll& view_;
  DialogService& dialogs_;
  int progressMinimum_ = 0;
  int progressMaximum_ = 100;
  bool closed_ = false;
};

}  // namespace mailfold::run
