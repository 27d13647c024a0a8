// Importing every queued file of a folder into the store folder that matches its source folder,
// with an event per file, the "BAD : " log lines with their causes, the optional deletion of
// imported sources, and the user's skip and stop requests answered after each file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/conversion_events.h"
#include "engine/file_services.h"
#include "engine/folder_hierarchy.h"
#include "engine/folder_outcome.h"
#include "engine/message_reader.h"
#include "engine/run_requests.h"

namespace mailfold::engine {

// The relative store folder of a message file: its parent folder (backslash form) without the
// source root, cut before a "!", with a leading Inbox or Sent mapped onto the default folders'
// names, and without a leading "\". Ends with "\" unless it is empty (the store's top).
std::string RelativeFolderOfFile(const std::string& fileBackslashForm, const StoreFolders& folders);

struct ImportJob {
  const StoreFolders& folders;
  ConversionListener& listener;
  RunRequests& requests;
  const FileServices& files;
  const MessageReader& reader;
  std::string logPath;
  std::int32_t totalItems = 0;  // the scan's count, the denominator of the progress
  bool deleteSources = false;   // delete each source file (and its ".meta" companion) once imported
  unsigned parseWorkers = 0;    // threads that parse the next files while one is written
};

// Works through `queuedFiles` (POSIX paths as scanned). Counts go into `outcome`; the result is
// Converted, Skipped (the caller ends the folder normally) or Stopped (the caller only commits
// and closes the store).
FolderEnding ImportMessages(const std::vector<std::string>& queuedFiles, const ImportJob& job, FolderOutcome& outcome);

}  // namespace mailfold::engine
