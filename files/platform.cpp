#include "files/platform.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace mailfold::files {

namespace {

struct ErrnoMapping {
  int errnoValue;
  std::int32_t windowsCode;
};

// errno -> the code Windows gives for the same situation. The only translation table: every
// failure of the file services passes through WindowsErrorFromErrno.
constexpr ErrnoMapping kErrnoToWindows[] = {
    {ENOENT, win_error::kFileNotFound},  // refined to 3 by the callers when a parent folder is missing
    {ENOTDIR, win_error::kPathNotFound},
    {EACCES, win_error::kAccessDenied},
    {EPERM, win_error::kAccessDenied},
    {EISDIR, win_error::kAccessDenied},  // deleting a folder as a file
    {EROFS, win_error::kWriteProtect},
    {ENAMETOOLONG, win_error::kFilenameTooLong},
    {ENOSPC, win_error::kDiskFull},
    {EDQUOT, win_error::kDiskQuotaExceeded},
    {EEXIST, win_error::kFileExists},
    {ENOTEMPTY, win_error::kDirNotEmpty},
    {EBUSY, win_error::kBusy},
    {ETXTBSY, win_error::kSharingViolation},
    {EMFILE, win_error::kTooManyOpenFiles},
    {ENFILE, win_error::kTooManyOpenFiles},
    {ENOMEM, win_error::kNotEnoughMemory},
    {EINVAL, win_error::kInvalidParameter},
    {EBADF, win_error::kInvalidHandle},
    {EIO, win_error::kIoDevice},
    {ELOOP, win_error::kCantResolveFilename},
    {ENOSYS, win_error::kCallNotImplemented},
    {ENOTSUP, win_error::kNotSupported},
    {EXDEV, win_error::kNotSameDevice},
    {EFBIG, win_error::kFileTooLarge},
    {EMLINK, win_error::kTooManyLinks},
};

bool IsSeparator(char c) { return c == '/'; }

// The folder part of a path ("" when there is none), for telling "file not found" from
// "path not found".
std::string ParentFolderOf(const std::string& path) {
  std::size_t end = path.size();
  while (end > 0 && IsSeparator(path[end - 1])) --end;
  const std::size_t slash = path.rfind('/', end == 0 ? 0 : end - 1);
  if (slash == std::string::npos) return {};
  return path.substr(0, slash + 1);
}

// Refuses a path before it reaches the system; records and returns the code, or 0.
std::int32_t RefuseUnsafePath(const std::string& path) {
  const std::int32_t code = CheckPathForSystem(path);
  if (code != 0) SetLastFileError(code);
  return code;
}

}  // namespace

std::string FileErrorText(std::int32_t code) {
  if (code == win_error::kPathNotFound) return std::strerror(ENOENT);
  for (const ErrnoMapping& mapping : kErrnoToWindows)
    if (mapping.windowsCode == code) return std::strerror(mapping.errnoValue);
  return "error " + std::to_string(code);
}

std::int32_t WindowsErrorFromErrno(int errnoValue) {
  if (errnoValue == 0) return win_error::kUnknown;
  for (const ErrnoMapping& mapping : kErrnoToWindows) {
    if (mapping.errnoValue == errnoValue) return mapping.windowsCode;
  }
  return static_cast<std::int32_t>(errnoValue);
}

std::int32_t RecordPathError(int errnoValue, const std::string& path) {
  // Windows reports a missing entry in an existing folder as 2 and a missing folder on the way
  // as 3; ENOENT covers both.
  if (errnoValue == ENOENT) {
    const std::string parent = ParentFolderOf(path);
    struct stat st {};
    if (!parent.empty() && (::stat(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))) {
      SetLastFileError(win_error::kPathNotFound);
      return win_error::kPathNotFound;
    }
  }
  return RecordFileError(errnoValue);
}

std::string LastPathComponent(const std::string& path) {
  std::size_t end = path.size();
  while (end > 0 && IsSeparator(path[end - 1])) --end;
  const std::size_t slash = end == 0 ? std::string::npos : path.rfind('/', end - 1);
  const std::size_t begin = slash == std::string::npos ? 0 : slash + 1;
  return path.substr(begin, end - begin);
}

std::int32_t AttributesFromMode(mode_t mode, const std::string& name) {
  std::int32_t attributes = 0;
  if (S_ISDIR(mode)) {
    attributes |= kAttrFolder;
  } else if (S_ISFIFO(mode) || S_ISSOCK(mode) || S_ISCHR(mode) || S_ISBLK(mode)) {
    attributes |= kAttrDevice;
  }
  if ((mode & S_IWUSR) == 0) attributes |= kAttrReadOnly;
  if (!name.empty() && name[0] == '.' && name != "." && name != "..") attributes |= kAttrHidden;
  return attributes == 0 ? kAttrNormal : attributes;
}

std::int32_t GetAttributes(const std::string& path) {
  if (RefuseUnsafePath(path) != 0) return kInvalidAttributes;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    RecordPathError(errno, path);
    return kInvalidAttributes;
  }
  SetLastFileError(win_error::kSuccess);
  return AttributesFromMode(st.st_mode, LastPathComponent(path));
}

bool FolderIdentityOf(const std::string& path, std::uint64_t& device, std::uint64_t& fileNumber) {
  struct stat st {};
  if (CheckPathForSystem(path) != 0 || ::stat(path.c_str(), &st) != 0) return false;
  device = static_cast<std::uint64_t>(st.st_dev);
  fileNumber = static_cast<std::uint64_t>(st.st_ino);
  return true;
}

std::int32_t SetAttributes(const std::string& path, std::int32_t attributes) {
  if (const std::int32_t refused = RefuseUnsafePath(path); refused != 0) return refused;
  if (attributes == kInvalidAttributes) {
    SetLastFileError(win_error::kInvalidParameter);
    return win_error::kInvalidParameter;
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return RecordPathError(errno, path);

  const mode_t current = st.st_mode & 07777;
  const mode_t wanted = (attributes & kAttrReadOnly) != 0
                            ? static_cast<mode_t>(current & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH))
                            : static_cast<mode_t>(current | S_IWUSR);
  // Leave the entry alone when nothing changes: chmod would fail on entries owned by others
  // even though there is nothing to do.
  if (wanted != current && ::chmod(path.c_str(), wanted) != 0) return RecordFileError(errno);
  SetLastFileError(win_error::kSuccess);
  return win_error::kSuccess;
}

}  // namespace mailfold::files
