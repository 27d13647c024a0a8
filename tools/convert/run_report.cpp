#include "tools/convert/run_report.h"

#include <cstdio>

namespace mailfold::convert {
namespace {

const char* EndingName(engine::FolderEnding ending) {
  switch (ending) {
    case engine::FolderEnding::Converted: return "converted";
    case engine::FolderEnding::Skipped: return "skipped";
    case engine::FolderEnding::Stopped: return "stopped";
    case engine::FolderEnding::Cancelled: return "cancelled";
    case engine::FolderEnding::LogFailed: return "log-failed";
    case engine::FolderEnding::StoreFailed: return "store-failed";
  }
  return "unknown";
}

// Length of the UTF-8 sequence at `i`, or 0 when the bytes there are not one.
std::size_t Utf8Length(const std::string& text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length = 0;
  unsigned minimum = 0;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) length = 2, minimum = 0x80;
  else if (lead >= 0xE0 && lead <= 0xEF) length = 3, minimum = 0x800;
  else if (lead >= 0xF0 && lead <= 0xF4) length = 4, minimum = 0x10000;
  else return 0;
  if (i + length > text.size()) return 0;
  unsigned value = lead & (0xFF >> (length + 1));
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(i + k) & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

int ExitCodeOf(const run::RunSummary& summary, int stopSignal) {
  if (stopSignal != 0) return 128 + stopSignal;
  for (const auto& folder : summary.folders)
    if (folder.ending == engine::FolderEnding::StoreFailed || folder.ending == engine::FolderEnding::LogFailed)
      return kExitStoreFailed;
  if (!summary.scanErrors.empty() || summary.stopped) return kExitSomeFailed;
  for (const auto& folder : summary.folders)
    if (!folder.AllImported() || folder.ending != engine::FolderEnding::Converted) return kExitSomeFailed;
  return kExitAllConverted;
}

std::string StoreLine(const engine::FolderOutcome& folder) {
  std::string line = folder.storePath + ": " + std::to_string(folder.queued) + " queued, " +
                     std::to_string(folder.imported) + " imported, " + std::to_string(folder.failed) + " failed";
  if (folder.skipped > 0) line += ", " + std::to_string(folder.skipped) + " skipped";
  if (folder.stopped > 0) line += ", " + std::to_string(folder.stopped) + " not reached";
  if (folder.failed > 0 && !folder.logPath.empty() && folder.ending != engine::FolderEnding::LogFailed)
    line += " (see " + folder.logPath + ")";
  return line;
}

std::string JsonString(const std::string& text) {
  std::string json = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const std::size_t length = Utf8Length(text, i);
    if (length == 0) {
      // A byte that is no UTF-8 (a file name from a Latin-1 archive) is kept as the lone
      // surrogate U+DC80..U+DCFF, as Python's os.fsdecode does: a script gets the exact bytes back.
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\udc%02x", c);
      json += escaped;
      ++i;
      continue;
    }
    if (length > 1) {
      json.append(text, i, length);
    } else if (c == '"' || c == '\\') {
      json += '\\';
      json += static_cast<char>(c);
    } else if (c == '\n') {
      json += "\\n";
    } else if (c == '\r') {
      json += "\\r";
    } else if (c == '\t') {
      json += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      json += escaped;
    } else {
      json += static_cast<char>(c);
    }
    i += length;
  }
  return json + "\"";
}

std::string SummaryJson(const run::RunSummary& summary, double seconds, int exitCode) {
  std::string json = "{\"mode\":";
  json += summary.mode == engine::ConversionMode::SingleFolder ? "\"single\"" : "\"multiple\"";
  json += ",\"stores\":[";
  bool first = true;
  for (const auto& folder : summary.folders) {
    if (!first) json += ",";
    first = false;
    json += "{\"folder\":" + JsonString(folder.folderName) + ",\"source\":" + JsonString(folder.folderPath) +
            ",\"store\":" + JsonString(folder.storePath) + ",\"log\":" + JsonString(folder.logPath) +
            ",\"ending\":\"" + EndingName(folder.ending) + "\",\"queued\":" + std::to_string(folder.queued) +
            ",\"imported\":" + std::to_string(folder.imported) + ",\"failed\":" + std::to_string(folder.failed) +
            ",\"skipped\":" + std::to_string(folder.skipped) + ",\"stopped\":" + std::to_string(folder.stopped);
    json += ",\"error\":" + (folder.error.empty() ? std::string("null") : JsonString(folder.error));
    json += ",\"failures\":[";
    for (std::size_t i = 0; i < folder.failures.size(); ++i) {
      const auto& failure = folder.failures[i];
      json += (i ? ",{\"file\":" : "{\"file\":") + JsonString(failure.file) + ",\"kind\":\"" +
              engine::KindName(failure.failure.kind) + "\",\"cause\":" + JsonString(failure.failure.cause) + "}";
    }
    json += "],\"unreadFolders\":[";
    for (std::size_t i = 0; i < folder.unreadFolders.size(); ++i) {
      const auto& unread = folder.unreadFolders[i];
      json += (i ? ",{\"folder\":" : "{\"folder\":") + JsonString(unread.file) + ",\"kind\":\"" +
              engine::KindName(unread.failure.kind) + "\",\"cause\":" + JsonString(unread.failure.cause) + "}";
    }
    json += "]}";
  }
  json += "],\"totals\":{\"stores\":" + std::to_string(summary.folders.size()) +
          ",\"queued\":" + std::to_string(summary.Queued()) + ",\"imported\":" + std::to_string(summary.Imported()) +
          ",\"failed\":" + std::to_string(summary.Failed()) + ",\"skipped\":" + std::to_string(summary.Skipped()) +
          ",\"stopped\":" + std::to_string(summary.NotReached()) + "}";
  json += ",\"scanErrors\":[";
  for (std::size_t i = 0; i < summary.scanErrors.size(); ++i)
    json += (i ? "," : "") + JsonString(summary.scanErrors[i]);
  char secondsText[32];
  std::snprintf(secondsText, sizeof secondsText, "%.3f", seconds);
  json += "],\"stoppedByUser\":" + std::string(summary.stopped ? "true" : "false") + ",\"seconds\":" + secondsText +
          ",\"exitCode\":" + std::to_string(exitCode) + "}";
  return json;
}

}  // namespace mailfold::convert
