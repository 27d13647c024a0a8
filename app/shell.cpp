#include "app/shell.h"

namespace mailfold::app {

std::string Shell::BrowseForFolder(const std::string& prompt) {
  try {
    // No preselected folder: the browser opens where the platform's dialog starts.
    return dialogs_.BrowseForFolder(prompt, "").value_or("");
  } catch (...) {
    return {};
  }
}

void Shell::OpenDocument(const std::string& address) {
  if (address.empty()) return;
  try {
    documents_.Open(address);
  } catch (...) {
    // A page that cannot be opened is not reported.
  }
}

run::MessageAnswer Shell::ShowMessage(const std::string& text, const std::string& title,
                                         run::MessageIcon icon, run::MessageButtons buttons) {
  return dialogs_.ShowMessage(text, title, icon, buttons);
}

}  // namespace mailfold::app
