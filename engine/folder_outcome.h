// What the conversion of one source folder into one store file came to, for the run's closing
// message and for the headless converter's summary.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/failure.h"

namespace mailfold::engine {

enum class FolderEnding {
  Converted,    // every queued file was worked through
  Skipped,      // the user confirmed a skip; the rest of the folder was left out
  Stopped,      // the user confirmed a stop, or closed the screen
  Cancelled,    // the user cancelled the choice of the store file; nothing was written
  LogFailed,    // the log beside the store could not be created; nothing was converted
  StoreFailed,  // the store could not be opened or prepared; nothing was imported
};

// A message file that is not in the store, and why.
struct FileFailure {
  std::string file;
  Failure failure;
};

struct FolderOutcome {
  std::string folderName;
  std::string folderPath;
  std::string storePath;  // empty when no store file was chosen
  std::string logPath;
  FolderEnding ending = FolderEnding::Converted;

  std::int32_t totalFiles = 0;  // every file queued by the scan, message file or not
  // Message files among them, and where each ended: queued == imported + failed + skipped + stopped.
  std::int32_t queued = 0;
  std::int32_t imported = 0;
  std::int32_t failed = 0;
  std::int32_t skipped = 0;  // not worked through because of a confirmed skip
  std::int32_t stopped = 0;  // not worked through because the run was stopped or cancelled
  std::vector<FileFailure> failures;  // one per failed file, in the order they failed
  // Folders below the source that could not be read: their messages are in no count.
  std::vector<FileFailure> unreadFolders;

  // The store or log failure behind LogFailed / StoreFailed, or a failure to finish the store
  // file after the import (then the store may lack what was imported).
  std::string error;
  bool logComplete = true;  // false when a "BAD : " line could not be written

  bool Reconciles() const { return queued == imported + failed + skipped + stopped; }
  bool AllImported() const {
    return error.empty() && logComplete && imported == queued && unreadFolders.empty();
  }
};

}  // namespace mailfold::engine
