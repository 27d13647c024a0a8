#include "run/screen_presenter.h"

#include <cmath>

#include "run/store_password.h"

namespace mailfold::run {
namespace {

template <class... Handlers>
struct Overloaded : Handlers... {
  using Handlers::operator()...;
};
template <class... Handlers>
Overloaded(Handlers...) -> Overloaded<Handlers...>;

const char* AdviceText(engine::StoreFailureAdvice advice) {
  switch (advice) {
    case engine::StoreFailureAdvice::GiveThePassword:
      return "Start the conversion again and give the store's password when asked, or choose another store file.";
    case engine::StoreFailureAdvice::CloseTheOtherWriter:
      return "Wait until the other conversion has finished, or close Outlook or the program that has the store open, "
             "then start the conversion again; or choose another store file.";
    case engine::StoreFailureAdvice::CheckTheStoreFile:
      break;
  }
  return "Check that the folder exists and can be written to, that the disk has free space, and that an existing "
         "file of this name is an intact store file; then start the conversion again.";
}

}  // namespace

float ProgressValue(std::int32_t itemNo, std::int32_t total) {
  if (total <= 0) return 0.0f;
  return static_cast<float>(static_cast<double>(itemNo) / static_cast<double>(total) * 100.0);
}

long RoundHalfEven(float value) {
  const double floorValue = std::floor(static_cast<double>(value));
  const double fraction = static_cast<double>(value) - floorValue;
  long result = static_cast<long>(floorValue);
  if (fraction > 0.5 || (fraction == 0.5 && result % 2 != 0)) ++result;
  return result;
}

std::string ProgressLabel(float value) { return std::to_string(RoundHalfEven(value)) + "% Complete"; }

std::string ReadingCaption(std::int32_t itemNo, std::int32_t total) {
  return "Reading Messages && Email Metadata - (" + std::to_string(itemNo) + " of " + std::to_string(total) +
         ") File(s)";
}

std::string StoreFailureText(const engine::StoreFailureNotice& notice) {
  std::string text =
      std::string(kSessionErrorFirstLine) + "\r\n" + notice.failure.cause + "\r\n" + AdviceText(notice.advice);
  // A store held by another writer has that writer's log beside it: this run writes none.
  if (!notice.logPath.empty()) text += " The messages that were not converted are listed in " + notice.logPath + ".";
  return text;
}

void ScreenPresenter::SetProgressText(const std::string& text) {
  progressText_ = text;
  view_.SetProgressText(text);
}

void ScreenPresenter::ShowLoadState() {
  view_.SetProgressValue(0);
  SetProgressText("0% Complete");
  view_.SetStatusLine("Conversion Not Started Yet...");
  view_.SetCurrentStep("Converting Messages...");
  view_.SetFrameCaption(" Details ");
  view_.EnableSkip(false);
  view_.SetDeleteSourceChecked(false);
}

void ScreenPresenter::OnRunEvent(const RunEvent& event) {
  std::visit(Overloaded{
                 [this](const ScanStarted&) {
                   view_.EnableStart(false);
                   view_.EnableSkip(false);
                 },
                 [this](const RowTakenUp& taken) {
                   if (markRow_) markRow_(taken.row);
                 },
                 [this](const ScanProgress& progress) {
                   // The count is not shown while sources are deleted during the conversion.
                   if (!view_.DeleteSourceChecked())
                     view_.SetStatusLine(std::to_string(progress.queued) + " Messages Queued for Conversion.");
                 },
                 [this](const ScanFinished& scan) {
                   const bool single = scan.mode == engine::ConversionMode::SingleFolder;
                   view_.SetStatusLine((single ? "Migrating " : "Converting ") + std::to_string(scan.total) +
                                       " items from " + scan.path);
                 },
                 [this](const FolderStarting& starting) {
                   if (starting.mode == engine::ConversionMode::SingleFolder)
                     view_.SetWindowCaption("Conversion Status");
                   else
                     view_.SetWindowCaption("Converting " + std::to_string(starting.index + 1) + " of " +
                                            std::to_string(starting.rows) + " Folders");
                 },
             },
             event);
}

void ScreenPresenter::OnEvent(const engine::ConversionEvent& event) {
  using engine::Step;
  std::visit(Overloaded{
                 [this](const engine::StoreChosen&) {
                   view_.SetProgressRange(0, 100);
                   view_.ShowStop(true);
                   view_.EnableStop(true);
                   view_.EnableSkip(true);
                 },
                 [this](const engine::StepChanged& step) {
                   switch (step.step) {
                     case Step::OpeningStore:
                       view_.SetCurrentStep("Outlook Session Created...");
                       view_.EnableStart(false);
                       break;
                     case Step::ReadingFolders: view_.SetCurrentStep("Reading Folder(s)..."); break;
                     case Step::FolderRead: view_.SetCurrentStep("Reading Folder(s)... " + step.detail); break;
                     case Step::CreatingFolders: view_.SetCurrentStep("Creating Outlook Folders..."); break;
                     case Step::FolderCreated: view_.SetCurrentStep("Creating Outlook Folders... " + step.detail); break;
                     case Step::ConvertingMessage:
                       view_.SetCurrentStep("Converting Messages... from (" + step.detail + ")");
                       break;
                   }
                 },
                 [this](const engine::EntryDone& done) {
                   if (done.result != engine::EntryResult::NotMessage) view_.EnableStart(false);
                   view_.SetFrameCaption(ReadingCaption(done.itemNo, done.total));
                   const float progress = ProgressValue(done.itemNo, done.total);
                   view_.SetProgressValue(progress);
                   SetProgressText(ProgressLabel(progress));
                 },
                 [this](const engine::SkipConfirmed&) {
                   SetProgressText("Skipped... at " + progressText_);
                   view_.SetStatusLine("Checking Next Folder...");
                 },
                 [this](const engine::StopConfirmed&) {
                   SetProgressText("Stopped... at " + progressText_);
                   view_.SetStatusLine("Stopped...");
                   view_.Close();
                 },
                 [this](const engine::FolderEnded& ended) {
                   switch (ended.outcome.ending) {
                     case engine::FolderEnding::Converted:
                     case engine::FolderEnding::Skipped: view_.EnableStart(true); break;
                     // Nothing was converted, and the screen goes (Cancel, or no log to record failures).
                     case engine::FolderEnding::Cancelled:
                     case engine::FolderEnding::LogFailed: view_.Close(); break;
                     case engine::FolderEnding::Stopped:
                     case engine::FolderEnding::StoreFailed: break;
                   }
                 },
             },
             event);
}

bool ScreenPresenter::ConfirmSkip() {
  return view_.ShowMessage(kConfirmSkipText, kConfirmSkipTitle, MessageIcon::None, MessageButtons::YesNo) ==
         MessageAnswer::Yes;
}

bool ScreenPresenter::ConfirmStop() {
  return view_.ShowMessage(kConfirmStopText, kConfirmStopTitle, MessageIcon::None, MessageButtons::YesNo) ==
         MessageAnswer::Yes;
}

std::optional<std::string> ScreenPresenter::ChooseStoreFile(const std::string& proposedName) {
  return view_.AskSaveAs(kStoreFileFilter, proposedName);
}

std::optional<std::string> ScreenPresenter::StorePassword(const std::string& storePath) {
  return view_.AskPassword(StorePasswordPrompt(storePath), kStorePasswordTitle);
}

void ScreenPresenter::StoreFailed(const engine::StoreFailureNotice& notice) {
  view_.ShowMessage(StoreFailureText(notice), kSessionErrorTitle, MessageIcon::Information, MessageButtons::Ok);
}

void ScreenPresenter::RunFinished(const RunSummary& summary) {
  if (runFinished_) runFinished_(summary);
  if (summary.closingMessageShown)
    view_.ShowMessage(ClosingText(summary), kApplicationTitle, MessageIcon::Information, MessageButtons::Ok);
  if (summary.stopped) view_.Close();
  ShowRunEnded();
}

void ScreenPresenter::ShowRunEnded() {
  view_.EnableSkip(false);
  view_.EnableStop(false);
  view_.ShowStop(false);
}

}  // namespace mailfold::run
