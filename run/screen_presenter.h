// The conversion screen's presenter: turns a run's events into the screen's captions,
// percentages and button states, and its questions into the screen's message boxes and dialogs.
// Every text the conversion screen shows during a run is here.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "run/conversion_view.h"
#include "run/run_events.h"

namespace mailfold::run {

inline constexpr const char* kStoreFileFilter = "Outlook Data File(s) (*.pst)|*.pst";
inline constexpr const char* kSessionErrorTitle = "Outlook Error";
inline constexpr const char* kSessionErrorFirstLine = "Outlook Session Creation Error !";
inline constexpr const char* kConfirmSkipTitle = "Confirm Skip";
inline constexpr const char* kConfirmSkipText = "Do you really want to \"Skip\" conversion of this folder ?";
inline constexpr const char* kConfirmStopTitle = "Confirm Stop";
inline constexpr const char* kConfirmStopText =
    "This action will STOP complete conversion process.\r\nDo you really want to \"STOP\" on-going conversion ?";

// The progress bar value after entry `itemNo` of `total`, as the single-precision percentage.
float ProgressValue(std::int32_t itemNo, std::int32_t total);
// A value rounded to a whole number, halves to the even neighbour (2.5 gives 2, 7.5 gives 8).
long RoundHalfEven(float value);
// "n% Complete" for a progress bar value.
std::string ProgressLabel(float value);
// The Details frame's caption after entry `itemNo` of `total`.
std::string ReadingCaption(std::int32_t itemNo, std::int32_t total);
// The session error's text: what happened, what to do, and where the log lists what is missing.
std::string StoreFailureText(const engine::StoreFailureNotice& notice);

class ScreenPresenter : public RunListener {
 public:
  // `markRow` marks a row of the multiple-folder list as taken up by the run; `runFinished` sees
  // the run's summary before its closing message is shown.
  explicit ScreenPresenter(ConversionView& view, std::function<void(int row)> markRow = {},
                           std::function<void(const RunSummary&)> runFinished = {})
      : view_(view), markRow_(std::move(markRow)), runFinished_(std::move(runFinished)) {}

  // The screen's load step: how it looks before a run.
  void ShowLoadState();

  void OnRunEvent(const RunEvent& event) override;
  void OnEvent(const engine::ConversionEvent& event) override;
  bool ConfirmSkip() override;
  bool ConfirmStop() override;
  std::optional<std::string> ChooseStoreFile(const std::string& proposedName) override;
  std::optional<std::string> StorePassword(const std::string& storePath) override;
  void StoreFailed(const engine::StoreFailureNotice& notice) override;
  void RunFinished(const RunSummary& summary) override;
  // After a run ended by an unexpected failure: the buttons as at the end of a run.
  void ShowRunEnded();

 private:
  void SetProgressText(const std::string& text);

  ConversionView& view_;
  std::function<void(int row)> markRow_;
  std::function<void(const RunSummary&)> runFinished_;
  std::string progressText_;
};

}  // namespace mailfold::run
