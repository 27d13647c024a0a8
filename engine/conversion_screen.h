// The conversion screen as the engine and the run driver see it: its labels, buttons, progress
// bar, message boxes, save-as dialog, and the skip / stop / close requests that reach a running
// conversion. The wx screen implements it for the user, a console screen for the headless
// converter, and recording fakes for the tests. Nothing here depends on a window system.
//
// Captions follow the access-key convention of the screens: "&" marks the access key and "&&"
// shows one ampersand ("Reading Messages && Email Metadata" shows "Reading Messages & Email
// Metadata"). DisplayedCaption turns a caption into the text a reader sees.
#pragma once

#include <optional>
#include <string>

#include "files/scan.h"

namespace mailfold::engine {

enum class MessageIcon { None, Information, Question };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };

// Requests made by the screen's buttons and close box while a run works. They are only set by
// handlers that run inside ProcessPendingEvents, and read at fixed points of the run.
struct RunRequests {
  bool skipFolder = false;      // "X": skip the rest of the folder being converted
  bool stopConversion = false;  // "Stop Conversion": stop the whole run
  // The user closed the screen (close box, Stop while a skip was pending, Cancel in the save-as
  // dialog). The run ends at its next test point like a confirmed stop, without a question and
  // without a closing message.
  bool closedByUser = false;
};

// The screen also serves the folder-tree scan that runs before each folder's conversion.
class ConversionScreen : public files::ScanScreen {
 public:
  ~ConversionScreen() override = default;

  // The scan's view of the screen, in terms of the members below.
  void yield() final { ProcessPendingEvents(); }
  bool deleteSourceChecked() final { return DeleteSourceChecked(); }
  void setQueuedStatus(const std::string& text) final { SetStatusLine(text); }

  virtual void SetWindowCaption(const std::string& caption) = 0;
  // lblCount1, the status line across the top.
  virtual void SetStatusLine(const std::string& text) = 0;
  // lblProgress, "n% Complete".
  virtual void SetProgressText(const std::string& text) = 0;
  virtual std::string ProgressText() const = 0;
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

  // Lets the window system handle every pending event (button presses, the close box) before
  // the run goes on. Handlers run inside this call.
  virtual void ProcessPendingEvents() = 0;
  // Hides and unloads the screen; closing a closed screen does nothing.
  virtual void Close() = 0;
  virtual bool IsClosed() const = 0;

  virtual RunRequests& Requests() = 0;
};

// The text a caption shows: "&&" becomes "&", a single "&" (the access-key mark) disappears.
std::string DisplayedCaption(const std::string& caption);

}  // namespace mailfold::engine
