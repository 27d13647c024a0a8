// The outcome of a whole run (every folder it took up) and the closing message built from it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/folder_conversion.h"
#include "engine/folder_outcome.h"

namespace mailfold::run {

inline constexpr const char* kApplicationTitle = "QUORVA Mailfold";
inline constexpr const char* kSingleSuccessText =
    "EML Messages Converted Successfully.\r\nOpen Converted PST file in Outlook to View Converted Messages.";
inline constexpr const char* kMultipleSuccessText =
    "All Folders Converted Successfully.\r\nOpen Converted PST file(s) in Outlook to View Individual files.";

struct RunSummary {
  engine::ConversionMode mode = engine::ConversionMode::SingleFolder;
  std::string sourcePath;  // single-folder mode: the source as the scan saw it (with a final "/")
  int checkedRows = 0;     // multiple-folder mode: rows taken up
  std::vector<engine::FolderOutcome> folders;  // one per folder handed to the conversion
  std::vector<std::string> scanErrors;        // folders whose scan failed, with the reason
  bool stopped = false;        // the run ended on a stop request (confirmed, or the screen closed)
  bool closedByUser = false;   // the user closed the screen: no closing message
  bool closingMessageShown = false;
  bool ignoredWhileRunning = false;  // Start pressed while a run was in progress: nothing done

  std::int32_t Queued() const;
  std::int32_t Imported() const;
  std::int32_t Failed() const;
  std::int32_t Skipped() const;
  std::int32_t NotReached() const;  // stopped or cancelled before their turn
  // Every queued message file of every folder is in a store, and nothing went wrong.
  bool AllWentWell() const;
};

// The text of the closing message box: the usual success texts when every queued message was
// imported, otherwise how many were imported and failed, why, and where the logs are.
std::string ClosingText(const RunSummary& summary);

}  // namespace mailfold::run
