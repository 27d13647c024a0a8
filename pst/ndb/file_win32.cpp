// The store file on Windows: positioned I/O with 64-bit offsets through OVERLAPPED, the writer
// lock through LockFileEx, FlushFileBuffers for flushes that reach the disk.
#ifdef _WIN32

#include <windows.h>

#include <algorithm>

#include "files/platform.h"
#include "pst/ndb/file.h"

namespace mailfold::pst::ndb {
namespace {

// The writer lock is one byte far beyond any store's data: Windows locks are mandatory, so a
// lock over the data would also stop every reader's ReadFile. Writers take it exclusively,
// the checker shared (see lockShared).
constexpr std::uint64_t kLockOffset = 0x7FFFFFFFFFFFFFF0ull;

// Larger transfers are split: ReadFile and WriteFile count in 32 bits.
constexpr std::size_t kMaxTransfer = 1u << 30;

std::string systemText(DWORD code) { return files::FileErrorText(static_cast<std::int32_t>(code)); }

OVERLAPPED at(std::uint64_t offset) {
  OVERLAPPED o{};
  o.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  o.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return o;
}

bool lockWriterByte(HANDLE file, bool exclusive) {
  OVERLAPPED o = at(kLockOffset);
  const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
  return ::LockFileEx(file, flags, 0, 1, 0, &o) != 0;
}

bool isSharingFailure(DWORD code) { return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION; }

std::string inUse(const std::string& path) {
  return "\"" + path + "\": the store is in use (another program or window has it open for writing, or is checking it)";
}

}  // namespace

std::unique_ptr<File> File::open(const std::string& path, Mode mode) {
  std::int32_t refused = 0;
  const std::wstring wide = files::SystemPath(path, refused);
  if (wide.empty())
    throw Error(ErrorKind::kBadInput, "cannot open \"" + path + "\": " + files::FileErrorText(refused != 0 ? refused : ERROR_INVALID_NAME));
  const bool writable = mode != Mode::kRead;
  // Other handles may read and write: who may write is settled by the lock below, as on POSIX.
  // A program that opened the file without sharing it (Outlook) makes this open fail instead.
  HANDLE handle = ::CreateFileW(wide.c_str(), writable ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, mode == Mode::kCreate ? OPEN_ALWAYS : OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD err = ::GetLastError();
    if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND)
      throw Error(ErrorKind::kNotFound, "cannot open \"" + path + "\": " + systemText(err));
    if (isSharingFailure(err)) throw StoreInUseError(inUse(path));
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
      throw Error(ErrorKind::kBadInput, "cannot open \"" + path + "\": not a regular file");
    throw Error(ErrorKind::kIo, "cannot open \"" + path + "\": " + systemText(err));
  }
  if (::GetFileType(handle) != FILE_TYPE_DISK) {
    ::CloseHandle(handle);
    throw Error(ErrorKind::kBadInput, "cannot open \"" + path + "\": not a regular file");
  }
  if (writable && !lockWriterByte(handle, true)) {
    const DWORD err = ::GetLastError();
    ::CloseHandle(handle);
    if (isSharingFailure(err)) throw StoreInUseError(inUse(path));
    throw Error(ErrorKind::kIo, "cannot lock \"" + path + "\": " + systemText(err));
  }
  if (mode == Mode::kCreate) {
    FILE_END_OF_FILE_INFO end{};
    if (!::SetFileInformationByHandle(handle, FileEndOfFileInfo, &end, sizeof end)) {
      const DWORD err = ::GetLastError();
      ::CloseHandle(handle);
      throw Error(ErrorKind::kIo, "cannot empty \"" + path + "\": " + systemText(err));
    }
  }
  std::unique_ptr<File> file(new File(handle, path, writable));
  if (writable)
    if (auto plan = takeArmedPlan(path)) file->setFaultPlan(*plan);
  return file;
}

File::~File() {
  if (fd_ != nullptr) ::CloseHandle(fd_);
}

void File::close() {
  if (fd_ != nullptr) ::CloseHandle(fd_);
  fd_ = nullptr;
}

bool File::lockShared() {
  if (fd_ == nullptr) throw Error(ErrorKind::kRefused, "\"" + path_ + "\" is closed");
  if (lockWriterByte(fd_, false)) return true;
  return !isSharingFailure(::GetLastError());
}

Bytes File::read(std::uint64_t offset, std::size_t size, const char* what) const {
  if (fd_ == nullptr) throw Error(ErrorKind::kRefused, "\"" + path_ + "\" is closed");
  Bytes out(size);
  std::size_t done = 0;
  while (done < size) {
    OVERLAPPED o = at(offset + done);
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(std::min(size - done, kMaxTransfer));
    if (!::ReadFile(fd_, out.data() + done, want, &n, &o)) {
      const DWORD err = ::GetLastError();
      if (err != ERROR_HANDLE_EOF)
        throw Error(ErrorKind::kIo, std::string("cannot read ") + what + " at offset " + std::to_string(offset) + " of \"" +
                    path_ + "\": " + systemText(err));
      n = 0;
    }
    if (n == 0)
      throw Error(ErrorKind::kCorrupt, std::string(what) + " at offset " + std::to_string(offset) + " (" + std::to_string(size) +
                  " bytes) lies past the end of \"" + path_ + "\" (file is truncated or damaged)");
    done += n;
  }
  return out;
}

void File::write(std::uint64_t offset, ByteView data) {
  if (fd_ == nullptr) throw Error(ErrorKind::kRefused, "\"" + path_ + "\" is closed");
  if (!writable_) throw Error(ErrorKind::kRefused, "\"" + path_ + "\" is open read-only");
  maybeFail(true);
  ++writes_;
  bytesWritten_ += data.size();
  std::size_t done = 0;
  while (done < data.size()) {
    OVERLAPPED o = at(offset + done);
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(std::min(data.size() - done, kMaxTransfer));
    if (!::WriteFile(fd_, data.data() + done, want, &n, &o) || n == 0) {
      const DWORD err = ::GetLastError();
      throw Error(ErrorKind::kIo, "cannot write " + std::to_string(data.size()) + " bytes at offset " + std::to_string(offset) +
                  " of \"" + path_ + "\": " + systemText(err));
    }
    done += n;
  }
}

void File::flush() {
  if (fd_ == nullptr) throw Error(ErrorKind::kRefused, "\"" + path_ + "\" is closed");
  if (!writable_) return;
  maybeFail(false);
  ++flushes_;
  if (!::FlushFileBuffers(fd_)) throw Error(ErrorKind::kIo, "cannot flush \"" + path_ + "\": " + systemText(::GetLastError()));
}

std::uint64_t File::size() const {
  if (fd_ == nullptr) throw Error(ErrorKind::kRefused, "\"" + path_ + "\" is closed");
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(fd_, &size)) throw Error(ErrorKind::kIo, "cannot size \"" + path_ + "\": " + systemText(::GetLastError()));
  return static_cast<std::uint64_t>(size.QuadPart);
}

void File::truncate(std::uint64_t size) {
  if (fd_ == nullptr) throw Error(ErrorKind::kRefused, "\"" + path_ + "\" is closed");
  if (!writable_) throw Error(ErrorKind::kRefused, "\"" + path_ + "\" is open read-only");
  maybeFail(true);
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  if (!::SetFileInformationByHandle(fd_, FileEndOfFileInfo, &end, sizeof end))
    throw Error(ErrorKind::kIo, "cannot resize \"" + path_ + "\" to " + std::to_string(size) + " bytes: " + systemText(::GetLastError()));
}

}  // namespace mailfold::pst::ndb

#endif  // _WIN32
