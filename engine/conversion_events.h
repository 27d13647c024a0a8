// What the conversion of one folder tells and asks the user interface: typed events in the order
// things happen, and questions whose answers it waits for. A front end turns them into its own
// texts: the conversion screen into its captions, percentages and message boxes, the headless
// converter into progress lines. The engine never sees a widget, a caption or a message text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "engine/failure.h"
#include "engine/folder_outcome.h"

namespace mailfold::engine {

// The store file is known and its conversion begins: skip and stop are possible from here on.
struct StoreChosen {
  std::string storePath;
  std::string logPath;
};

// What the conversion is busy with; `detail` names what the step is at.
enum class Step {
  OpeningStore,       // the store is being opened or created (detail: its path)
  ReadingFolders,     // the source folder list is being read
  FolderRead,         // one entry of it was read (detail: the folder's relative path, or empty)
  CreatingFolders,    // the store folders are being made
  FolderCreated,      // one store folder was looked at (detail: its name)
  ConvertingMessage,  // a message file is being imported (detail: its path)
};
struct StepChanged {
  Step step;
  std::string detail;
};

enum class EntryResult {
  Imported,    // a message file now in the store
  Failed,      // a message file that is not in the store: `failure` says why
  NotMessage,  // another file the scan queued: only counted
};
// One queued file worked through: the `itemNo`-th of `total`.
struct EntryDone {
  std::int32_t itemNo = 0;
  std::int32_t total = 0;
  std::string path;
  EntryResult result = EntryResult::NotMessage;
  std::optional<Failure> failure;
};

// The user confirmed the skip of the folder, or the stop of the run.
struct SkipConfirmed {};
struct StopConfirmed {};

// The folder is done; how it ended and its counts are in the outcome.
struct FolderEnded {
  FolderOutcome outcome;
};

using ConversionEvent = std::variant<StoreChosen, StepChanged, EntryDone, SkipConfirmed, StopConfirmed, FolderEnded>;

// Why a store could not be opened or prepared, and what the user can do about it.
enum class StoreFailureAdvice { CheckTheStoreFile, GiveThePassword, CloseTheOtherWriter };
struct StoreFailureNotice {
  Failure failure;
  StoreFailureAdvice advice = StoreFailureAdvice::CheckTheStoreFile;
  std::string logPath;  // where the messages that were not converted are listed; empty: nowhere
};

// The user interface of a folder's conversion. Events only inform; every question blocks the
// conversion until the user has answered.
class ConversionListener {
 public:
  virtual ~ConversionListener() = default;
  virtual void OnEvent(const ConversionEvent& event) = 0;

  virtual bool ConfirmSkip() = 0;
  virtual bool ConfirmStop() = 0;
  // The store file for a single-folder conversion, proposed by name; nothing when the user
  // cancelled.
  virtual std::optional<std::string> ChooseStoreFile(const std::string& proposedName) = 0;
  // The password of a store file protected by one; nothing when the user gave none.
  virtual std::optional<std::string> StorePassword(const std::string& storePath) = 0;
  // Tells that the store could not be opened or prepared; returns once the user has seen it.
  virtual void StoreFailed(const StoreFailureNotice& notice) = 0;
};

}  // namespace mailfold::engine
