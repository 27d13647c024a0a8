#include "engine/folder_conversion.h"

#include <memory>
#include <optional>
#include <utility>

#include "engine/conversion_log.h"
#include "engine/folder_hierarchy.h"
#include "engine/import_loop.h"
#include "engine/store_paths.h"
#include "files/existence.h"

namespace mailfold::engine {
namespace {

std::vector<std::string> MessageFilesOf(const std::vector<std::string>& queued) {
  std::vector<std::string> messages;
  for (const auto& path : queued)
    if (IsMessageFile(path)) messages.push_back(path);
  return messages;
}

// The store could not be opened or prepared: the user is told the cause and what to do, and every
// message file of the folder is listed in the log, so that the log says what is missing.
void ReportStoreFailure(ConversionListener& listener, const Failure& failure, StoreFailureAdvice advice,
                        const std::vector<std::string>& queued, FolderOutcome& outcome) {
  outcome.ending = FolderEnding::StoreFailed;
  outcome.error = failure.cause;
  listener.StoreFailed({failure, advice, outcome.logPath});
  std::optional<LogAppender> log;
  if (!outcome.logPath.empty()) log.emplace(outcome.logPath);
  else outcome.logComplete = false;
  for (const auto& path : MessageFilesOf(queued)) {
    ++outcome.failed;
    outcome.failures.push_back({path, failure});
    if (log && !log->WriteBad(path, failure.cause)) outcome.logComplete = false;
  }
}

// Commits and closes the store. Messages a failed commit lost move from imported to failed with
// their log lines; a failure to finish the file is the folder's error.
void CloseStore(OpenStore& store, FolderOutcome& outcome) {
  const CloseReport report = store.Close();
  const Failure lost{FailureKind::Io, report.failure ? report.failure->cause
                                                      : "the store file " + outcome.storePath +
                                                            " could not be written after this message was added"};
  LogAppender log(outcome.logPath);
  for (const auto& path : report.lost) {
    // Only files this outcome counted as imported move; anything else was reported already.
    if (outcome.imported <= 0) break;
    --outcome.imported;
    ++outcome.failed;
    outcome.failures.push_back({path, lost});
    if (!log.WriteBad(path, lost.cause)) outcome.logComplete = false;
  }
  if (report.failure) outcome.error = report.failure->cause;
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

FolderConversion::FolderConversion(ConversionListener& listener, RunRequests& requests, StoreOpener& stores,
                                   FileServices files, Clock clock, MessageReader reader)
    : listener_(listener),
      requests_(requests),
      stores_(stores),
      files_(std::move(files)),
      clock_(std::move(clock)),
      reader_(std::move(reader)),
      parseWorkers_(ParseAhead::WorkersForThisMachine()) {}

FolderOutcome FolderConversion::StartMigration(const FolderJob& job) {
  FolderOutcome outcome = Convert(job);
  listener_.OnEvent(FolderEnded{outcome});
  return outcome;
}

FolderOutcome FolderConversion::Convert(const FolderJob& job) {
  FolderOutcome outcome;
  outcome.folderName = job.folderName;
  outcome.folderPath = job.folderPath;
  outcome.totalFiles = static_cast<std::int32_t>(job.files.size());
  outcome.queued = static_cast<std::int32_t>(MessageFilesOf(job.files).size());

  const std::string timeStamp = FormatTimeStamp(clock_());

  // The store file. A screen closed before this point (during the scan) makes nothing.
  std::string storePath;
  if (requests_.CloseRequested()) {
    outcome.ending = FolderEnding::Stopped;
    outcome.stopped = outcome.queued;
    return outcome;
  }
  if (job.target.mode == ConversionMode::SingleFolder) {
    // The store is the path without surrounding blanks, and the log lies beside that; a name of
    // blanks only is no choice.
    const auto chosen = listener_.ChooseStoreFile(job.folderName + timeStamp + ".pst");
    storePath = chosen ? TrimBlanks(*chosen) : std::string();
    if (storePath.empty()) {
      requests_.RequestClose();
      outcome.ending = FolderEnding::Cancelled;
      outcome.stopped = outcome.queued;
      return outcome;
    }
  } else {
    const std::string outputFolder = TrimBlanks(job.target.outputFolder);
    // An empty output folder means the current folder, not the file system's root.
    const bool needsSeparator = !outputFolder.empty() && !outputFolder.ends_with('/');
    storePath = outputFolder + (needsSeparator ? "/" : "") + job.folderName + ".pst";
  }
  outcome.storePath = storePath;
  outcome.logPath = LogPathFor(storePath);
  listener_.OnEvent(StoreChosen{storePath, outcome.logPath});

  // The store first: opening it takes the writer's lock, so a run refused because another writer
  // holds the store never touches that writer's log beside it.
  listener_.OnEvent(StepChanged{Step::OpeningStore, storePath});
  const std::string storeName = StoreSafeName(job.folderName) + " : Created - " + timeStamp;
  std::unique_ptr<OpenStore> store;
  std::optional<std::pair<Failure, StoreFailureAdvice>> openFailure;
  try {
    store = stores_.Open(storePath, storeName,
                         [this](const std::string& path) { return listener_.StorePassword(path); });
  } catch (const StoreInUse& error) {
    outcome.logPath.clear();  // the log there is the other writer's
    ReportStoreFailure(listener_,
                       {FailureKind::Refused, "The store file " + storePath + " was left as it was: " + error.what()},
                       StoreFailureAdvice::CloseTheOtherWriter, job.files, outcome);
    return outcome;
  } catch (const StorePasswordRefused& error) {
    openFailure.emplace(Failure{FailureKind::Refused, "The store file " + storePath + " was left as it was: " + error.what()},
                        StoreFailureAdvice::GiveThePassword);
  } catch (const std::exception& error) {
    openFailure.emplace(FailureOf(error, FailureKind::Io), StoreFailureAdvice::CheckTheStoreFile);
    openFailure->first.cause = "The store file " + storePath + " could not be opened or created: " + openFailure->first.cause;
  }

  try {
    StartLog(outcome.logPath);
  } catch (const std::exception& error) {
    // Without a log no failure could be recorded: nothing is converted, and a store made for
    // this run is taken away again.
    if (store) store->Abandon();
    outcome.ending = FolderEnding::LogFailed;
    outcome.error = error.what();
    const Failure noLog{FailureKind::Io, error.what()};
    for (const auto& path : MessageFilesOf(job.files)) outcome.failures.push_back({path, noLog});
    outcome.failed = outcome.queued;
    outcome.logComplete = false;
    return outcome;
  }

  // Folders the scan could not read head the log: the messages in them are missing, and the log
  // is where the user looks for what is missing.
  outcome.unreadFolders = job.unreadFolders;
  {
    LogAppender log(outcome.logPath);
    for (const auto& unread : job.unreadFolders)
      if (!log.WriteBad(unread.file, unread.failure.cause)) outcome.logComplete = false;
  }

  std::string inboxName, sentName;
  if (store) {
    try {
      inboxName = store->InboxName();
      sentName = store->SentItemsName();
    } catch (const std::exception& error) {
      // Nothing was imported: nothing is committed either.
      store->Abandon();
      openFailure.emplace(FailureOf(error, FailureKind::Corrupt), StoreFailureAdvice::CheckTheStoreFile);
      openFailure->first.cause = "The store file " + storePath + " could not be prepared: " + openFailure->first.cause;
    }
  }
  if (openFailure) {
    ReportStoreFailure(listener_, openFailure->first, openFailure->second, job.files, outcome);
    return outcome;
  }

  const StoreFolders folders{*store, BackslashFormOf(job.folderPath), inboxName, sentName};
  std::vector<std::string> folderList = ReadFolderList(job.folders, folders.rootPath, files_.folderExists, listener_);
  CreateStoreFolders(folderList, folders, listener_);

  const ImportJob importJob{folders,           listener_,          requests_,        files_, reader_,
                            outcome.logPath,   outcome.totalFiles, job.deleteSources, parseWorkers_};
  outcome.ending = ImportMessages(job.files, importJob, outcome);
  // Everything imported so far goes to disk, also after a stop.
  CloseStore(*store, outcome);
  return outcome;
}

}  // namespace mailfold::engine
