// The modal dialogs the screens open: message boxes, the save-as dialog for a store file, the
// folder browser and the password box. The screens go through this one service so that the
// desktop build shows the native dialogs (WxDialogService) and tests answer them from a script.
#pragma once

#include <optional>
#include <string>

namespace mailfold::run {

enum class MessageIcon { None, Information, Question };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };

class DialogService {
 public:
  virtual ~DialogService() = default;

  // A modal message box; the answer is Ok for MessageButtons::Ok. Lines are separated by "\r\n".
  virtual MessageAnswer ShowMessage(const std::string& text, const std::string& title,
                                            MessageIcon icon, MessageButtons buttons) = 0;
  // Asks for a file to save to. `filter` has the form "Description (*.pst)|*.pst", `proposedName`
  // is a bare file name. The chosen full path, or nothing when the user cancelled.
  virtual std::optional<std::string> AskSaveAs(const std::string& filter, const std::string& proposedName) = 0;
  // Lets the user pick a folder, starting at `startFolder` when it is not empty. The chosen path
  // without a final separator (except for a root), or nothing when the user cancelled.
  virtual std::optional<std::string> BrowseForFolder(const std::string& prompt, const std::string& startFolder) = 0;
  // Asks for a password, without showing what is typed. The text entered (possibly empty), or
  // nothing when the user cancelled.
  virtual std::optional<std::string> AskPassword(const std::string& prompt, const std::string& title) = 0;
};

}  // namespace mailfold::run
