// The user interface of the headless converter: a run's events become a progress bar on a
// terminal or plain lines otherwise, its questions are answered the way a command line needs (a
// stop request is confirmed, the store file is the one named on the command line), and a stop
// signal (Ctrl-C) becomes the run's stop request.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/run_requests.h"
#include "run/run_events.h"

namespace mailfold::convert {

// Where a folder's conversion stands: `done` of `total` queued files.
struct ItemCounter {
  std::int64_t done = 0;
  std::int64_t total = 0;
};

// One progress line: bar, count, percentage, rate and time left, then the folder's name.
// `seconds` is the time spent on this folder so far. Never wider than `width` characters.
std::string FormatProgressLine(const ItemCounter& counter, double seconds, const std::string& label, int width);

class ConsoleScreen : public run::RunListener {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  struct Settings {
    std::FILE* out = stderr;
    bool terminal = false;  // draw a bar that rewrites itself instead of plain lines
    bool quiet = false;     // errors only
    std::optional<std::string> storePath;  // the store file; else the proposed name
    std::string currentFolder;             // where a proposed store name is placed
    std::function<int()> stopSignal;       // non-zero once the user asked to stop
    // The password of a protected store; nothing when there is none to give.
    std::function<std::optional<std::string>(const std::string& storePath)> password;
    Clock clock = std::chrono::steady_clock::now;
  };

  ConsoleScreen(Settings settings, engine::RunRequests& requests);

  void OnRunEvent(const run::RunEvent& event) override;
  void OnEvent(const engine::ConversionEvent& event) override;
  bool ConfirmSkip() override { return true; }
  bool ConfirmStop() override { return true; }
  std::optional<std::string> ChooseStoreFile(const std::string& proposedName) override;
  std::optional<std::string> StorePassword(const std::string& storePath) override;
  void StoreFailed(const engine::StoreFailureNotice& notice) override;
  // The closing text is printed by the caller once the counts are final.
  void RunFinished(const run::RunSummary&) override { ClearLine(); }

  // Takes the progress bar off the terminal before other output.
  void ClearLine();
  // The store failures told (as plain text).
  const std::vector<std::string>& Errors() const { return errors_; }
  bool StopNoticed() const { return stopNoticed_; }

 private:
  void Print(const std::string& line);
  void Draw(bool force);
  // A stop signal becomes the run's stop request, at every event: the run clears its requests
  // before each folder it starts.
  void PollStopSignal();

  Settings settings_;
  engine::RunRequests& requests_;
  bool stopNoticed_ = false;
  std::vector<std::string> errors_;

  std::string folderLabel_;
  ItemCounter counter_;
  std::chrono::steady_clock::time_point folderStart_{};
  std::chrono::steady_clock::time_point lastDraw_{};
  std::string queuedText_;
  bool lineShown_ = false;
  int lastTenth_ = -1;  // plain lines: the last tenth of the folder that was reported
};

}  // namespace mailfold::convert
