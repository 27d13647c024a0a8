#include "run/run_driver.h"

#include <stdexcept>

#include "engine/store_paths.h"
#include "files/platform.h"
#include "files/scan.h"

namespace mailfold::run {
namespace {

using engine::ConversionMode;

// The scan's progress goes to the listener; a closed screen ends it early.
class ScanReporter : public files::ScanObserver {
 public:
  ScanReporter(RunListener& listener, engine::RunRequests& requests) : listener_(listener), requests_(requests) {}
  void FileQueued(std::int32_t queued) override { listener_.OnRunEvent(ScanProgress{queued}); }
  bool ShouldStop() override { return requests_.CloseRequested(); }

 private:
  RunListener& listener_;
  engine::RunRequests& requests_;
};

bool StopRequested(const engine::RunRequests& requests) {
  return requests.StopRequested() || requests.CloseRequested();
}

// Scans `path` with `mask`; folders that could not be read go into the summary. Empty when the
// scan itself failed (more files than can be counted).
std::optional<files::ScanResult> Scan(const std::string& path, const std::string& mask, RunListener& listener,
                                      engine::RunRequests& requests, RunSummary& summary) {
  ScanReporter reporter(listener, requests);
  try {
    files::ScanResult scan = files::ScanFolderTree(path, mask, reporter);
    for (const auto& error : scan.errors)
      summary.scanErrors.push_back("The folder " + error.folder + " could not be read: " +
                                   files::FileErrorText(error.code));
    return scan;
  } catch (const std::exception& error) {
    summary.scanErrors.push_back("The folder " + path + " could not be scanned: " + error.what());
    return std::nullopt;
  }
}

std::int32_t Count(const files::ScanResult& scan) { return static_cast<std::int32_t>(scan.files.size()); }

// The folders a scan could not read, as the conversion records them (a folder that vanished is
// not found; anything else is a failed read).
std::vector<engine::FileFailure> UnreadFolders(const files::ScanResult& scan) {
  std::vector<engine::FileFailure> unread;
  for (const auto& error : scan.errors) {
    const bool gone = error.code == files::win_error::kFileNotFound || error.code == files::win_error::kPathNotFound;
    unread.push_back({error.folder, {gone ? engine::FailureKind::NotFound : engine::FailureKind::Io,
                                     "the folder could not be read: " + files::FileErrorText(error.code)}});
  }
  return unread;
}

}  // namespace

RunSummary RunDriver::Run(const RunPlan& plan, RunListener& listener, engine::RunRequests& requests) {
  RunSummary summary;
  summary.mode = plan.mode;
  requests.ClearStop();
  engine::FolderConversion conversion(listener, requests, stores_, files_, clock_, reader_);

  if (plan.mode == ConversionMode::SingleFolder) {
    if (!StopRequested(requests)) {
      listener.OnRunEvent(ScanStarted{-1, plan.sourcePath});
      const auto scan = Scan(plan.sourcePath, "*.eml", listener, requests, summary);
      summary.sourcePath = scan ? scan->root : plan.sourcePath;
      listener.OnRunEvent(ScanFinished{ConversionMode::SingleFolder, summary.sourcePath, scan ? Count(*scan) : 0});
      if (scan && Count(*scan) > 0 && !scan->stoppedEarly) {
        requests.ClearSkip();
        requests.ClearStop();
        listener.OnRunEvent(FolderStarting{ConversionMode::SingleFolder, 0, 1});
        engine::FolderJob job{engine::FileNameOf(plan.sourcePath, '/'), plan.sourcePath, scan->files, scan->folders,
                              UnreadFolders(*scan), {ConversionMode::SingleFolder, {}}, plan.deleteSources};
        auto outcome = conversion.StartMigration(job);
        summary.stopped = outcome.ending == engine::FolderEnding::Stopped;
        summary.folders.push_back(std::move(outcome));
      }
    }
  } else {
    const int rows = static_cast<int>(plan.rows.size());
    for (int index = 0; index < rows; ++index) {
      const FolderRow& row = plan.rows[static_cast<std::size_t>(index)];
      if (!row.checked) continue;
      if (StopRequested(requests)) break;
      listener.OnRunEvent(ScanStarted{index, row.path});
      listener.OnRunEvent(RowTakenUp{index});
      ++summary.checkedRows;
      const auto scan = Scan(row.path, "*.*", listener, requests, summary);
      listener.OnRunEvent(ScanFinished{ConversionMode::MultipleFolders, row.path, scan ? Count(*scan) : 0});
      if (!scan || Count(*scan) < 1 || scan->stoppedEarly) continue;

      requests.ClearSkip();
      requests.ClearStop();
      listener.OnRunEvent(FolderStarting{ConversionMode::MultipleFolders, index, rows});
      engine::FolderJob job{row.name, row.path, scan->files, scan->folders, UnreadFolders(*scan),
                            {ConversionMode::MultipleFolders, plan.outputFolder}, plan.deleteSources};
      auto outcome = conversion.StartMigration(job);
      const engine::FolderEnding ending = outcome.ending;
      if (ending == engine::FolderEnding::Stopped) summary.stopped = true;
      summary.folders.push_back(std::move(outcome));
      // A stop, a closed screen or a log that cannot be written ends the run.
      if (ending == engine::FolderEnding::Stopped || ending == engine::FolderEnding::LogFailed ||
          ending == engine::FolderEnding::Cancelled || requests.CloseRequested())
        break;
    }
  }

  summary.stopped = summary.stopped || StopRequested(requests);
  summary.closedByUser = requests.CloseRequested();
  summary.closingMessageShown = !summary.closedByUser;
  listener.RunFinished(summary);
  return summary;
}

RunPlan RunPlan::Of(const Selection& selection, bool deleteSources) {
  RunPlan plan;
  plan.mode = selection.Mode();
  plan.deleteSources = deleteSources;
  if (plan.mode == ConversionMode::SingleFolder) {
    plan.sourcePath = selection.SourcePath();
  } else {
    for (int index = 0; index < selection.RowCount(); ++index) plan.rows.push_back(selection.Row(index));
    plan.outputFolder = selection.OutputFolder();
  }
  return plan;
}

}  // namespace mailfold::run
