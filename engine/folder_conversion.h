// The conversion of one scanned source folder into one store file: choosing the store file, the
// log beside it, opening the store, the folder tree and the message import. It tells and asks
// its user interface through a ConversionListener and reads the user's requests at fixed points.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "engine/conversion_events.h"
#include "engine/file_services.h"
#include "engine/folder_outcome.h"
#include "engine/message_reader.h"
#include "engine/parse_ahead.h"
#include "engine/run_requests.h"
#include "engine/store_port.h"

namespace mailfold::engine {

enum class ConversionMode { SingleFolder, MultipleFolders };

// How the store file is named: in single-folder mode the user picks it (ChooseStoreFile); in
// multiple-folder mode it is <output folder>/<folder name>.pst (<folder name>.pst in the current
// folder when the output folder is empty).
struct StoreTarget {
  ConversionMode mode = ConversionMode::SingleFolder;
  std::string outputFolder;  // as typed; surrounding blanks are ignored
};

// One scanned source folder to convert.
struct FolderJob {
  std::string folderName;  // display name, empty for a root
  std::string folderPath;  // as the user gave it
  std::vector<std::string> files;    // what the scan queued, in scan order
  std::vector<std::string> folders;  // the sub-folders the scan listed, in scan order
  std::vector<FileFailure> unreadFolders;  // folders the scan could not read, with why
  StoreTarget target;
  bool deleteSources = false;  // delete each source file once it is imported
};

// Local time as "d.m.YY H.m.ss" (6 December 2026 at 04:07:05 gives 6.12.26 4.7.05).
std::string FormatTimeStamp(const std::tm& local);

class FolderConversion {
 public:
  using Clock = std::function<std::tm()>;

  FolderConversion(ConversionListener& listener, RunRequests& requests, StoreOpener& stores,
                   FileServices files = FileServices::System(), Clock clock = LocalTime,
                   MessageReader reader = ReadMessageFile);

  // Converts one scanned folder into one store file. Never throws: every failure ends up in the
  // outcome, the log and, for the store, one StoreFailed notice. Ends with a FolderEnded event.
  FolderOutcome StartMigration(const FolderJob& job);

  // Threads that parse the next message files while one is written; by default one per core
  // beside the writer. The reader must then be safe to call from several threads at once.
  void SetParseWorkers(unsigned workers) { parseWorkers_ = workers; }

  static std::tm LocalTime();

 private:
  FolderOutcome Convert(const FolderJob& job);

  ConversionListener& listener_;
  RunRequests& requests_;
  StoreOpener& stores_;
  FileServices files_;
  Clock clock_;
  MessageReader reader_;
  unsigned parseWorkers_;
};

}  // namespace mailfold::engine
