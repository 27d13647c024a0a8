// The conversion screen's controls as its presenter (screen_presenter.h) drives them: labels,
// buttons, progress bar, message boxes, the save-as dialog and the password box. The wx screen
// implements it over its widgets; tests record it. Nothing here depends on a window system.
//
// Captions follow the access-key convention of the screens: "&" marks the access key and "&&"
// shows one ampersand ("Reading Messages && Email Metadata" shows "Reading Messages & Email
// Metadata"). DisplayedCaption turns a caption into the text a reader sees.
#pragma once

#include <optional>
#include <string>

#include "run/dialog_service.h"

namespace mailfold::run {

class ConversionView {
 public:
  virtual ~ConversionView() = default;

  virtual void SetWindowCaption(const std::string& caption) = 0;
  // lblCount1, the status line across the top.
  virtual void SetStatusLine(const std::string& text) = 0;
  // lblProgress, "n% Complete".
  virtual void SetProgressText(const std::string& text) = 0;
  // ProgressBar1.
  virtual void SetProgressRange(int minimum, int maximum) = 0;
  virtual void SetProgressValue(float value) = 0;
  // LblCurrentDBX, the current step inside the Details frame.
  virtual void SetCurrentStep(const std::string& text) = 0;
  // FrameConversion's caption.
  virtual void SetFrameCaption(const std::string& caption) = 0;

  virtual void EnableStart(bool enabled) = 0;
  virtual void EnableSkip(bool enabled) = 0;
  virtual void ShowStop(bool shown) = 0;
  virtual void EnableStop(bool enabled) = 0;

  // ChkDelete: delete each source file (and its ".meta" companion) once it is imported.
  virtual bool DeleteSourceChecked() const = 0;
  virtual void SetDeleteSourceChecked(bool checked) = 0;

  // A modal message box; the answer is Ok for MessageButtons::Ok.
  virtual MessageAnswer ShowMessage(const std::string& text, const std::string& title, MessageIcon icon,
                                    MessageButtons buttons) = 0;
  // The save-as dialog for the store file: `filter` in the form "Description (*.pst)|*.pst",
  // `proposedName` a bare file name. The full chosen path, or nothing on Cancel.
  virtual std::optional<std::string> AskSaveAs(const std::string& filter, const std::string& proposedName) = 0;
  // The password box; the text typed, or nothing on Cancel.
  virtual std::optional<std::string> AskPassword(const std::string& prompt, const std::string& title) = 0;

  // Hides and unloads the screen; closing a closed screen does nothing.
  virtual void Close() = 0;
  virtual bool IsClosed() const = 0;
};

// The text a caption shows: "&&" becomes "&", a single "&" (the access-key mark) disappears.
std::string DisplayedCaption(const std::string& caption);

}  // namespace mailfold::run
