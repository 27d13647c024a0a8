#include "engine/folder_conversion.h"

#include <memory>

#include "engine/conversion_log.h"
#include "engine/folder_hierarchy.h"
#include "engine/import_loop.h"
#include "engine/store_paths.h"
#include "files/existence.h"
#include "files/scan_lists.h"

namespace mailfold::engine {
namespace {

std::vector<std::string> ValuesOf(const files::ProcessList& list) {
  const auto current = list.current();
  return current ? current->values() : std::vector<std::string>{};
}

std::vector<std::string> MessageFilesOf(const std::vector<std::string>& queued) {
  std::vector<std::string> messages;
  for (const auto& path : queued)
    if (IsMessageFile(path)) messages.push_back(path);
  return messages;
}

// The store could not be opened or prepared: one message box with the real cause and what to do,
// and every message file of the folder listed in the log, so that the log says what is missing.
constexpr const char* kCheckTheStoreFile =
    "Check that the folder exists and can be written to, that the disk has free space, and that an existing "
    "file of this name is an intact store file; then start the conversion again.";

void ReportStoreFailure(ConversionScreen& screen, const std::string& cause, const std::vector<std::string>& queued,
                        FolderOutcome& outcome, const char* whatToDo = kCheckTheStoreFile) {
  outcome.ending = FolderEnding::StoreFailed;
  outcome.error = cause;
  screen.ShowMessage(std::string(kSessionErrorFirstLine) + "\r\n" + cause + "\r\n" + whatToDo +
                         " The messages that were not converted are listed in " + outcome.logPath + ".",
                     kSessionErrorTitle, MessageIcon::Information, MessageButtons::Ok);
  LogAppender log(outcome.logPath);
  for (const auto& path : MessageFilesOf(queued)) {
    ++outcome.failed;
    outcome.failedFiles.push_back(path);
    if (!log.WriteBad(path)) outcome.logComplete = false;
  }
}

// Commits and closes the store; a failure here means the store file may lack what was imported.
void CloseStore(StoreSession& session, FolderOutcome& outcome) {
  try {
    session.Logoff();
  } catch (const std::exception& error) {
    outcome.error = "The store file " + outcome.storePath + " could not be completed: " + error.what();
  }
}

}  // namespace

FileServices FileServices::System() {
  return FileServices{[](const std::string& path) { return files::FolderExists(path); },
                      [](const std::string& path) { return files::FileExists(path); },
                      [](const std::string& path) { return files::DeleteFileForced(path); }};
}

std::string FormatTimeStamp(const std::tm& local) {
  const auto twoDigits = [](int value) {
    std::string text = std::to_string(value % 100);
    return text.size() < 2 ? "0" + text : text;
  };
  return std::to_string(local.tm_mday) + "." + std::to_string(local.tm_mon + 1) + "." +
         twoDigits(local.tm_year + 1900) + " " + std::to_string(local.tm_hour) + "." + std::to_string(local.tm_min) +
         "." + twoDigits(local.tm_sec);
}

std::tm FolderConversion::LocalTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

FolderConversion::FolderConversion(ConversionScreen& screen, StoreSessionFactory& stores, FileServices files,
                                   Clock clock)
    : screen_(screen), stores_(stores), files_(std::move(files)), clock_(std::move(clock)) {}

FolderOutcome FolderConversion::StartMigration(const std::string& folderName, const std::string& folderPath,
                                               std::int32_t totalItems, const StoreTarget& target) {
  // A snapshot: a discard by a handler during a yield starts new lists and leaves these intact.
  const std::vector<std::string> queuedFiles = ValuesOf(files::colFiles());
  const std::vector<std::string> sourceFolders = ValuesOf(files::colFolders());

  FolderOutcome outcome;
  outcome.folderName = folderName;
  outcome.folderPath = folderPath;
  outcome.totalFiles = totalItems;
  outcome.queued = static_cast<std::int32_t>(MessageFilesOf(queuedFiles).size());

  const std::string timeStamp = FormatTimeStamp(clock_());

  // The store file.
  std::string storePath;
  if (target.mode == ConversionMode::SingleFolder) {
    const auto chosen = screen_.AskSaveAs(kStoreFileFilter, folderName + timeStamp + ".pst");
    if (!chosen || chosen->empty()) {
      screen_.Close();
      screen_.Requests().closedByUser = true;
      outcome.ending = FolderEnding::Cancelled;
      outcome.stopped = outcome.queued;
      return outcome;
    }
    storePath = *chosen;
  } else {
    const std::string outputFolder = TrimBlanks(target.outputFolder);
    // An empty output folder means the current folder, not the file system's root.
    const bool needsSeparator = !outputFolder.empty() && !outputFolder.ends_with('/');
    storePath = outputFolder + (needsSeparator ? "/" : "") + folderName + ".pst";
  }
  outcome.storePath = storePath;

  screen_.ProcessPendingEvents();
  screen_.SetProgressRange(0, 100);
  screen_.ShowStop(true);
  screen_.EnableStop(true);
  screen_.EnableSkip(true);

  outcome.logPath = LogPathFor(storePath);
  screen_.ProcessPendingEvents();
  try {
    StartLog(outcome.logPath);
  } catch (const std::exception& error) {
    // Without a log no failure could be recorded: nothing is converted.
    screen_.Close();
    outcome.ending = FolderEnding::LogFailed;
    outcome.error = error.what();
    outcome.failedFiles = MessageFilesOf(queuedFiles);
    outcome.failed = outcome.queued;
    outcome.logComplete = false;
    return outcome;
  }
  screen_.ProcessPendingEvents();

  std::unique_ptr<StoreSession> session;
  try {
    session = stores_.CreateSession();
  } catch (const std::exception& error) {
    ReportStoreFailure(screen_, std::string("The store library could not start a session: ") + error.what(),
                       queuedFiles, outcome);
    return outcome;
  }
  screen_.SetCurrentStep("Outlook Session Created...");
  screen_.EnableStart(false);

  const std::string storeName = StoreSafeName(folderName) + " : Created - " + timeStamp;
  std::string entryId;
  std::string inboxName;
  std::string sentName;
  try {
    const auto store = session->LogonPstStore(storePath, kDefaultStoreFormat, storeName);
    entryId = store->EntryID();
  } catch (const StorePasswordError& error) {
    ReportStoreFailure(screen_, "The store file " + storePath + " was left as it was: " + error.what(), queuedFiles,
                       outcome,
                       "Start the conversion again and give the store's password when asked, or choose another "
                       "store file.");
    return outcome;
  } catch (const std::exception& error) {
    ReportStoreFailure(screen_, "The store file " + storePath + " could not be opened or created: " + error.what(),
                       queuedFiles, outcome);
    return outcome;
  }
  try {
    session->GetStoreFromID(entryId)->ValidateIPMTree();
    inboxName = session->GetStoreFromID(entryId)->GetDefaultFolder(DefaultFolder::Inbox)->Name();
    sentName = session->GetStoreFromID(entryId)->GetDefaultFolder(DefaultFolder::SentItems)->Name();
  } catch (const std::exception& error) {
    CloseStore(*session, outcome);
    ReportStoreFailure(screen_, "The store file " + storePath + " could not be prepared: " + error.what(),
                       queuedFiles, outcome);
    return outcome;
  }

  const OpenStore store{*session, entryId, storeName, BackslashFormOf(folderPath), inboxName, sentName};
  std::vector<std::string> folderList;
  try {
    folderList = ReadFolderList(sourceFolders, store.rootPath, files_.folderExists, screen_);
  } catch (const std::exception& error) {
    CloseStore(*session, outcome);
    ReportStoreFailure(screen_, "The folder list of " + folderPath + " could not be read: " + error.what(),
                       queuedFiles, outcome);
    return outcome;
  }
  CreateStoreFolders(folderList, store, screen_);

  const ImportJob job{store, screen_, files_, outcome.logPath, totalItems};
  outcome.ending = ImportMessages(queuedFiles, job, outcome);
  if (outcome.ending == FolderEnding::Stopped) {
    // Everything imported so far goes to disk; the run ends without the normal folder end.
    CloseStore(*session, outcome);
    return outcome;
  }

  files::colFiles().discard();
  files::colFolders().discard();
  screen_.ProcessPendingEvents();
  CloseStore(*session, outcome);
  screen_.EnableStart(true);
  return outcome;
}

}  // namespace mailfold::engine
