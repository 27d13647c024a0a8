// The folder-tree scan: walks a source folder tree depth-first and returns what the conversion
// engine will work through, as a value.
//
// Order: a folder's direct sub-folders are listed together, before anything deeper; every
// folder is listed before its own sub-folders; a folder's files are queued before the files of
// any folder below it. Within a folder, entries come in the directory search's order (sorted
// by name). Only the folder bit decides between folder and file; hidden and read-only entries
// are included; links to folders are descended into.
//
// Termination: a folder that is already on the current descent path (same device and inode,
// reached again through a link) is listed where it is found but not scanned again.
//
// Failures: a folder that cannot be listed contributes nothing (its siblings are still scanned)
// and is recorded among the errors, in scan order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mailfold::files {

// A folder the scan could not read, with the Windows-compatible code of the failure.
struct ScanError {
  std::string folder;
  std::int32_t code = 0;
};

struct ScanResult {
  std::string root;                  // the scanned folder, with a final "/"
  std::vector<std::string> files;    // full paths of the queued files
  std::vector<std::string> folders;  // full paths of the sub-folders, without a final "/"
  std::vector<ScanError> errors;
  bool stoppedEarly = false;  // the observer asked to stop; the lists hold what was found so far
};

// What the scan tells and asks its caller while it runs.
class ScanObserver {
 public:
  virtual ~ScanObserver() = default;
  // A file was queued; `queued` files so far.
  virtual void FileQueued(std::int32_t queued) = 0;
  // Asked between entries: true ends the scan early (the user closed the screen).
  virtual bool ShouldStop() = 0;
};

// Scans `folderPath` for files whose names match `mask` (wildcard.h; "*.*" matches every name).
// The scanned folder itself is not listed. An empty path scans nothing (it is not taken as the
// root "/") and gives one error of code 3 (path not found).
ScanResult ScanFolderTree(const std::string& folderPath, const std::string& mask, ScanObserver& observer);

}  // namespace mailfold::files
