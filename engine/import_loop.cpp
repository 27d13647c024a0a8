#include "engine/import_loop.h"

#include <cmath>
#include <memory>

#include "engine/conversion_log.h"
#include "engine/store_paths.h"

namespace mailfold::engine {
namespace {

// The folder a message goes into. A folder that the hierarchy step did not create (a special name
// such as Sent, a "!" name, a listing gap) is created here under its real parent, so that no
// message fails only because its folder is missing.
std::shared_ptr<StoreFolder> FolderForMessage(const std::string& relativeFolder, const OpenStore& store) {
  try {
    return store.session.GetFolderFromPath("\\\\" + store.storeName + "\\" + relativeFolder);
  } catch (const std::exception&) {
    return EnsureFolderPath(store, relativeFolder);
  }
}

// Imports one message file; true when it is saved in the store.
bool ImportOne(const std::string& sourcePath, const OpenStore& store, ConversionScreen& screen) {
  std::unique_ptr<MailMessage> message;
  try {
    const auto folder = FolderForMessage(RelativeFolderOfFile(BackslashFormOf(sourcePath), store), store);
    message = folder->AddItem(kMailItemKind);
  } catch (const std::exception&) {
  }
  screen.ProcessPendingEvents();
  if (!message) return false;
  try {
    message->Import(sourcePath, kImportRfc822);
    message->MarkAsRead();
    screen.ProcessPendingEvents();
    message->Save();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

std::int32_t CountMessageFiles(const std::vector<std::string>& files, std::size_t from) {
  std::int32_t count = 0;
  for (std::size_t i = from; i < files.size(); ++i)
    if (IsMessageFile(files[i])) ++count;
  return count;
}

}  // namespace

std::string RelativeFolderOfFile(const std::string& fileBackslashForm, const OpenStore& store) {
  std::string relative = WithoutRoot(ParentPathOf(fileBackslashForm), store.rootPath);
  if (const auto bang = relative.find('!'); bang != std::string::npos)
    relative = TrimBlanks(relative.substr(0, bang)) + "\\";
  if (relative.starts_with("Inbox\\")) relative = store.inboxName + relative.substr(5);
  if (relative.starts_with("Sent\\")) relative = store.sentName + relative.substr(4);
  if (relative.starts_with('\\')) relative.erase(0, 1);
  return relative;
}

float ProgressValue(std::int32_t itemNo, std::int32_t total) {
  if (total <= 0) return 0.0f;
  return static_cast<float>(static_cast<double>(itemNo) / static_cast<double>(total) * 100.0);
}

long RoundHalfEven(float value) {
  const double floorValue = std::floor(static_cast<double>(value));
  const double fraction = static_cast<double>(value) - floorValue;
  long result = static_cast<long>(floorValue);
  if (fraction > 0.5 || (fraction == 0.5 && result % 2 != 0)) ++result;
  return result;
}

std::string ProgressLabel(float value) { return std::to_string(RoundHalfEven(value)) + "% Complete"; }

std::string ReadingCaption(std::int32_t itemNo, std::int32_t total) {
  return "Reading Messages && Email Metadata - (" + std::to_string(itemNo) + " of " + std::to_string(total) +
         ") File(s)";
}

FolderEnding ImportMessages(const std::vector<std::string>& queuedFiles, const ImportJob& job, FolderOutcome& outcome) {
  ConversionScreen& screen = job.screen;
  RunRequests& requests = screen.Requests();
  std::int32_t itemNo = 1;
  for (std::size_t index = 0; index < queuedFiles.size(); ++index) {
    const std::string& entry = queuedFiles[index];
    if (IsMessageFile(entry)) {
      screen.ProcessPendingEvents();
      screen.SetCurrentStep("Converting Messages... from (" + entry + ")");
      bool imported = ImportOne(entry, job.store, screen);
      LogAppender log(job.logPath);
      // A file whose outcome cannot be logged counts as failed, and its source is kept.
      if (!log.IsOpen()) imported = false;
      if (imported) {
        ++outcome.imported;
        if (screen.DeleteSourceChecked()) {
          screen.ProcessPendingEvents();
          if (job.files.fileExists(entry)) job.files.deleteFileForced(entry);
          screen.ProcessPendingEvents();
          const std::string companion = entry + ".meta";
          if (job.files.fileExists(companion)) job.files.deleteFileForced(companion);
        }
      } else {
        ++outcome.failed;
        outcome.failedFiles.push_back(entry);
        screen.ProcessPendingEvents();
        if (!log.WriteBad(entry)) outcome.logComplete = false;
      }
      screen.EnableStart(false);
    }

    screen.SetFrameCaption(ReadingCaption(itemNo, job.totalItems));
    const float progress = ProgressValue(itemNo, job.totalItems);
    screen.SetProgressValue(progress);
    ++itemNo;
    screen.SetProgressText(ProgressLabel(progress));

    // Closing the screen during the run ends it here like a confirmed stop, without a question.
    if (requests.closedByUser) {
      outcome.stopped += CountMessageFiles(queuedFiles, index + 1);
      return FolderEnding::Stopped;
    }
    if (requests.skipFolder) {
      if (screen.ShowMessage(kConfirmSkipText, kConfirmSkipTitle, MessageIcon::None, MessageButtons::YesNo) ==
          MessageAnswer::Yes) {
        screen.ProcessPendingEvents();
        screen.SetProgressText("Skipped... at " + screen.ProgressText());
        screen.SetStatusLine("Checking Next Folder...");
        outcome.skipped += CountMessageFiles(queuedFiles, index + 1);
        return FolderEnding::Skipped;
      }
      requests.skipFolder = false;
    }
    if (requests.stopConversion) {
      if (screen.ShowMessage(kConfirmStopText, kConfirmStopTitle, MessageIcon::None, MessageButtons::YesNo) ==
          MessageAnswer::Yes) {
        screen.ProcessPendingEvents();
        screen.SetProgressText("Stopped... at " + screen.ProgressText());
        screen.SetStatusLine("Stopped...");
        screen.Close();
        outcome.stopped += CountMessageFiles(queuedFiles, index + 1);
        return FolderEnding::Stopped;
      }
      requests.stopConversion = false;
    }
  }
  return FolderEnding::Converted;
}

}  // namespace mailfold::engine
