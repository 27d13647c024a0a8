// The platform file layer on Windows: the wide-character calls, the system's own attribute word
// and error codes. See platform.h for the rules both layers keep.
#include <windows.h>

#include <cerrno>

#include "files/platform.h"

namespace mailfold::files {

namespace {

// Below this many units a path needs no "\\?\" form; 248 rather than MAX_PATH because a folder
// path must leave room for an 8.3 name (CreateDirectoryW's limit).
constexpr std::size_t kClassicPathUnits = 248;

bool IsWideSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

std::wstring WideFromUtf8(const std::string& text, bool& ok) {
  ok = true;
  if (text.empty()) return {};
  const int units = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (units <= 0) {
    ok = false;
    return {};
  }
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), wide.data(), units);
  return wide;
}

// The "\\?\" form of a long path: made absolute and normalized first, because the system takes
// a path in that form literally ("/" and ".." are not understood there).
std::wstring ExtendedLengthForm(const std::wstring& path) {
  if (path.rfind(L"\\\\?\\", 0) == 0) return path;
  const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::wstring full(needed, L'\0');
  const DWORD written = ::GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
  if (written == 0 || written >= needed) return path;
  full.resize(written);
  if (full.size() >= 2 && IsWideSeparator(full[0]) && IsWideSeparator(full[1]))
    return L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share\... -> \\?\UNC\server\share\...
  return L"\\\\?\\" + full;
}

// Windows error code -> the errno whose text the POSIX layer would show, for the few codes the
// CRT reports through errno (the file services themselves never go through errno here).
struct ErrnoMapping {
  int errnoValue;
  std::int32_t windowsCode;
};
constexpr ErrnoMapping kErrnoToWindows[] = {
    {ENOENT, win_error::kFileNotFound}, {EACCES, win_error::kAccessDenied},   {EPERM, win_error::kAccessDenied},
    {EROFS, win_error::kWriteProtect},  {ENAMETOOLONG, win_error::kFilenameTooLong}, {ENOSPC, win_error::kDiskFull},
    {EEXIST, win_error::kFileExists},   {ENOTEMPTY, win_error::kDirNotEmpty}, {EBUSY, win_error::kBusy},
    {EMFILE, win_error::kTooManyOpenFiles}, {ENFILE, win_error::kTooManyOpenFiles},
    {ENOMEM, win_error::kNotEnoughMemory}, {EINVAL, win_error::kInvalidParameter}, {EBADF, win_error::kInvalidHandle},
    {EIO, win_error::kIoDevice},        {ENOSYS, win_error::kCallNotImplemented}, {EXDEV, win_error::kNotSameDevice},
    {EFBIG, win_error::kFileTooLarge},  {EMLINK, win_error::kTooManyLinks},
};

}  // namespace

std::string Utf8FromWide(const wchar_t* text) {
  if (text == nullptr || *text == L'\0') return {};
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) return {};
  std::string out(static_cast<std::size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), bytes, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(bytes) - 1);
  return out;
}

std::wstring SystemPath(const std::string& path, std::int32_t& code) {
  code = CheckPathForSystem(path);
  if (code != 0) return {};
  bool ok = false;
  std::wstring wide = WideFromUtf8(path, ok);
  if (!ok) {
    code = win_error::kInvalidName;
    return {};
  }
  if (wide.size() >= kClassicPathUnits) wide = ExtendedLengthForm(wide);
  if (wide.size() >= kMaxPathUnits) {
    code = win_error::kFilenameTooLong;
    return {};
  }
  return wide;
}

std::int32_t RecordSystemError() {
  const DWORD error = ::GetLastError();
  const std::int32_t code = error == 0 ? win_error::kUnknown : static_cast<std::int32_t>(error);
  SetLastFileError(code);
  return code;
}

std::string FileErrorText(std::int32_t code) {
  if (code > 0) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(code), MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length > 0 && buffer != nullptr) {
      std::string text = Utf8FromWide(buffer);
      ::LocalFree(buffer);
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.' || text.back() == ' '))
        text.pop_back();
      if (!text.empty()) return text;
    }
  }
  return "error " + std::to_string(code);
}

std::int32_t WindowsErrorFromErrno(int errnoValue) {
  if (errnoValue == 0) return win_error::kUnknown;
  for (const ErrnoMapping& mapping : kErrnoToWindows)
    if (mapping.errnoValue == errnoValue) return mapping.windowsCode;
  return static_cast<std::int32_t>(errnoValue);
}

std::int32_t RecordPathError(int errnoValue, const std::string& path) {
  // The CRT folds "path not found" into ENOENT; ask the system which one it is.
  if (errnoValue == ENOENT) {
    std::int32_t refused = 0;
    const std::wstring wide = SystemPath(path, refused);
    if (!wide.empty() && ::GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES &&
        ::GetLastError() == ERROR_PATH_NOT_FOUND) {
      SetLastFileError(win_error::kPathNotFound);
      return win_error::kPathNotFound;
    }
  }
  return RecordFileError(errnoValue);
}

std::string LastPathComponent(const std::string& path) {
  std::size_t end = path.size();
  while (end > 0 && IsPathSeparator(path[end - 1])) --end;
  std::size_t begin = end;
  while (begin > 0 && !IsPathSeparator(path[begin - 1])) --begin;
  // "C:name" names "name" in the current folder of drive C.
  if (begin == 0 && end >= 2 && path[1] == ':') begin = 2;
  return path.substr(begin, end - begin);
}

std::int32_t GetAttributes(const std::string& path) {
  std::int32_t code = 0;
  const std::wstring wide = SystemPath(path, code);
  if (wide.empty()) {
    SetLastFileError(code != 0 ? code : win_error::kPathNotFound);
    return kInvalidAttributes;
  }
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    RecordSystemError();
    return kInvalidAttributes;
  }
  SetLastFileError(win_error::kSuccess);
  return static_cast<std::int32_t>(attributes);
}

std::int32_t SetAttributes(const std::string& path, std::int32_t attributes) {
  if (attributes == kInvalidAttributes) {
    SetLastFileError(win_error::kInvalidParameter);
    return win_error::kInvalidParameter;
  }
  std::int32_t code = 0;
  const std::wstring wide = SystemPath(path, code);
  if (wide.empty()) {
    if (code == 0) code = win_error::kPathNotFound;
    SetLastFileError(code);
    return code;
  }
  // The system ignores the folder bit and refuses nothing else of the changeable bits.
  if (!::SetFileAttributesW(wide.c_str(), static_cast<DWORD>(attributes) & ~static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY)))
    return RecordSystemError();
  SetLastFileError(win_error::kSuccess);
  return win_error::kSuccess;
}

bool FolderIdentityOf(const std::string& path, std::uint64_t& device, std::uint64_t& fileNumber) {
  std::int32_t code = 0;
  const std::wstring wide = SystemPath(path, code);
  if (wide.empty()) return false;
  // A folder opens only with backup semantics; no access right is needed to read its identity.
  HANDLE folder = ::CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool ok = ::GetFileInformationByHandle(folder, &info) != 0;
  ::CloseHandle(folder);
  if (!ok) return false;
  device = info.dwVolumeSerialNumber;
  fileNumber = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

}  // namespace mailfold::files
