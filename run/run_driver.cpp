#include "run/run_driver.h"

#include <stdexcept>

#include "engine/store_paths.h"
#include "files/scan.h"
#include "files/scan_lists.h"

namespace mailfold::run {

using engine::ConversionMode;
using engine::MessageButtons;
using engine::MessageIcon;

RunDriver::RunDriver(engine::ConversionScreen& screen, Selection& selection, engine::StoreSessionFactory& stores,
                     engine::FileServices files, engine::FolderConversion::Clock clock)
    : screen_(screen), selection_(selection), conversion_(screen, stores, std::move(files), std::move(clock)) {}

void RunDriver::Load() {
  files::colFiles().discard();
  files::colFolders().discard();
  auto& requests = screen_.Requests();
  requests.stopConversion = false;
  requests.skipFolder = false;
  requests.closedByUser = false;
  screen_.SetProgressValue(0);
  screen_.SetProgressText("0% Complete");
  screen_.SetStatusLine("Conversion Not Started Yet...");
  screen_.SetCurrentStep("Converting Messages...");
  screen_.SetFrameCaption(" Details ");
  screen_.EnableSkip(false);
  screen_.SetDeleteSourceChecked(false);
}

bool RunDriver::StopRequested() const {
  return screen_.Requests().stopConversion || screen_.Requests().closedByUser;
}

bool RunDriver::Scan(std::string& sourcePath, const std::string& mask, RunSummary& summary) {
  fileCounter_ = 1;
  screen_.ProcessPendingEvents();
  bool scanned = true;
  try {
    files::ScanFolderTree(sourcePath, mask, fileCounter_, folderCounter_, screen_);
  } catch (const std::exception& error) {
    // A duplicate key or a counter overflow: this folder cannot be converted reliably.
    summary.scanErrors.push_back("The folder " + sourcePath + " could not be scanned: " + error.what());
    scanned = false;
  }
  totalItems_ = fileCounter_ - 1;
  return scanned;
}

RunSummary RunDriver::Start() {
  RunSummary summary;
  if (running_) {
    summary.ignoredWhileRunning = true;
    return summary;
  }
  running_ = true;
  screen_.Requests().stopConversion = false;
  summary.mode = selection_.Mode();
  try {
    if (summary.mode == ConversionMode::SingleFolder) RunSingleFolder(summary);
    else RunMultipleFolders(summary);
  } catch (...) {
    Finish(summary);
    running_ = false;
    throw;
  }
  summary.stopped = summary.stopped || StopRequested();
  summary.closedByUser = screen_.Requests().closedByUser;
  if (!summary.closedByUser) {
    screen_.ShowMessage(ClosingText(summary), kApplicationTitle, MessageIcon::Information, MessageButtons::Ok);
    summary.closingMessageShown = true;
  }
  Finish(summary);
  running_ = false;
  return summary;
}

void RunDriver::RunSingleFolder(RunSummary& summary) {
  screen_.ProcessPendingEvents();
  if (StopRequested()) return;
  screen_.EnableStart(false);
  screen_.EnableSkip(false);

  std::string sourcePath = selection_.SourcePath();
  files::colFiles().discard();
  const bool scanned = Scan(sourcePath, "*.eml", summary);
  summary.sourcePath = sourcePath;

  screen_.ProcessPendingEvents();
  screen_.SetStatusLine("Migrating " + std::to_string(totalItems_) + " items from " + sourcePath);
  if (!scanned || totalItems_ < 1) return;

  screen_.Requests().skipFolder = false;
  screen_.Requests().stopConversion = false;
  screen_.SetWindowCaption("Conversion Status");
  const std::string source = selection_.SourcePath();
  const std::string displayName = engine::FileNameOf(source, '/');
  auto outcome = conversion_.StartMigration(displayName, source, totalItems_, {ConversionMode::SingleFolder, {}});
  if (afterFolder_) afterFolder_(outcome);
  summary.stopped = outcome.ending == engine::FolderEnding::Stopped;
  summary.folders.push_back(std::move(outcome));
}

void RunDriver::RunMultipleFolders(RunSummary& summary) {
  const int rows = selection_.RowCount();
  for (int index = 0; index < rows; ++index) {
    screen_.ProcessPendingEvents();
    // The row count is taken once; rows removed from the list meanwhile end the run.
    if (index >= selection_.RowCount()) break;
    const FolderRow row = selection_.Row(index);
    if (!row.checked) continue;
    screen_.ProcessPendingEvents();
    if (StopRequested()) break;
    screen_.EnableStart(false);
    screen_.EnableSkip(false);
    selection_.MarkRowTakenUp(index);
    ++summary.checkedRows;

    std::string sourcePath = row.path;
    files::colFiles().discard();
    files::colFolders().discard();
    const bool scanned = Scan(sourcePath, "*.*", summary);

    screen_.ProcessPendingEvents();
    const FolderRow current = selection_.Row(index);
    screen_.SetStatusLine("Converting " + std::to_string(totalItems_) + " items from " + current.path);
    if (!scanned || totalItems_ < 1) continue;

    screen_.Requests().skipFolder = false;
    screen_.Requests().stopConversion = false;
    screen_.SetWindowCaption("Converting " + std::to_string(index + 1) + " of " +
                             std::to_string(selection_.RowCount()) + " Folders");
    auto outcome = conversion_.StartMigration(current.name, current.path, totalItems_,
                                              {ConversionMode::MultipleFolders, selection_.OutputFolder()});
    if (afterFolder_) afterFolder_(outcome);
    if (outcome.ending == engine::FolderEnding::Stopped) summary.stopped = true;
    summary.folders.push_back(std::move(outcome));
    // A screen closed by the conversion itself (a log that cannot be written) ends the run too.
    if (screen_.IsClosed()) break;
  }
}

void RunDriver::Finish(RunSummary& summary) {
  if (StopRequested() || summary.stopped) screen_.Close();
  screen_.EnableSkip(false);
  screen_.EnableStop(false);
  screen_.ShowStop(false);
}

}  // namespace mailfold::run
