#include "run/wx_dialog_service.h"

#include <algorithm>

#include <wx/dirdlg.h>
#include <wx/filedlg.h>
#include <wx/msgdlg.h>
#include <wx/textdlg.h>
#include <wx/string.h>

namespace mailfold::run {
namespace {

// Our texts use "\r\n" between lines; GTK would show the "\r".
wxString ToDisplayText(const std::string& text) {
  std::string lines;
  lines.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    lines += text[i];
  }
  return wxString::FromUTF8(lines);
}

long StyleOf(MessageIcon icon, MessageButtons buttons) {
  long style = buttons == MessageButtons::YesNo ? wxYES_NO : wxOK;
  switch (icon) {
    case MessageIcon::Information: return style | wxICON_INFORMATION;
    case MessageIcon::Question: return style | wxICON_QUESTION;
    case MessageIcon::None: return style | wxICON_NONE;
  }
  return style;
}

}  // namespace

MessageAnswer WxDialogService::ShowMessage(const std::string& text, const std::string& title,
                                                   MessageIcon icon, MessageButtons buttons) {
  wxMessageDialog dialog(parent_, ToDisplayText(text), wxString::FromUTF8(title), StyleOf(icon, buttons));
  const int answer = dialog.ShowModal();
  if (buttons == MessageButtons::Ok) return MessageAnswer::Ok;
  // Closing a Yes/No box without choosing (Escape, close box) is taken as No: nothing is skipped or
  // stopped that the user did not confirm.
  return answer == wxID_YES ? MessageAnswer::Yes : MessageAnswer::No;
}

std::optional<std::string> WxDialogService::AskSaveAs(const std::string& filter, const std::string& proposedName) {
  // No overwrite prompt: an existing store file is opened and added to, never replaced.
  wxFileDialog dialog(parent_, wxFileSelectorPromptStr, wxEmptyString, wxString::FromUTF8(proposedName),
                      wxString::FromUTF8(filter), wxFD_SAVE);
  if (dialog.ShowModal() != wxID_OK) return std::nullopt;
  std::string chosen = dialog.GetPath().utf8_string();
#ifdef _WIN32
  std::replace(chosen.begin(), chosen.end(), '\\', '/');  // the engine splits paths at "/"
#endif
  // An empty answer cannot name a store; the caller treats it as Cancel.
  if (chosen.empty()) return std::nullopt;
  return chosen;
}

std::optional<std::string> WxDialogService::BrowseForFolder(const std::string& prompt, const std::string& startFolder) {
  wxDirDialog dialog(parent_, wxString::FromUTF8(prompt), wxString::FromUTF8(startFolder),
                     wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST);
  if (dialog.ShowModal() != wxID_OK) return std::nullopt;
  std::string chosen = dialog.GetPath().utf8_string();
#ifdef _WIN32
  std::replace(chosen.begin(), chosen.end(), '\\', '/');  // the engine splits paths at "/"
#endif
  while (chosen.size() > 1 && (chosen.back() == '/' || chosen.back() == '\\') &&
         !(chosen.size() == 3 && chosen[1] == ':'))
    chosen.pop_back();
  if (chosen.empty()) return std::nullopt;
  return chosen;
}

std::optional<std::string> WxDialogService::AskPassword(const std::string& prompt, const std::string& title) {
  wxPasswordEntryDialog dialog(parent_, ToDisplayText(prompt), wxString::FromUTF8(title));
  if (dialog.ShowModal() != wxID_OK) return std::nullopt;
  return dialog.GetValue().utf8_string();
}

}  // namespace mailfold::run
