// The I/O seam of the store engine: positioned reads and writes, flush, size, truncate.
//
// Every byte the engine reads or writes goes through here, so tests can make the Nth write or
// flush fail (ENOSPC, EIO, ...) and check that the store keeps its last committed state.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "pst/bytes.h"

namespace mailfold::pst::ndb {

// Injected failures, counted from the moment the plan is installed (1 = the next call).
struct FaultPlan {
  std::uint64_t failWriteAt = 0;  // 0: never
  std::uint64_t failFlushAt = 0;  // 0: never
  int error = 28;                 // errno to report (ENOSPC by default)
  bool sticky = true;             // once failed, every later write/flush fails as well
};

class File {
 public:
  enum class Mode { kRead, kReadWrite, kCreate };  // kCreate truncates or makes a new file

  // Writable opens take an exclusive lock (flock; on Windows LockFileEx on a byte far past any
  // data, so that readers are not blocked): a second writer gets an Error, and so does a file
  // another program holds open without sharing it (Outlook with its stores): "in use".
  static std::unique_ptr<File> open(const std::string& path, Mode mode);
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  const std::string& path() const { return path_; }
  bool writable() const { return writable_; }

  // Reads exactly `size` bytes at `offset`; a short read (past the end) throws with context.
  Bytes read(std::uint64_t offset, std::size_t size, const char* what) const;
  void write(std::uint64_t offset, ByteView data);
  void flush();
  std::uint64_t size() const;
  void truncate(std::uint64_t size);
  // Gives the file (and its write lock) up; later calls fail.
  void close();
  // For a reader that needs the file to hold still (the checker): takes a shared lock, which
  // keeps writers out until the file is closed. False, with no lock taken, when a writer holds
  // the file now. Where the file system has no locks, nobody can hold one: true.
  bool lockShared();

  void setFaultPlan(const FaultPlan& plan);
  // For tests of the layers above, which open their files themselves: the next writable open
  // of `path` (in this process) starts with `plan` installed. Thread-safe.
  static void armFaultPlan(const std::string& path, const FaultPlan& plan);
  static void disarmFaultPlans();
  std::uint64_t writeCount() const { return writes_; }
  std::uint64_t flushCount() const { return flushes_; }
  std::uint64_t bytesWritten() const { return bytesWritten_; }

 private:
#ifdef _WIN32
  using NativeHandle = void*;  // HANDLE; nullptr once closed
#else
  using NativeHandle = int;  // -1 once closed
#endif
  File(NativeHandle fd, std::string path, bool writable) : fd_(fd), path_(std::move(path)), writable_(writable) {}
  void maybeFail(bool isWrite);
  static std::optional<FaultPlan> takeArmedPlan(const std::string& path);

  NativeHandle fd_;
  std::string path_;
  bool writable_;
  FaultPlan plan_{};
  std::uint64_t writes_ = 0, flushes_ = 0, bytesWritten_ = 0;
  std::uint64_t planWrites_ = 0, planFlushes_ = 0;
  bool failed_ = false;
};

}  // namespace mailfold::pst::ndb
