// The conversion log beside a store file: a header line when a folder's conversion starts, then
// one "BAD : " line per message file that could not be imported, each followed by one line that
// starts with blanks and gives the cause. Lines end with CR LF. Anything that reads the "BAD : "
// lines keeps working: the cause lines never start with it. The file is opened and closed around
// every write, so it is complete on disk at every moment.
#pragma once

#include <cstdio>
#include <string>

namespace mailfold::engine {

inline constexpr const char* kLogHeader = "---- Log Starts -----";
inline constexpr const char* kBadLinePrefix = "BAD : ";
inline constexpr const char* kCauseLineIndent = "    ";

// The log path for a store path: the store's file name with every ".pst" (exact case) replaced by
// ".log", in the store's folder. A name without ".pst" gets ".log" appended, so the log never
// takes the store's own path. Folder names are left alone: the log belongs beside the store.
std::string LogPathFor(const std::string& storePath);

// Creates the log (emptying an existing one) and writes the header. Throws std::runtime_error
// with the path and the system's reason when the file cannot be written.
void StartLog(const std::string& logPath);

// The log opened for appending, for the time one message file is handled.
class LogAppender {
 public:
  explicit LogAppender(const std::string& logPath);
  ~LogAppender();
  LogAppender(const LogAppender&) = delete;
  LogAppender& operator=(const LogAppender&) = delete;

  bool IsOpen() const { return file_ != nullptr; }
  // Appends "BAD : " + sourcePath and, when `cause` is not empty, the cause line (line breaks in
  // the cause become blanks). False when the log is not open or the write failed.
  bool WriteBad(const std::string& sourcePath, const std::string& cause);

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace mailfold::engine
