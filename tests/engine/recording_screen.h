// A conversion screen for tests without a display: the screen's presenter over controls that
// record what they show, message boxes and the save-as dialog answered from a script, and a
// test's hook run after every event of a run (where a user of the real screen could press a
// button). It is the run's listener and holds the run's requests.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/run_requests.h"
#include "run/conversion_view.h"
#include "run/screen_presenter.h"

namespace mailfold::test {

struct ShownMessage {
  std::string text;
  std::string title;
  run::MessageIcon icon;
  run::MessageButtons buttons;
};

class RecordingScreen : public run::ConversionView, public run::RunListener {
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
  std::vector<std::string> passwordsAsked;                        // prompts
  std::vector<engine::ConversionEvent> events;
  std::vector<int> markedRows;
  int yields = 0;  // events seen

  // Script.
  std::deque<run::MessageAnswer> answers;  // Yes/No answers, in order; No when none is left
  std::optional<std::string> saveAsAnswer;   // nothing: Cancel
  std::optional<std::string> passwordAnswer;  // nothing: Cancel
  std::function<void(RecordingScreen&)> onYield;

  // The screen's load step.
  void Load() {
    requests.Reset();
    presenter_.ShowLoadState();
  }

  // ---- the controls ----
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

  run::MessageAnswer ShowMessage(const std::string& text, const std::string& title, run::MessageIcon icon,
                                 run::MessageButtons buttons) override {
    messages.push_back({text, title, icon, buttons});
    if (buttons == run::MessageButtons::Ok) return run::MessageAnswer::Ok;
    if (answers.empty()) return run::MessageAnswer::No;
    const auto answer = answers.front();
    answers.pop_front();
    return answer;
  }
  std::optional<std::string> AskSaveAs(const std::string& filter, const std::string& proposedName) override {
    saveAsAsked.emplace_back(filter, proposedName);
    return saveAsAnswer;
  }
  std::optional<std::string> AskPassword(const std::string& prompt, const std::string&) override {
    passwordsAsked.push_back(prompt);
    return passwordAnswer;
  }
  void Close() override { closed = true; }
  bool IsClosed() const override { return closed; }

  // ---- the run's listener: the presenter, then the test's hook ----
  void OnRunEvent(const run::RunEvent& event) override {
    presenter_.OnRunEvent(event);
    Yield();
  }
  void OnEvent(const engine::ConversionEvent& event) override {
    events.push_back(event);
    presenter_.OnEvent(event);
    Yield();
  }
  bool ConfirmSkip() override { return presenter_.ConfirmSkip(); }
  bool ConfirmStop() override { return presenter_.ConfirmStop(); }
  std::optional<std::string> ChooseStoreFile(const std::string& proposedName) override {
    return presenter_.ChooseStoreFile(proposedName);
  }
  std::optional<std::string> StorePassword(const std::string& storePath) override {
    return presenter_.StorePassword(storePath);
  }
  void StoreFailed(const engine::StoreFailureNotice& notice) override { presenter_.StoreFailed(notice); }
  void RunFinished(const run::RunSummary& summary) override { presenter_.RunFinished(summary); }

  std::vector<std::string> MessageTitles() const {
    std::vector<std::string> titles;
    for (const auto& message : messages) titles.push_back(message.title);
    return titles;
  }

 private:
  void Yield() {
    ++yields;
    if (onYield) onYield(*this);
  }

  run::ScreenPresenter presenter_{*this, [this](int row) { markedRows.push_back(row); }};
};

}  // namespace mailfold::test
