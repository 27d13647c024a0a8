#include "files/directory_search.h"

#include <algorithm>
#include <atomic>

#include "files/platform.h"

namespace mailfold::files {

namespace detail {

bool IsDotOrDotDot(const std::string& name) { return name == "." || name == ".."; }

// "." and ".." first, as Windows lists them, then byte order.
bool ListedBefore(const ListedEntry& a, const ListedEntry& b) {
  const bool aDots = IsDotOrDotDot(a.name);
  const bool bDots = IsDotOrDotDot(b.name);
  if (aDots != bDots) return aDots;
  return a.name < b.name;
}

}  // namespace detail

namespace {

// Handles only tell searches apart; they are never 0 or -1, which mean "ran out" and "none".
std::int32_t NextHandle() {
  static std::atomic<std::uint32_t> counter{0};
  const std::uint32_t next = counter.fetch_add(1, std::memory_order_relaxed) % 0x7FFFFFFFu;
  return static_cast<std::int32_t>(next) + 1;
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

}  // namespace

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

  auto search = std::make_unique<detail::OpenSearch>();
  if (const std::int32_t failure = detail::ListMatches(spec, *search); failure != 0) return FailStart(record, failure);
  if (search->entries.empty()) {
    return FailStart(record, search->pendingCode != 0 ? search->pendingCode : win_error::kFileNotFound);
  }

  detail::FillEntryFields(record, search->entries[0], search->listedFolder);
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
      detail::FillEntryFields(record, search->entries[search->next++], search->listedFolder);
      SetLastFileError(win_error::kSuccess);
      record.hasEntry = true;
      return true;
    }
    failure = search->pendingCode != 0 ? search->pendingCode : win_error::kNoMoreFiles;
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


}  // namespace mailfold::files
