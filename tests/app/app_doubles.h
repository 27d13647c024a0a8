// Test doubles for the wizard's desktop services: the scripted dialogs of the conversion-screen
// tests with the folder-browser prompts remembered and a queue of folder answers, and a
// document opener that only records what it was asked to open.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "app/shell.h"
#include "run_gui/scripted_dialogs.h"

namespace mailfold::test {

class WizardDialogs : public ScriptedDialogs {
 public:
  // Answers for the folder browser, in order; when empty, folderAnswer answers.
  std::deque<std::optional<std::string>> folderAnswers;
  std::vector<std::string> prompts;

  std::optional<std::string> BrowseForFolder(const std::string& prompt, const std::string& start) override {
    prompts.push_back(prompt);
    if (folderAnswers.empty()) return ScriptedDialogs::BrowseForFolder(prompt, start);
    ++foldersBrowsed;
    auto answer = folderAnswers.front();
    folderAnswers.pop_front();
    return answer;
  }
};

class RecordingOpener : public app::DocumentOpener {
 public:
  std::vector<std::string> opened;
  void Open(const std::string& address) override { opened.push_back(address); }
};

}  // namespace mailfold::test
