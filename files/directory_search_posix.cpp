// The directory search on POSIX: opendir / readdir read the folder once into the search's
// snapshot (see directory_search.h for what a search promises); statx gives each entry's fields.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "files/directory_search.h"
#include "files/platform.h"
#include "files/wildcard.h"

namespace mailfold::files {

namespace {

constexpr char kSeparator = '/';

// The root folder is the one whose ".." is itself.
bool IsRootFolder(DIR* dir) {
  struct stat self {};
  struct stat parent {};
  const int fd = ::dirfd(dir);
  if (fd < 0 || ::fstat(fd, &self) != 0 || ::fstatat(fd, "..", &parent, 0) != 0) return false;
  return self.st_dev == parent.st_dev && self.st_ino == parent.st_ino;
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
      out.pendingCode = errno == 0 ? 0 : WindowsErrorFromErrno(errno);
      break;
    }
    std::string name(entry->d_name);
    if (isRoot && detail::IsDotOrDotDot(name)) continue;
    if (!MatchesWildcard(pattern, name)) continue;
    out.entries.push_back({std::move(name), entry->d_type});
  }
  ::closedir(dir);
  std::sort(out.entries.begin(), out.entries.end(), detail::ListedBefore);
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


// A missing folder is "path not found" on Windows; a folder that holds no match is "file not found".
std::int32_t ListingErrorCode(int errnoValue) {
  return errnoValue == ENOENT ? win_error::kPathNotFound : WindowsErrorFromErrno(errnoValue);
}

}  // namespace

namespace detail {

std::int32_t ListMatches(const std::string& spec, OpenSearch& out) {
  if (const std::int32_t refused = CheckPathForSystem(spec); refused != 0) return refused;
  // The listing splits at the very last separator: "/data/" lists "/data/" for the empty
  // pattern, which matches nothing.
  const std::size_t slash = spec.rfind(kSeparator);
  out.listedFolder = slash == std::string::npos ? std::string() : spec.substr(0, slash + 1);
  const std::string pattern = slash == std::string::npos ? spec : spec.substr(slash + 1);
  if (pattern.empty()) return win_error::kFileNotFound;
  if (const int failure = ListFolder(out.listedFolder, pattern, out); failure != 0) return ListingErrorCode(failure);
  return 0;
}

void FillEntryFields(FindRecord& record, const ListedEntry& entry, const std::string& listedFolder) {
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

}  // namespace detail

}  // namespace mailfold::files
