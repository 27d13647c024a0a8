// Directory search: lists the entries of one folder that match a pattern, one at a time,
// describing the current entry in a FindRecord owned by the caller.
//
//   FindRecord record;                               // zeroed; reusable for many searches
//   if (FindFirstEntry(folder + "*.eml", record) != -1) {
//     do { use(record.name); } while (FindNextEntry(record));
//   }
//   CloseSearch(record);                             // always allowed, also after running out
//
// How it reads on POSIX:
//   - The spec is a folder path followed by a pattern (wildcard.h), or the path of one entry.
//     The folder part ends at the last "/"; without one the current folder is listed.
//   - Entries come sorted by name in byte order, "." and ".." first, because POSIX directory
//     order is undefined and scans must be repeatable. "." and ".." are listed wherever a
//     Windows search lists them: in every folder but the root "/", when the pattern matches.
//   - The folder is read once when the search starts; entries made or removed afterwards are
//     not seen by that search.
//   - Attributes and sizes come from the entry's status with links followed (a link to a folder
//     is a folder). For an entry whose status cannot be read (a dangling link, an entry in a
//     folder without search permission) the link itself or the kind the listing reported is
//     used, so the entry is still described.
//   - The alias is the name (there are no 8.3 names); the on-disk size is the size (there is no
//     compression flag). The creation time is the birth time where the file system keeps one,
//     else the last write time.
//   - Path kind 2 (network path) is a spec that begins with "//"; kind 3 is "ftp://" in any case.
//
// On Windows (directory_search_win32.cpp) the listing, attributes, sizes, times, the 8.3 alias
// and the codes are the system's (FindFirstFileExW); "\" and "/" both separate, "\\" begins
// a network path, and roots ("C:\", "\\server\share\") list no "." or "..". The entries are
// sorted as on POSIX, so that scans come out the same on every file system.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "files/file_time.h"

namespace mailfold::files {

inline constexpr std::int32_t kLocalPath = 1;
inline constexpr std::int32_t kNetworkPath = 2;
inline constexpr std::int32_t kRemoteAddress = 3;

// The search handle of a search that could not start, or that was closed.
inline constexpr std::int32_t kNoSearch = -1;

namespace detail {
struct ListedEntry {
  std::string name;
  unsigned char kindFromListing;  // DT_* value of the directory entry (POSIX)
#ifdef _WIN32
  // What the system's listing says about the entry.
  std::uint32_t attributes = 0;
  std::uint64_t size = 0;
  std::uint64_t created = 0, lastAccessed = 0, lastWritten = 0;  // 100 ns since 1601
  std::string alias;
#endif
};
// The snapshot a search walks through.
struct OpenSearch {
  std::string listedFolder;  // the folder part of the spec as given to the system, "" for "."
  std::vector<ListedEntry> entries;
  std::size_t next = 0;
  // A read error met after the entries above (a Windows code), reported once they are used.
  std::int32_t pendingCode = 0;
};
}  // namespace detail

struct FindRecord {
  // True when the last step failed for a reason other than running out of entries.
  bool error = false;
  std::int32_t errorCode = 0;
  bool hasEntry = false;
  std::string searchSpec;
  // kNoSearch after a failed start or CloseSearch, 0 after the search ran out of entries.
  std::int32_t handle = 0;
  std::int32_t pathKind = 0;
  std::string fullPath;
  std::string parentFolder;  // folder part of the spec with its "/", "" when it has none
  std::string name;
  std::string alias;
  std::string extension;  // after the last ".", "" when the name has no dot
  std::int32_t attributes = 0;
  bool isFolder = false;
  bool isFile = false;
  FileTimeInfo created;
  FileTimeInfo lastAccessed;
  FileTimeInfo lastWritten;
  std::uint64_t size = 0;        // 0 for a folder
  std::uint64_t onDiskSize = 0;  // 0 for a folder

  std::unique_ptr<detail::OpenSearch> search;
};

// What each platform's listing gives the search (directory_search_posix.cpp, _win32.cpp).
namespace detail {
// Lists what `spec` (folder part and wildcard pattern) matches into `out`, sorted by
// ListedBefore, with out.listedFolder set: 0, or the Windows code of why it could not.
std::int32_t ListMatches(const std::string& spec, OpenSearch& out);
// The record's fields for one listed entry.
void FillEntryFields(FindRecord& record, const ListedEntry& entry, const std::string& listedFolder);
bool IsDotOrDotDot(const std::string& name);
// "." and ".." first, as Windows lists them, then byte order.
bool ListedBefore(const ListedEntry& a, const ListedEntry& b);
}  // namespace detail

// Starts a search. Returns the handle, or kNoSearch when nothing was found (the error is then
// in the record and in LastFileError; 2 when the folder exists but nothing matches).
std::int32_t FindFirstEntry(const std::string& spec, FindRecord& record);

// Moves to the next entry. False when there is none: the search is then ended and the handle
// is 0. Running out is not an error (error flag false, LastFileError 0); any other failure sets
// the error flag and code and stays in LastFileError.
bool FindNextEntry(FindRecord& record);

// Ends the search; true on success, also when there was nothing to end.
bool CloseSearch(FindRecord& record);

// The path kind of a spec and the folder part that prefixes every full path.
std::int32_t PathKindOf(const std::string& spec);
std::string ParentFolderOfSpec(const std::string& spec, std::int32_t pathKind);

// The text after the last "." of a name, "" without one.
std::string ExtensionOf(const std::string& name);

}  // namespace mailfold::files
