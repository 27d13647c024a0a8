// What the POSIX and the Win32 file layers share: the last error of the calling code's file
// operations, its recording, and the checks a path passes before it reaches the system.
#include <atomic>

#include "files/platform.h"

namespace mailfold::files {

namespace {
std::atomic<std::int32_t> gLastFileError{0};
}  // namespace

std::int32_t LastFileError() { return gLastFileError.load(std::memory_order_relaxed); }

void SetLastFileError(std::int32_t code) { gLastFileError.store(code, std::memory_order_relaxed); }

std::int32_t RecordFileError(int errnoValue) {
  const std::int32_t code = WindowsErrorFromErrno(errnoValue);
  SetLastFileError(code);
  return code;
}

std::int32_t CheckPathForSystem(const std::string& path) {
  if (path.find('\0') != std::string::npos) return win_error::kInvalidName;
  if (path.size() >= kMaxPathBytes) return win_error::kFilenameTooLong;
  return 0;
}

}  // namespace mailfold::files
