#include "files/existence.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>

#include "files/directory_search.h"
#include "files/platform.h"

namespace mailfold::files {

namespace {

constexpr char kSeparator = kPathSeparator;

bool IsBlank(char c) { return c == ' '; }

std::string TrimBlanks(const std::string& path) {
  std::size_t begin = 0;
  std::size_t end = path.size();
  while (begin < end && IsBlank(path[begin])) ++begin;
  while (end > begin && IsBlank(path[end - 1])) --end;
  return path.substr(begin, end - begin);
}

bool IsAnySeparator(char c) { return c == '\\' || c == '/'; }

// Only plain files are made writable before the delete: chmod would follow a link to its
// target, and a folder is never deleted here, so neither may be changed.
void MakeWritableIfPlainFile(const std::string& path) {
#ifdef _WIN32
  std::int32_t code = 0;
  const std::wstring wide = SystemPath(path, code);
  const DWORD attributes = wide.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(wide.c_str());
  constexpr DWORD kNotPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & kNotPlain) == 0 && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
    ::SetFileAttributesW(wide.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
#else
  struct stat st {};
  if (CheckPathForSystem(path) == 0 && ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    SetAttributes(path, kAttrNormal);
  }
#endif
}

std::int32_t DeleteEntry(const std::string& path) {
  if (const std::int32_t refused = CheckPathForSystem(path); refused != 0) {
    SetLastFileError(refused);
    return refused;
  }
#ifdef _WIN32
  std::int32_t code = 0;
  const std::wstring wide = SystemPath(path, code);
  if (wide.empty()) {
    SetLastFileError(code);
    return code;
  }
  if (!::DeleteFileW(wide.c_str())) return RecordSystemError();
#else
  if (::unlink(path.c_str()) != 0) return RecordPathError(errno, path);
#endif
  SetLastFileError(win_error::kSuccess);
  return win_error::kSuccess;
}

}  // namespace

std::string AddBackslash(const std::string& path) {
  std::string trimmed = TrimBlanks(path);
  if (trimmed.empty() || !IsPathSeparator(trimmed.back())) trimmed += kSeparator;
  return trimmed;
}

bool IsRootPath(const std::string& path) {
  std::string s = TrimBlanks(path);
  if (s.empty()) return false;
  if (s.find_first_not_of(kSeparator) == std::string::npos) return true;
  if (!IsAnySeparator(s.back())) s += kSeparator;
  std::size_t separators = 0;
  for (const char c : s) separators += IsAnySeparator(c) ? 1 : 0;
  if (s.size() >= 2 && IsAnySeparator(s[0]) && IsAnySeparator(s[1])) return separators <= 3;
  if (s.size() >= 2 && s[1] == ':') return separators <= 1;
  return false;
}

bool FileExists(const std::string& path) {
  const std::int32_t attributes = GetAttributes(path);
  if (attributes != kInvalidAttributes && (attributes & kAttrFolder) == 0) return true;

  // The entry may still show in its folder's listing when its own status cannot be read.
  // "*" and "?" are ordinary name characters here, so the listing must show the name itself,
  // not merely something the name matches as a pattern.
  bool found = false;
  const std::string name = LastPathComponent(path);
  FindRecord record;
  if (FindFirstEntry(path, record) != kNoSearch) {
    do {
      if (record.name == name) {
        found = (record.attributes & kAttrFolder) == 0;
        break;
      }
    } while (FindNextEntry(record));
  }
  CloseSearch(record);
  SetLastFileError(win_error::kSuccess);
  return found;
}

bool FolderExists(const std::string& path) {
  SetLastFileError(win_error::kSuccess);
  // A blank path would become "/" below and report the root folder.
  if (TrimBlanks(path).empty()) return false;
  const std::string folder = AddBackslash(path);

  const std::int32_t attributes = GetAttributes(path);
  bool exists = attributes != kInvalidAttributes && (attributes & kAttrFolder) != 0;
  if (!exists) {
    // Any listable folder shows at least "." (or, for the root, its entries).
    FindRecord record;
    exists = FindFirstEntry(folder + "*.*", record) != kNoSearch;
    CloseSearch(record);
  }
  SetLastFileError(win_error::kSuccess);
  return exists;
}

std::int32_t DeleteFileForced(const std::string& path) {
  if (!path.empty() && IsPathSeparator(path.back())) {
    if (IsRootPath(path)) {
      SetLastFileError(win_error::kUnknown);
      return win_error::kUnknown;
    }
    const std::string withoutSeparator = path.substr(0, path.size() - 1);
    MakeWritableIfPlainFile(withoutSeparator);
    return DeleteEntry(withoutSeparator);
  }
  MakeWritableIfPlainFile(path);
  return DeleteEntry(path);
}

}  // namespace mailfold::files
