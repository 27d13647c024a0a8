#include "engine/conversion_log.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "engine/store_paths.h"

namespace mailfold::engine {

std::string LogPathFor(const std::string& storePath) {
  const std::string folder = ParentPathOf(storePath, '/');
  const std::string name = FileNameOf(storePath, '/');
  const std::string logName = ReplaceAll(name, ".pst", ".log");
  if (logName == name) return storePath + ".log";
  return folder + logName;
}

void StartLog(const std::string& logPath) {
  std::FILE* file = std::fopen(logPath.c_str(), "wb");
  if (!file) {
    const int error = errno;
    throw std::runtime_error("The log file " + logPath + " could not be created: " + std::strerror(error));
  }
  const std::string header = std::string(kLogHeader) + "\r\n";
  // The reason is the errno of the call that failed: a full disk often shows only when the
  // buffered write is flushed by the close.
  int error = 0;
  if (std::fwrite(header.data(), 1, header.size(), file) != header.size()) error = errno;
  if (std::fclose(file) != 0 && error == 0) error = errno;
  if (error != 0)
    throw std::runtime_error("The log file " + logPath + " could not be written: " + std::strerror(error));
}

LogAppender::LogAppender(const std::string& logPath) : file_(std::fopen(logPath.c_str(), "ab")) {}

LogAppender::~LogAppender() {
  if (file_) std::fclose(file_);
}

bool LogAppender::WriteBad(const std::string& sourcePath, const std::string& cause) {
  if (!file_) return false;
  std::string line = kBadLinePrefix + sourcePath + "\r\n";
  if (!cause.empty()) {
    std::string oneLine = cause;
    for (char& c : oneLine)
      if (c == '\r' || c == '\n') c = ' ';
    line += kCauseLineIndent + oneLine + "\r\n";
  }
  return std::fwrite(line.data(), 1, line.size(), file_) == line.size() && std::fflush(file_) == 0;
}

}  // namespace mailfold::engine
