#include "files/directory_search.h"

#ifndef _WIN32
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>

#include "files/platform.h"
#include "files/wildcard.h"

namespace mailfold::files {

#ifndef _WIN32
namespace {

constexpr char kSeparator = '/';

bool IsDotOrDotDot(const std::string& name) { return name == "." || name == ".."; }

// "." and ".." first, as Windows lists them, then byte order.
bool ListedBefore(const detail::ListedEntry& a, const detail::ListedEntry& b) {
  const bool aDots = IsDotOrDotDot(a.name);
  const bool bDots = IsDotOrDotDot(b.name);
  if (aDots != bDots) return aDots;
  return a.name < b.name;
}

// The root folder is the one whose ".." is itself.
bool IsRootFolder(DIR* dir) {
  struct stat self {};
  struct stat parent {};
  const int fd = ::dirfd(dir);
  if (fd < 0 || ::fstat(fd, &self) != 0 || ::fstatat(fd, "..", &parent, 0) != 0) return false;
  return self.st_dev == parent.st_dev && self.st_ino == parent.st_ino;
}

// Handles only tell searches apart; they are never 0 or -1, which mean "ran out" and "none".
std::int32_t NextHandle() {
  static std::atomic<std::uint32_t> counter{0};
  const std::uint32_t next = counter.fetch_add(1, std::memory_order_relaxed) % 0x7FFFFFFFu;
  return static_cast<std::int32_t>(next) + 1;
}

// Reads the folder and keeps the names that match the pattern, sorted. Returns 0 or an errno.
int ListFolder(const std::string& listedFolder, const std::string& pattern, detail::OpenSearch& out) {
  DIR* dir = ::opendir(listedFolder.empty() ? "." : listedFolder.c_str());
  if (dir == nullptr) return errno == 0 ? EIO : errno;
  const bool isRoot = IsRootFolder(dir);
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (entry == nullptr) {
      out.pendingErrno = errno;
      break;
    }
    std::string name(entry->d_name);
    if (isRoot && IsDotOrDotDot(name)) continue;
    if (!MatchesWildcard(pattern, name)) continue;
    out.entries.push_back({std::move(name), entry->d_type});
  }
  ::closedir(dir);
  std::sort(out.entries.begin(), out.entries.end(), ListedBefore);
  return 0;
}

mode_t ModeFromListing(unsigned char kind) {
  switch (kind) {
    case DT_DIR: return S_IFDIR | S_IRWXU;
    case DT_LNK: return S_IFLNK | S_IRWXU;
    case DT_FIFO: return S_IFIFO | S_IRWXU;
    case DT_SOCK: return S_IFSOCK | S_IRWXU;
    case DT_CHR: return S_IFCHR | S_IRWXU;
    case DT_BLK: return S_IFBLK | S_IRWXU;
    default: return S_IFREG | S_IRWXU;
  }
}

struct timespec ToTimespec(const struct statx_timestamp& t) {
  struct timespec ts {};
  ts.tv_sec = static_cast<time_t>(t.tv_sec);
  ts.tv_nsec = static_cast<long>(t.tv_nsec);
  return ts;
}

// The entry's status: links followed; else the link itself; else false.
bool StatusOf(const std::string& path, struct statx& status) {
  constexpr unsigned kWanted = STATX_BASIC_STATS | STATX_BTIME;
  if (::statx(AT_FDCWD, path.c_str(), 0, kWanted, &status) == 0) return true;
  return ::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, kWanted, &status) == 0;
}

void FillEntryFields(FindRecord& record, const detail::ListedEntry& entry, const std::string& listedFolder) {
  record.name = entry.name;
  record.alias = entry.name;
  record.extension = ExtensionOf(entry.name);
  record.fullPath = record.parentFolder + entry.name;

  struct statx status {};
  const bool haveStatus = StatusOf(listedFolder + entry.name, status);
  const mode_t mode = haveStatus ? static_cast<mode_t>(status.stx_mode) : ModeFromListing(entry.kindFromListing);
  record.attributes = AttributesFromMode(mode, entry.name);
  record.isFolder = (record.attributes & kAttrFolder) != 0;
  record.isFile = !record.isFolder;

  if (haveStatus) {
    const bool haveBirth = (status.stx_mask & STATX_BTIME) != 0;
    FillFileTimeInfo(ToTimespec(haveBirth ? status.stx_btime : status.stx_mtime), record.created);
    FillFileTimeInfo(ToTimespec(status.stx_atime), record.lastAccessed);
    FillFileTimeInfo(ToTimespec(status.stx_mtime), record.lastWritten);
  } else {
    // No times to give; say so instead of showing the previous entry's.
    record.created = FileTimeInfo{true, 0.0, 0};
    record.lastAccessed = record.created;
    record.lastWritten = record.created;
  }
  record.size = record.isFolder || !haveStatus ? 0 : static_cast<std::uint64_t>(status.stx_size);
  record.onDiskSize = record.size;
}

// Records a failed step: the code goes to LastFileError; running out (18) is no error.
void RecordStepFailure(FindRecord& record, std::int32_t code) {
  SetLastFileError(code);
  record.hasEntry = false;
  const bool ranOut = code == win_error::kNoMoreFiles;
  record.error = !ranOut;
  record.errorCode = ranOut ? 0 : code;
}

std::int32_t FailStart(FindRecord& record, std::int32_t code) {
  RecordStepFailure(record, code);
  record.search.reset();
  record.handle = kNoSearch;
  return kNoSearch;
}

// A missing folder is "path not found" on Windows; a folder that holds no match is "file not found".
std::int32_t ListingErrorCode(int errnoValue) {
  return errnoValue == ENOENT ? win_error::kPathNotFound : WindowsErrorFromErrno(errnoValue);
}

}  // namespace
#endif

namespace {
// The last separator at or before `from`, or npos.
std::size_t LastSeparator(const std::string& spec, std::size_t from) {
  for (std::size_t i = std::min(from, spec.size() - 1) + 1; i-- > 0;)
    if (IsPathSeparator(spec[i])) return i;
  return std::string::npos;
}
}  // namespace

std::int32_t PathKindOf(const std::string& spec) {
  static constexpr char kFtp[] = "ftp://";
  if (spec.size() >= 6) {
    bool ftp = true;
    for (std::size_t i = 0; i < 6 && ftp; ++i) {
      const char c = spec[i];
      const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
      ftp = lower == kFtp[i];
    }
    if (ftp) return kRemoteAddress;
  }
  return spec.size() >= 2 && IsPathSeparator(spec[0]) && IsPathSeparator(spec[1]) ? kNetworkPath : kLocalPath;
}

std::string ParentFolderOfSpec(const std::string& spec, std::int32_t pathKind) {
  if (spec.size() < 2) return {};
  // A separator in the last position does not count: the parent of "/data/" is "/".
  const std::size_t last = LastSeparator(spec, spec.size() - 2);
  if (last == std::string::npos) return {};
  if (pathKind == kNetworkPath && last <= 1) return {};
  return spec.substr(0, last + 1);
}

std::string ExtensionOf(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

#ifndef _WIN32
std::int32_t FindFirstEntry(const std::string& spec, FindRecord& record) {
  record.searchSpec = spec;
  record.pathKind = PathKindOf(spec);
  if (record.pathKind == kRemoteAddress) {
    record.error = false;
    record.errorCode = 0;
    record.hasEntry = false;
    record.search.reset();
    record.handle = kNoSearch;
    return kNoSearch;
  }
  record.parentFolder = ParentFolderOfSpec(spec, record.pathKind);

  if (const std::int32_t refused = CheckPathForSystem(spec); refused != 0) return FailStart(record, refused);
  // The listing splits at the very last separator: "/data/" lists "/data/" for the empty
  // pattern, which matches nothing.
  const std::size_t slash = spec.rfind(kSeparator);
  auto search = std::make_unique<detail::OpenSearch>();
  search->listedFolder = slash == std::string::npos ? std::string() : spec.substr(0, slash + 1);
  const std::string pattern = slash == std::string::npos ? spec : spec.substr(slash + 1);
  if (pattern.empty()) return FailStart(record, win_error::kFileNotFound);

  if (const int failure = ListFolder(search->listedFolder, pattern, *search); failure != 0) {
    return FailStart(record, ListingErrorCode(failure));
  }
  if (search->entries.empty()) {
    const int pending = search->pendingErrno;
    return FailStart(record, pending != 0 ? WindowsErrorFromErrno(pending) : win_error::kFileNotFound);
  }

  FillEntryFields(record, search->entries[0], search->listedFolder);
  search->next = 1;
  record.search = std::move(search);
  SetLastFileError(win_error::kSuccess);
  record.hasEntry = true;
  record.error = false;
  record.errorCode = 0;
  record.handle = NextHandle();
  return record.handle;
}

bool FindNextEntry(FindRecord& record) {
  detail::OpenSearch* search = record.handle == 0 || record.handle == kNoSearch ? nullptr : record.search.get();
  std::int32_t failure = win_error::kInvalidHandle;
  if (search != nullptr) {
    if (search->next < search->entries.size()) {
      FillEntryFields(record, search->entries[search->next++], search->listedFolder);
      SetLastFileError(win_error::kSuccess);
      record.hasEntry = true;
      return true;
    }
    failure = search->pendingErrno != 0 ? WindowsErrorFromErrno(search->pendingErrno) : win_error::kNoMoreFiles;
  }
  RecordStepFailure(record, failure);
  CloseSearch(record);
  // Closing succeeded and cleared LastFileError; a real failure must not read as success.
  if (record.error) SetLastFileError(record.errorCode);
  record.handle = 0;
  return false;
}

bool CloseSearch(FindRecord& record) {
  // Releasing the snapshot cannot fail: the folder itself was closed when it was read.
  record.search.reset();
  SetLastFileError(win_error::kSuccess);
  record.hasEntry = false;
  record.handle = kNoSearch;
  return true;
}

#endif

}  // namespace mailfold::files
