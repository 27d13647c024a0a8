// The directory search on Windows: FindFirstFileExW / FindNextFileW read the folder once into
// the search's snapshot (see directory_search.h for what a search promises).
#include <windows.h>

#include <algorithm>
#include <atomic>

#include "files/directory_search.h"
#include "files/platform.h"

namespace mailfold::files {

namespace {

bool IsDotOrDotDot(const std::string& name) { return name == "." || name == ".."; }

bool ListedBefore(const detail::ListedEntry& a, const detail::ListedEntry& b) {
  const bool aDots = IsDotOrDotDot(a.name);
  const bool bDots = IsDotOrDotDot(b.name);
  if (aDots != bDots) return aDots;
  return a.name < b.name;
}

std::int32_t NextHandle() {
  static std::atomic<std::uint32_t> counter{0};
  const std::uint32_t next = counter.fetch_add(1, std::memory_order_relaxed) % 0x7FFFFFFFu;
  return static_cast<std::int32_t>(next) + 1;
}

std::uint64_t Ticks(const FILETIME& time) {
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

void FillTime(std::uint64_t ticks, FileTimeInfo& info) {
  info.rawCount = ticks;
  double dateValue = 0.0;
  info.error = !DateValueFromFileTime(ticks, dateValue);
  if (!info.error) info.dateValue = dateValue;
}

detail::ListedEntry EntryFrom(const WIN32_FIND_DATAW& data) {
  detail::ListedEntry entry;
  entry.name = Utf8FromWide(data.cFileName);
  entry.kindFromListing = 0;
  entry.attributes = data.dwFileAttributes;
  entry.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  entry.created = Ticks(data.ftCreationTime);
  entry.lastAccessed = Ticks(data.ftLastAccessTime);
  entry.lastWritten = Ticks(data.ftLastWriteTime);
  entry.alias = Utf8FromWide(data.cAlternateFileName);
  return entry;
}

// Reads every entry the system lists for `spec`; 0, or the system's code.
std::int32_t ListFolder(const std::wstring& spec, detail::OpenSearch& out) {
  WIN32_FIND_DATAW data{};
  HANDLE handle = ::FindFirstFileExW(spec.c_str(), FindExInfoStandard, &data, FindExSearchNameMatch, nullptr, 0);
  if (handle == INVALID_HANDLE_VALUE) return static_cast<std::int32_t>(::GetLastError());
  do {
    out.entries.push_back(EntryFrom(data));
  } while (::FindNextFileW(handle, &data));
  const DWORD stop = ::GetLastError();
  ::FindClose(handle);
  if (stop != ERROR_NO_MORE_FILES) out.pendingErrno = static_cast<int>(stop);  // a system code here
  std::sort(out.entries.begin(), out.entries.end(), ListedBefore);
  return 0;
}

void FillEntryFields(FindRecord& record, const detail::ListedEntry& entry, const std::string& listedFolder) {
  record.name = entry.name;
  record.alias = entry.alias.empty() ? entry.name : entry.alias;
  record.extension = ExtensionOf(entry.name);
  record.fullPath = record.parentFolder + entry.name;
  record.attributes = static_cast<std::int32_t>(entry.attributes);
  record.isFolder = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  record.isFile = !record.isFolder;
  FillTime(entry.created, record.created);
  FillTime(entry.lastAccessed, record.lastAccessed);
  FillTime(entry.lastWritten, record.lastWritten);
  record.size = record.isFolder ? 0 : entry.size;
  record.onDiskSize = record.size;
  if (!record.isFolder && (entry.attributes & (FILE_ATTRIBUTE_COMPRESSED | FILE_ATTRIBUTE_SPARSE_FILE)) != 0) {
    std::int32_t code = 0;
    const std::wstring wide = SystemPath(listedFolder + entry.name, code);
    DWORD high = 0;
    const DWORD low = wide.empty() ? INVALID_FILE_SIZE : ::GetCompressedFileSizeW(wide.c_str(), &high);
    if (low != INVALID_FILE_SIZE || ::GetLastError() == NO_ERROR)
      record.onDiskSize = (static_cast<std::uint64_t>(high) << 32) | low;
  }
}

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

}  // namespace

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

  std::size_t slash = spec.size();
  while (slash > 0 && !IsPathSeparator(spec[slash - 1])) --slash;
  auto search = std::make_unique<detail::OpenSearch>();
  search->listedFolder = spec.substr(0, slash);
  if (slash == spec.size()) return FailStart(record, win_error::kFileNotFound);  // no pattern

  std::int32_t refused = 0;
  const std::wstring wide = SystemPath(spec, refused);
  if (wide.empty()) return FailStart(record, refused != 0 ? refused : win_error::kFileNotFound);
  if (const std::int32_t failure = ListFolder(wide, *search); failure != 0) return FailStart(record, failure);
  if (search->entries.empty()) return FailStart(record, win_error::kFileNotFound);

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
    failure = search->pendingErrno != 0 ? static_cast<std::int32_t>(search->pendingErrno) : win_error::kNoMoreFiles;
  }
  RecordStepFailure(record, failure);
  CloseSearch(record);
  if (record.error) SetLastFileError(record.errorCode);
  record.handle = 0;
  return false;
}

bool CloseSearch(FindRecord& record) {
  record.search.reset();
  SetLastFileError(win_error::kSuccess);
  record.hasEntry = false;
  record.handle = kNoSearch;
  return true;
}

}  // namespace mailfold::files
