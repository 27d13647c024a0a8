// The desktop services the wizard screens use: the folder browser, opening a page with the
// user's default program, and modal message boxes. Dialogs go through the program's one dialog
// service (native dialogs in the program, scripted answers in tests); pages through a document
// opener. Nothing here needs a display.
#pragma once

#include <string>

#include "run/dialog_service.h"

namespace mailfold::app {

inline constexpr const char* kApplicationTitle = "QUORVA Mailfold";
inline constexpr const char* kChooseSourcePrompt = "Choose Source Folder...";
inline constexpr const char* kChooseOutputPrompt = "Choose Output Folder...";

class DocumentOpener {
 public:
  virtual ~DocumentOpener() = default;
  // Opens a web address or local page with its default program. Failures are not reported.
  virtual void Open(const std::string& address) = 0;
};

// Opens pages in the default browser.
class BrowserDocumentOpener : public DocumentOpener {
 public:
  void Open(const std::string& address) override;
};

class Shell {
 public:
  Shell(run::DialogService& dialogs, DocumentOpener& documents) : dialogs_(dialogs), documents_(documents) {}

  // A folder picked by the user; the empty string when the user cancelled or no path could be
  // had. Roots keep their trailing separator, other folders come without one. Never throws.
  std::string BrowseForFolder(const std::string& prompt);
  // The empty address does nothing; failures are not reported.
  void OpenDocument(const std::string& address);
  // A modal message box; Ok for MessageButtons::Ok. Lines are separated by "\r\n".
  run::MessageAnswer ShowMessage(const std::string& text, const std::string& title, run::MessageIcon icon,
                                    run::MessageButtons buttons);

  run::DialogService& Dialogs() { return dialogs_; }

 private:
  run::DialogService& dialogs_;
  DocumentOpener& documents_;
};

}  // namespace mailfold::app
