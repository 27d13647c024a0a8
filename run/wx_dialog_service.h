// The native dialogs of the desktop build: wxMessageDialog, wxFileDialog, wxDirDialog and
// wxPasswordEntryDialog, each modal over the active window.
#pragma once

#include "run/dialog_service.h"

class wxWindow;

namespace mailfold::run {

class WxDialogService : public DialogService {
 public:
  // `parent` is the window the dialogs are modal over; null means the active top-level window.
  explicit WxDialogService(wxWindow* parent = nullptr) : parent_(parent) {}

  MessageAnswer ShowMessage(const std::string& text, const std::string& title, MessageIcon icon,
                                    MessageButtons buttons) override;
  std::optional<std::string> AskSaveAs(const std::string& filter, const std::string& proposedName) override;
  std::optional<std::string> BrowseForFolder(const std::string& prompt, const std::string& startFolder) override;
  std::optional<std::string> AskPassword(const std::string& prompt, const std::string& title) override;

 private:
  wxWindow* parent_;
};

}  // namespace mailfold::run
