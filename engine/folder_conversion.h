// The conversion of one scanned source folder into one store file: choosing the store file,
// the log beside it, the store session, the folder tree and the message import.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "engine/conversion_screen.h"
#include "engine/file_services.h"
#include "engine/folder_outcome.h"
#include "engine/store_component.h"

namespace mailfold::engine {

enum class ConversionMode { SingleFolder, MultipleFolders };

// How the store file is named: in single-folder mode the user picks it in the save-as dialog;
// in multiple-folder mode it is <output folder>/<folder name>.pst (<folder name>.pst in the
// current folder when the output folder is empty).
struct StoreTarget {
  ConversionMode mode = ConversionMode::SingleFolder;
  std::string outputFolder;  // as typed; surrounding blanks are ignored
};

// Local time as "d.m.YY H.m.ss" (6 December 2026 at 04:07:05 gives 6.12.26 4.7.05).
std::string FormatTimeStamp(const std::tm& local);

inline constexpr const char* kStoreFileFilter = "Outlook Data File(s) (*.pst)|*.pst";
inline constexpr const char* kSessionErrorTitle = "Outlook Error";
inline constexpr const char* kSessionErrorFirstLine = "Outlook Session Creation Error !";

class FolderConversion {
 public:
  using Clock = std::function<std::tm()>;

  FolderConversion(ConversionScreen& screen, StoreSessionFactory& stores, FileServices files = FileServices::System(),
                   Clock clock = LocalTime);

  // Converts the scanned folder `folderPath`, whose display name is `folderName` (empty for a
  // root), into one store file. It walks what the scan left in files::colFiles() and
  // files::colFolders() and discards both when the folder ends normally. `totalItems` is the
  // number of files the scan queued. Never throws: every failure ends up in the outcome, the
  // log and, for the store session, one message box.
  FolderOutcome StartMigration(const std::string& folderName, const std::string& folderPath,
                               std::int32_t totalItems, const StoreTarget& target);

  static std::tm LocalTime();

 private:
  ConversionScreen& screen_;
  StoreSessionFactory& stores_;
  FileServices files_;
  Clock clock_;
};

}  // namespace mailfold::engine
