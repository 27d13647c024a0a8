#include "run/run_summary.h"

namespace mailfold::run {
namespace {

template <typename Field>
std::int32_t Sum(const std::vector<engine::FolderOutcome>& folders, Field field) {
  std::int32_t total = 0;
  for (const auto& folder : folders) total += folder.*field;
  return total;
}

std::string Messages(std::int32_t count) { return std::to_string(count) + (count == 1 ? " message" : " messages"); }
std::string MessagesWere(std::int32_t count) { return Messages(count) + (count == 1 ? " was" : " were"); }

}  // namespace

std::int32_t RunSummary::Queued() const { return Sum(folders, &engine::FolderOutcome::queued); }
std::int32_t RunSummary::Imported() const { return Sum(folders, &engine::FolderOutcome::imported); }
std::int32_t RunSummary::Failed() const { return Sum(folders, &engine::FolderOutcome::failed); }
std::int32_t RunSummary::Skipped() const { return Sum(folders, &engine::FolderOutcome::skipped); }
std::int32_t RunSummary::NotReached() const { return Sum(folders, &engine::FolderOutcome::stopped); }

bool RunSummary::AllWentWell() const {
  if (stopped || !scanErrors.empty() || Queued() == 0) return false;
  for (const auto& folder : folders)
    if (!folder.AllImported() || folder.ending != engine::FolderEnding::Converted) return false;
  return true;
}

std::string ClosingText(const RunSummary& summary) {
  const bool single = summary.mode == engine::ConversionMode::SingleFolder;
  if (summary.AllWentWell()) return single ? kSingleSuccessText : kMultipleSuccessText;

  std::string text;
  const auto line = [&text](const std::string& next) {
    if (!text.empty()) text += "\r\n";
    text += next;
  };
  if (!single && summary.checkedRows == 0) {
    line("No folder is checked, so nothing was converted.");
  } else if (summary.Queued() == 0 && summary.folders.empty() && summary.scanErrors.empty()) {
    line(single ? "No message files (*.eml) were found in " + summary.sourcePath + ", so nothing was converted."
                : "No files were found in the checked folders, so nothing was converted.");
  } else if (summary.Queued() == 0 && summary.scanErrors.empty() && !summary.stopped) {
    line("No message files were found in the checked folders, so no message was converted.");
  } else if (summary.Queued() == 0 && !summary.stopped) {
    // Nothing could be read: the folders below say which, and why.
    line("No message file could be read, so nothing was converted.");
  } else {
    line("Converted " + std::to_string(summary.Imported()) + " of " + Messages(summary.Queued()) + ".");
    if (summary.Failed() > 0) line(Messages(summary.Failed()) + " could not be converted.");
    if (summary.Skipped() > 0) line(MessagesWere(summary.Skipped()) + " left out because a folder was skipped.");
    if (summary.stopped) {
      line(summary.NotReached() > 0
               ? "The conversion was stopped; " + MessagesWere(summary.NotReached()) + " not converted."
               : "The conversion was stopped.");
    }
  }
  for (const auto& error : summary.scanErrors) line(error);
  for (const auto& folder : summary.folders) {
    if (!folder.error.empty()) line(folder.error);
    if ((folder.failed > 0 || !folder.unreadFolders.empty()) && !folder.logPath.empty() &&
        folder.ending != engine::FolderEnding::LogFailed)
      line("The files that failed are listed in " + folder.logPath);
  }
  return text;
}

}  // namespace mailfold::run
