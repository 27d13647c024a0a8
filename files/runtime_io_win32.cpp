#ifdef _WIN32

#include "files/runtime_io_win32.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

#include "files/platform.h"

namespace mailfold::files {

namespace {

int ErrnoFromSystem(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return EACCES;
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_PARAMETER: return EINVAL;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    default: return EIO;
  }
}

int Fail(DWORD code) {
  errno = ErrnoFromSystem(code);
  return -1;
}

// Hands a handle over to a C-runtime descriptor, which closes it from then on.
int Adopt(HANDLE handle, int flags) {
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(handle);
    errno = EMFILE;
  }
  return fd;
}

std::wstring TemporaryFolder() {
  wchar_t buffer[MAX_PATH + 1];
  const DWORD n = ::GetTempPathW(MAX_PATH + 1, buffer);
  return n == 0 || n > MAX_PATH ? std::wstring(L".\\") : std::wstring(buffer, n);
}

}  // namespace

int OpenForReading(const std::string& path) {
  std::int32_t refused = 0;
  const std::wstring wide = SystemPath(path, refused);
  if (wide.empty()) {
    errno = refused == win_error::kFilenameTooLong ? ENAMETOOLONG : EINVAL;
    return -1;
  }
  HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD err = ::GetLastError();
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (err == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      errno = EISDIR;
      return -1;
    }
    return Fail(err);
  }
  return Adopt(handle, _O_RDONLY);
}

int CreateTemporaryFile(const std::string& directory) {
  std::wstring folder;
  if (directory.empty()) {
    folder = TemporaryFolder();
  } else {
    std::int32_t refused = 0;
    folder = SystemPath(directory, refused);
    if (folder.empty()) {
      errno = EINVAL;
      return -1;
    }
  }
  if (folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
  static std::atomic<unsigned> counter{0};
  // A fresh name per try: the process id, a counter and the clock; CREATE_NEW refuses a taken one.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const unsigned long long stamp = ::GetTickCount64() ^ (static_cast<unsigned long long>(::GetCurrentProcessId()) << 32);
    const std::wstring name = folder + L"mailfold-attachment-" + std::to_wstring(stamp) + L"-" + std::to_wstring(counter++);
    HANDLE handle = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle != INVALID_HANDLE_VALUE) return Adopt(handle, _O_RDWR);
    if (::GetLastError() != ERROR_FILE_EXISTS) return Fail(::GetLastError());
  }
  errno = EEXIST;
  return -1;
}

long long ReadAt(int fd, void* buffer, std::size_t size, std::uint64_t offset) {
  const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  if (handle == INVALID_HANDLE_VALUE) {
    errno = EBADF;
    return -1;
  }
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
  if (!::ReadFile(handle, buffer, want, &got, &at)) {
    if (::GetLastError() == ERROR_HANDLE_EOF) return 0;
    return Fail(::GetLastError());
  }
  return static_cast<long long>(got);
}

}  // namespace mailfold::files

#endif  // _WIN32
