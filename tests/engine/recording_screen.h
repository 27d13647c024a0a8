// A conversion screen that records what the engine and the run driver show, answers message boxes
// and the save-as dialog from a script, and runs a test's hook at every yield (where a real
// screen would handle button presses).
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/conversion_screen.h"

namespace mailfold::test {

struct ShownMessage {
  std::string text;
  std::string title;
  engine::MessageIcon icon;
  engine::MessageButtons buttons;
};

class RecordingScreen : public engine::ConversionScreen {
 public:
  // Current state of the controls.
  std::string windowCaption, statusLine, progressText, currentStep, frameCaption;
  int progressMin = 0, progressMax = 100;
  float progressValue = 0;
  bool startEnabled = true, skipEnabled = false, stopShown = false, stopEnabled = false;
  bool deleteSource = false;
  bool closed = false;
  engine::RunRequests requests;

  // History.
  std::vector<std::string> statusLines, progressTexts, frameCaptions, steps, windowCaptions;
  std::vector<ShownMessage> messages;
  std::vector<std::pair<std::string, std::string>> saveAsAsked;  // filter, proposed name
  int yields = 0;

  // Script.
  std::deque<engine::MessageAnswer> answers;  // Yes/No answers, in order; No when none is left
  std::optional<std::string> saveAsAnswer;    // nothing: Cancel
  std::function<void(RecordingScreen&)> onYield;

  void SetWindowCaption(const std::string& caption) override {
    windowCaption = caption;
    windowCaptions.push_back(caption);
  }
  void SetStatusLine(const std::string& text) override {
    statusLine = text;
    statusLines.push_back(text);
  }
  void SetProgressText(const std::string& text) override {
    progressText = text;
    progressTexts.push_back(text);
  }
  std::string ProgressText() const override { return progressText; }
  void SetProgressRange(int minimum, int maximum) override {
    progressMin = minimum;
    progressMax = maximum;
  }
  void SetProgressValue(float value) override { progressValue = value; }
  void SetCurrentStep(const std::string& text) override {
    currentStep = text;
    steps.push_back(text);
  }
  void SetFrameCaption(const std::string& caption) override {
    frameCaption = caption;
    frameCaptions.push_back(caption);
  }
  void EnableStart(bool enabled) override { startEnabled = enabled; }
  void EnableSkip(bool enabled) override { skipEnabled = enabled; }
  void ShowStop(bool shown) override { stopShown = shown; }
  void EnableStop(bool enabled) override { stopEnabled = enabled; }
  bool DeleteSourceChecked() const override { return deleteSource; }
  void SetDeleteSourceChecked(bool checked) override { deleteSource = checked; }

  engine::MessageAnswer ShowMessage(const std::string& text, const std::string& title, engine::MessageIcon icon,
                                    engine::MessageButtons buttons) override {
    messages.push_back({text, title, icon, buttons});
    if (buttons == engine::MessageButtons::Ok) return engine::MessageAnswer::Ok;
    if (answers.empty()) return engine::MessageAnswer::No;
    const auto answer = answers.front();
    answers.pop_front();
    return answer;
  }
  std::optional<std::string> AskSaveAs(const std::string& filter, const std::string& proposedName) override {
    saveAsAsked.emplace_back(filter, proposedName);
    return saveAsAnswer;
  }
  void ProcessPendingEvents() override {
    ++yields;
    if (onYield) onYield(*this);
  }
  void Close() override { closed = true; }
  bool IsClosed() const override { return closed; }
  engine::RunRequests& Requests() override { return requests; }

  std::vector<std::string> MessageTitles() const {
    std::vector<std::string> titles;
    for (const auto& message : messages) titles.push_back(message.title);
    return titles;
  }
};

}  // namespace mailfold::test
