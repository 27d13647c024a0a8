// The directory search on Windows: FindFirstFileExW / FindNextFileW read the folder once into
// the search's snapshot (see directory_search.h for what a search promises).
#include <windows.h>

#include <algorithm>

#include "files/directory_search.h"
#include "files/platform.h"

namespace mailfold::files {

namespace {

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
  if (stop != ERROR_NO_MORE_FILES) out.pendingCode = static_cast<std::int32_t>(stop);
  std::sort(out.entries.begin(), out.entries.end(), detail::ListedBefore);
  return 0;
}

}  // namespace

namespace detail {

std::int32_t ListMatches(const std::string& spec, OpenSearch& out) {
  std::size_t slash = spec.size();
  while (slash > 0 && !IsPathSeparator(spec[slash - 1])) --slash;
  out.listedFolder = spec.substr(0, slash);
  if (slash == spec.size()) return win_error::kFileNotFound;  // no pattern
  std::int32_t refused = 0;
  const std::wstring wide = SystemPath(spec, refused);
  if (wide.empty()) return refused != 0 ? refused : win_error::kFileNotFound;
  return ListFolder(wide, out);
}

void FillEntryFields(FindRecord& record, const ListedEntry& entry, const std::string& listedFolder) {
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

}  // namespace detail

}  // namespace mailfold::files
