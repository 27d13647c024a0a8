#include "engine/import_loop.h"

#include <optional>

#include "engine/conversion_log.h"
#include "engine/parse_ahead.h"
#include "engine/store_paths.h"
#include "pst/messaging/property_tags.h"

namespace mailfold::engine {
namespace {

// Adds one parsed message file as read to the folder that matches its source folder; the
// failure, if it is not in the store. A folder that the hierarchy step did not create (a special
// name such as Sent, a "!" name, a listing gap) is made here under its real parent, so that no
// message fails only because its folder is missing.
std::optional<Failure> ImportOne(const std::string& sourcePath, ParseAhead::Result parsed, const ImportJob& job) {
  OpenStore& store = job.folders.store;
  FolderId folder = 0;
  try {
    const FolderPath where = ComponentsOf(RelativeFolderOfFile(BackslashFormOf(sourcePath), job.folders));
    const auto found = store.FindFolder(where);
    folder = found ? *found : EnsureFolder(store, where);
  } catch (const std::exception& error) {
    return FailureOf(error, FailureKind::Refused);
  }
  if (auto* failure = std::get_if<Failure>(&parsed)) return *failure;
  try {
    pst::MessageModel& message = std::get<pst::MessageModel>(parsed);
    // Imported mail shows as read and never as an unsent draft; the store decides the
    // has-attachment bit from the attachments.
    message.props.set(pst::kPrMessageFlags, pst::kMsgFlagRead);
    store.AddMessage(folder, std::move(message), sourcePath);
    return std::nullopt;
  } catch (const std::exception& error) {
    return FailureOf(error, FailureKind::Io);
  }
}

std::int32_t CountMessageFiles(const std::vector<std::string>& files, std::size_t from) {
  std::int32_t count = 0;
  for (std::size_t i = from; i < files.size(); ++i)
    if (IsMessageFile(files[i])) ++count;
  return count;
}

}  // namespace

std::string RelativeFolderOfFile(const std::string& fileBackslashForm, const StoreFolders& folders) {
  std::string relative = WithoutRoot(ParentPathOf(fileBackslashForm), folders.rootPath);
  if (const auto bang = relative.find('!'); bang != std::string::npos)
    relative = TrimBlanks(relative.substr(0, bang)) + "\\";
  if (relative.starts_with("Inbox\\")) relative = folders.inboxName + relative.substr(5);
  if (relative.starts_with("Sent\\")) relative = folders.sentName + relative.substr(4);
  if (relative.starts_with('\\')) relative.erase(0, 1);
  return relative;
}

FolderEnding ImportMessages(const std::vector<std::string>& queuedFiles, const ImportJob& job, FolderOutcome& outcome) {
  ConversionListener& listener = job.listener;
  RunRequests& requests = job.requests;
  std::vector<bool> messages(queuedFiles.size());
  for (std::size_t i = 0; i < queuedFiles.size(); ++i) messages[i] = IsMessageFile(queuedFiles[i]);
  // A few messages ahead per worker keep the writer fed without holding much in memory.
  ParseAhead parsed(queuedFiles, std::move(messages), job.reader, job.parseWorkers, 4 * job.parseWorkers + 2);
  std::int32_t itemNo = 1;
  for (std::size_t index = 0; index < queuedFiles.size(); ++index) {
    const std::string& entry = queuedFiles[index];
    EntryDone done{itemNo, job.totalItems, entry, EntryResult::NotMessage, std::nullopt};
    if (IsMessageFile(entry)) {
      listener.OnEvent(StepChanged{Step::ConvertingMessage, entry});
      done.failure = ImportOne(entry, parsed.Take(index), job);
      LogAppender log(job.logPath);
      // A file whose outcome cannot be logged counts as failed, and its source is kept.
      if (!done.failure && !log.IsOpen())
        done.failure = Failure{FailureKind::Io, "the log " + job.logPath + " could not be opened"};
      if (!done.failure) {
        ++outcome.imported;
        done.result = EntryResult::Imported;
        if (job.deleteSources) {
          if (job.files.fileExists(entry)) job.files.deleteFileForced(entry);
          const std::string companion = entry + ".meta";
          if (job.files.fileExists(companion)) job.files.deleteFileForced(companion);
        }
      } else {
        ++outcome.failed;
        done.result = EntryResult::Failed;
        outcome.failures.push_back({entry, *done.failure});
        if (!log.WriteBad(entry, done.failure->cause)) outcome.logComplete = false;
      }
    }
    listener.OnEvent(done);
    ++itemNo;

    // Closing the screen during the run ends it here like a confirmed stop, without a question.
    if (requests.CloseRequested()) {
      outcome.stopped += CountMessageFiles(queuedFiles, index + 1);
      return FolderEnding::Stopped;
    }
    if (requests.SkipRequested()) {
      if (listener.ConfirmSkip()) {
        listener.OnEvent(SkipConfirmed{});
        outcome.skipped += CountMessageFiles(queuedFiles, index + 1);
        return FolderEnding::Skipped;
      }
      requests.ClearSkip();
    }
    if (requests.StopRequested()) {
      if (listener.ConfirmStop()) {
        listener.OnEvent(StopConfirmed{});
        outcome.stopped += CountMessageFiles(queuedFiles, index + 1);
        return FolderEnding::Stopped;
      }
      requests.ClearStop();
    }
  }
  return FolderEnding::Converted;
}

}  // namespace mailfold::engine
