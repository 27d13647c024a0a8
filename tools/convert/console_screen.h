// The conversion screen of the headless converter: the engine's labels become a progress bar on a
// terminal or plain lines otherwise, its questions are answered the way a stop request needs, and
// the save-as dialog answers with the store named on the command line.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/conversion_screen.h"

namespace mailfold::convert {

// "(i of N)" in the engine's per-file caption, read back as numbers.
struct ItemCounter {
  std::int64_t done = 0;
  std::int64_t total = 0;
};
std::optional<ItemCounter> ParseItemCounter(const std::string& caption);

// One progress line: bar, count, percentage, rate and time left, then the folder's name.
// `seconds` is the time spent on this folder so far. Never wider than `width` characters.
std::string FormatProgressLine(const ItemCounter& counter, double seconds, const std::string& label, int width);

class ConsoleScreen : public engine::ConversionScreen {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  struct Settings {
    std::FILE* out = stderr;
    bool terminal = false;  // draw a bar that rewrites itself instead of plain lines
    bool quiet = false;     // errors only
    std::optional<std::string> storePath;  // the answer to the save-as dialog; else the proposal
    std::string currentFolder;             // where a proposed store name is placed
    std::function<int()> stopSignal;       // non-zero once the user asked to stop
    Clock clock = std::chrono::steady_clock::now;
  };

  explicit ConsoleScreen(Settings settings);

  void SetWindowCaption(const std::string&) override {}
  void SetStatusLine(const std::string& text) override;
  void SetProgressText(const std::string& text) override { progressText_ = text; }
  std::string ProgressText() const override { return progressText_; }
  void SetProgressRange(int, int) override {}
  void SetProgressValue(float) override {}
  void SetCurrentStep(const std::string&) override {}
  void SetFrameCaption(const std::string& caption) override;

  void EnableStart(bool) override {}
  void EnableSkip(bool) override {}
  void ShowStop(bool) override {}
  void EnableStop(bool) override {}
  bool DeleteSourceChecked() const override { return false; }
  void SetDeleteSourceChecked(bool) override {}

  engine::MessageAnswer ShowMessage(const std::string& text, const std::string& title, engine::MessageIcon icon,
                                    engine::MessageButtons buttons) override;
  std::optional<std::string> AskSaveAs(const std::string& filter, const std::string& proposedName) override;

  void ProcessPendingEvents() override;
  void Close() override;
  bool IsClosed() const override { return closed_; }
  engine::RunRequests& Requests() override { return requests_; }

  // Takes the progress bar off the terminal before other output.
  void ClearLine();
  // Around a question to the user (a store's password): the bar is taken off, and the time the
  // answer takes does not count into the folder's rate and time left.
  void BeginQuestion();
  void EndQuestion();
  // The errors shown (store session failures), as plain text.
  const std::vector<std::string>& Errors() const { return errors_; }
  bool StopNoticed() const { return stopNoticed_; }

 private:
  void Print(const std::string& line);
  void Draw(bool force);

  Settings settings_;
  engine::RunRequests requests_;
  std::string progressText_;
  bool closed_ = false;
  bool stopNoticed_ = false;
  std::vector<std::string> errors_;

  std::string folderLabel_;
  ItemCounter counter_;
  std::chrono::steady_clock::time_point folderStart_{};
  std::chrono::steady_clock::time_point lastDraw_{};
  std::chrono::steady_clock::time_point questionStart_{};
  std::string queuedText_;
  bool lineShown_ = false;
  int lastTenth_ = -1;  // plain lines: the last tenth of the folder that was reported
};

}  // namespace mailfold::convert
