// The folder-tree scan: walks a source folder tree depth-first and queues what the conversion
// engine will work through, in colFiles() and colFolders() (scan_lists.h).
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
// Failures: a folder that cannot be listed contributes nothing (its siblings are still
// scanned) and is recorded in LastFileError only. A duplicate key (DuplicateKeyError) or a
// counter passing 2,147,483,647 (std::overflow_error) is thrown to the caller.
//
// The scan works on the caller's thread and hands control back through ScanScreen::yield
// often, so that a user interface stays responsive; it never stops early by itself.
#pragma once

#include <cstdint>
#include <string>

#include "files/scan_lists.h"

namespace mailfold::files {

// What the scan needs from the screen that runs it. The conversion screen implements it; a
// command line or a test supplies its own.
class ScanScreen {
 public:
  virtual ~ScanScreen() = default;
  // Lets pending user-interface events run (button presses, closing the window). Handlers may
  // discard colFiles() or colFolders() here; the scan then continues into new lists.
  virtual void yield() = 0;
  // Whether "delete source files during conversion" is ticked; the queued count is not shown then.
  virtual bool deleteSourceChecked() = 0;
  // Shows the status line, e.g. "3 Messages Queued for Conversion.".
  virtual void setQueuedStatus(const std::string& text) = 0;
};

// Scans `folderPath` (a "/" is appended to the caller's variable when missing) for files whose
// names match `mask` (wildcard.h; "*.*" matches every name). `fileCounter` is the number the
// next queued file receives (key "K" + number), `folderCounter` the number of the next listed
// sub-folder (key "Z" + number); both are advanced as entries are added. The scanned folder
// itself is not listed. An empty path scans nothing (it is not taken as the root "/").
void ScanFolderTree(std::string& folderPath, const std::string& mask, std::int32_t& fileCounter,
                    std::int32_t& folderCounter, ScanScreen& screen);

}  // namespace mailfold::files
