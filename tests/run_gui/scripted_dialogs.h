// A dialog service that answers from a script and remembers what it was asked. A hook runs at
// every message box, before it is answered, so a test can act at that moment (press a button, end
// the screen's modal loop) as a user looking at the box would.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "run/dialog_service.h"

namespace mailfold::test {

struct AskedMessage {
  std::string text;
  std::string title;
  run::MessageIcon icon;
  run::MessageButtons buttons;
};

struct AskedPassword {
  std::string prompt;
  std::string title;
};

class ScriptedDialogs : public run::DialogService {
 public:
  std::deque<run::MessageAnswer> answers;  // Yes/No answers in order; No when none is left
  std::optional<std::string> saveAsAnswer;    // nothing: Cancel
  std::optional<std::string> folderAnswer;    // nothing: Cancel
  std::optional<std::string> passwordAnswer;  // nothing: Cancel
  std::function<void(const AskedMessage&)> onMessage;

  std::vector<AskedMessage> messages;
  std::vector<std::string> proposedNames;
  int foldersBrowsed = 0;
  std::vector<AskedPassword> passwordsAsked;

  run::MessageAnswer ShowMessage(const std::string& text, const std::string& title, run::MessageIcon icon,
                                    run::MessageButtons buttons) override {
    messages.push_back({text, title, icon, buttons});
    if (onMessage) onMessage(messages.back());
    if (buttons == run::MessageButtons::Ok) return run::MessageAnswer::Ok;
    if (answers.empty()) return run::MessageAnswer::No;
    const auto answer = answers.front();
    answers.pop_front();
    return answer;
  }
  std::optional<std::string> AskSaveAs(const std::string&, const std::string& proposedName) override {
    proposedNames.push_back(proposedName);
    return saveAsAnswer;
  }
  std::optional<std::string> BrowseForFolder(const std::string&, const std::string&) override {
    ++foldersBrowsed;
    return folderAnswer;
  }

  std::optional<std::string> AskPassword(const std::string& prompt, const std::string& title) override {
    passwordsAsked.push_back({prompt, title});
    return passwordAnswer;
  }

  std::vector<std::string> Titles() const {
    std::vector<std::string> titles;
    for (const auto& message : messages) titles.push_back(message.title);
    return titles;
  }
};

}  // namespace mailfold::test
