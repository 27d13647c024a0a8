// What a run tells and asks its user interface beyond each folder's conversion: the scans, which
// folder is taken up, and the run's end. A front end implements RunListener once for both.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "engine/conversion_events.h"
#include "engine/folder_conversion.h"
#include "run/run_summary.h"

namespace mailfold::run {

// A folder is about to be scanned. `row` is its row in the multiple-folder list, -1 in
// single-folder mode.
struct ScanStarted {
  int row = -1;
  std::string path;
};
// The multiple-folder list's row `row` is taken up by the run.
struct RowTakenUp {
  int row = 0;
};
// The scan has queued `queued` files so far.
struct ScanProgress {
  std::int32_t queued = 0;
};
// The scan is done: `total` files queued below `path` (the folder as scanned, with a final "/"
// in single-folder mode).
struct ScanFinished {
  engine::ConversionMode mode = engine::ConversionMode::SingleFolder;
  std::string path;
  std::int32_t total = 0;
};
// A scanned folder is handed to its conversion: the `index`-th row of `rows` (multiple-folder
// mode), or the one source folder.
struct FolderStarting {
  engine::ConversionMode mode = engine::ConversionMode::SingleFolder;
  int index = 0;
  int rows = 0;
};

using RunEvent = std::variant<ScanStarted, RowTakenUp, ScanProgress, ScanFinished, FolderStarting>;

class RunListener : public engine::ConversionListener {
 public:
  virtual void OnRunEvent(const RunEvent& event) = 0;
  // The run is over; returns once the user has seen its closing message (none when the user
  // closed the screen).
  virtual void RunFinished(const RunSummary& summary) = 0;
};

}  // namespace mailfold::run
