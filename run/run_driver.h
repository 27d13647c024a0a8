// The run driver behind "Start Conversion": works out the source folders of the run, has each
// one scanned and converted into its store file, one after the other, and tells the user how
// the run went. It also owns the screen's load step and the scan counters.
#pragma once

#include <cstdint>
#include <functional>

#include "engine/conversion_screen.h"
#include "engine/file_services.h"
#include "engine/folder_conversion.h"
#include "engine/store_component.h"
#include "run/run_summary.h"
#include "run/selection.h"

namespace mailfold::run {

class RunDriver {
 public:
  // One driver per conversion screen object: the folder counter lives as long as the screen.
  RunDriver(engine::ConversionScreen& screen, Selection& selection, engine::StoreSessionFactory& stores,
            engine::FileServices files = engine::FileServices::System(),
            engine::FolderConversion::Clock clock = engine::FolderConversion::LocalTime);

  // The screen's load step, run every time the screen is opened.
  void Load();
  // The action of "Start Conversion". A press while a run is in progress does nothing.
  RunSummary Start();

  // Called with each folder's outcome as soon as its conversion returns, before the outcome counts
  // for the closing message: lets the store component correct it (messages whose commit failed).
  void SetAfterFolder(std::function<void(engine::FolderOutcome&)> afterFolder) { afterFolder_ = std::move(afterFolder); }

  bool Running() const { return running_; }
  // The number the scan gives to the next sub-folder it lists; never reset, so folder keys keep
  // rising across scans and runs.
  std::int32_t FolderCounter() const { return folderCounter_; }

 private:
  void RunSingleFolder(RunSummary& summary);
  void RunMultipleFolders(RunSummary& summary);
  // Scans `sourcePath` (a "/" is appended) with `mask`; false and a note in the summary when the
  // scan itself failed. Sets totalItems_.
  bool Scan(std::string& sourcePath, const std::string& mask, RunSummary& summary);
  bool StopRequested() const;
  void Finish(RunSummary& summary);

  engine::ConversionScreen& screen_;
  Selection& selection_;
  engine::FolderConversion conversion_;
  std::int32_t fileCounter_ = 0;
  std::int32_t folderCounter_ = 0;
  std::int32_t totalItems_ = 0;
  bool running_ = false;
  std::function<void(engine::FolderOutcome&)> afterFolder_;
};

}  // namespace mailfold::run
