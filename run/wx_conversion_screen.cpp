#include "run/wx_conversion_screen.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/gauge.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

#include <algorithm>
#include <cmath>

#include "run/frm_migrate_all.h"

namespace mailfold::run {
namespace {

wxString Utf8(const std::string& text) { return wxString::FromUTF8(text); }

}  // namespace

void WxConversionScreen::SetWindowCaption(const std::string& caption) { view_.SetTitle(Utf8(caption)); }

void WxConversionScreen::SetStatusLine(const std::string& text) {
  // SetLabelText: a path may hold "&", which must show as it is.
  view_.lblCount1()->SetLabelText(Utf8(text));
}

void WxConversionScreen::SetProgressText(const std::string& text) { view_.lblProgress()->SetLabelText(Utf8(text)); }

void WxConversionScreen::SetProgressRange(int minimum, int maximum) {
  progressMinimum_ = minimum;
  progressMaximum_ = std::max(maximum, minimum + 1);
  view_.ProgressBar1()->SetRange(progressMaximum_ - progressMinimum_);
}

void WxConversionScreen::SetProgressValue(float value) {
  // The engine's percentage can overshoot slightly on rounding; the bar must not assert on it.
  const float clamped = std::clamp(value, static_cast<float>(progressMinimum_), static_cast<float>(progressMaximum_));
  view_.ProgressBar1()->SetValue(static_cast<int>(std::lround(clamped)) - progressMinimum_);
}

void WxConversionScreen::SetCurrentStep(const std::string& text) {
  auto* label = view_.LblCurrentDBX();
  label->SetLabelText(Utf8(text));
  // Long paths wrap inside the Details frame instead of running out of it.
  label->Wrap(label->GetClientSize().GetWidth());
}

void WxConversionScreen::SetFrameCaption(const std::string& caption) {
  view_.FrameConversion()->SetLabelText(Utf8(DisplayedCaption(caption)));
}

void WxConversionScreen::EnableStart(bool enabled) { view_.CmdStartConversion()->Enable(enabled); }
void WxConversionScreen::EnableSkip(bool enabled) { view_.CmdSkip()->Enable(enabled); }

void WxConversionScreen::ShowStop(bool shown) {
  // Stop sits on top of Start, in the same place: while it shows, Start cannot be seen or pressed.
  view_.CmdStopMigration()->Show(shown);
  view_.CmdStartConversion()->Show(!shown);
}

void WxConversionScreen::EnableStop(bool enabled) { view_.CmdStopMigration()->Enable(enabled); }

bool WxConversionScreen::DeleteSourceChecked() const { return view_.ChkDelete()->GetValue(); }
void WxConversionScreen::SetDeleteSourceChecked(bool checked) { view_.ChkDelete()->SetValue(checked); }

MessageAnswer WxConversionScreen::ShowMessage(const std::string& text, const std::string& title, MessageIcon icon,
                                              MessageButtons buttons) {
  return dialogs_.ShowMessage(text, title, icon, buttons);
}

std::optional<std::string> WxConversionScreen::AskSaveAs(const std::string& filter, const std::string& proposedName) {
  return dialogs_.AskSaveAs(filter, proposedName);
}

std::optional<std::string> WxConversionScreen::AskPassword(const std::string& prompt, const std::string& title) {
  return dialogs_.AskPassword(prompt, title);
}

void WxConversionScreen::Close() {
  if (closed_) return;
  closed_ = true;
  // A run still working ends at its next test point; the screen's modal loop waits for it.
  if (view_.IsModal()) view_.EndModal(wxID_CANCEL);
  else view_.Show(false);
}

}  // namespace mailfold::run
