// Importing every queued file of a folder into the store folder that matches its source folder,
// with progress, the "BAD : " log lines, the optional deletion of imported sources, and the
// user's skip and stop requests answered after each file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/conversion_screen.h"
#include "engine/file_services.h"
#include "engine/folder_hierarchy.h"
#include "engine/folder_outcome.h"

namespace mailfold::engine {

// The relative store folder of a message file: its parent folder (backslash form) without the
// source root, cut before a "!", with a leading Inbox or Sent mapped onto the default folders'
// names, and without a leading "\". Ends with "\" unless it is empty (the store's root).
std::string RelativeFolderOfFile(const std::string& fileBackslashForm, const OpenStore& store);

// The progress bar value after entry `itemNo` of `total`, as the single-precision percentage.
float ProgressValue(std::int32_t itemNo, std::int32_t total);
// A value rounded to a whole number, halves to the even neighbour (2.5 gives 2, 7.5 gives 8).
long RoundHalfEven(float value);
// "n% Complete" for a progress bar value.
std::string ProgressLabel(float value);
// The Details frame's caption after entry `itemNo` of `total`.
std::string ReadingCaption(std::int32_t itemNo, std::int32_t total);

inline constexpr const char* kConfirmSkipTitle = "Confirm Skip";
inline constexpr const char* kConfirmSkipText = "Do you really want to \"Skip\" conversion of this folder ?";
inline constexpr const char* kConfirmStopTitle = "Confirm Stop";
inline constexpr const char* kConfirmStopText =
    "This action will STOP complete conversion process.\r\nDo you really want to \"STOP\" on-going conversion ?";

struct ImportJob {
  const OpenStore& store;
  ConversionScreen& screen;
  const FileServices& files;
  std::string logPath;
  std::int32_t totalItems = 0;  // the scan's count, the denominator of the progress display
};

// Works through `queuedFiles` (POSIX paths as scanned). Counts go into `outcome`; the result is
// Converted, Skipped (the caller ends the folder normally) or Stopped (the caller only commits
// and closes the store).
FolderEnding ImportMessages(const std::vector<std::string>& queuedFiles, const ImportJob& job, FolderOutcome& outcome);

}  // namespace mailfold::engine
