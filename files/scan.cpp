#include "files/scan.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "files/directory_search.h"
#include "files/platform.h"

namespace mailfold::files {

namespace {

constexpr char kSeparator = kPathSeparator;

struct FolderIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool known = false;
  bool operator==(const FolderIdentity& other) const {
    return known && other.known && device == other.device && inode == other.inode;
  }
};

FolderIdentity IdentityOf(const std::string& folder) {
  FolderIdentity identity;
  identity.known = FolderIdentityOf(folder, identity.device, identity.inode);
  return identity;
}

std::string CutAtNul(const std::string& name) { return name.substr(0, name.find('\0')); }

bool IsDotOrDotDot(const std::string& name) { return name == "." || name == ".."; }

// The attribute word of an entry: its own status, or, when that cannot be read, the word its
// folder listing gave. The failure value has every bit set and would otherwise pass for a
// folder, so a dangling link or a vanished entry would be listed as a folder.
std::int32_t EntryAttributes(const std::string& path, const FindRecord& record) {
  const std::int32_t attributes = GetAttributes(path);
  return attributes != kInvalidAttributes ? attributes : record.attributes;
}

struct PendingFolder {
  std::string path;  // ends with "/"
  std::size_t depth;
};

class TreeScan {
 public:
  TreeScan(const std::string& mask, ScanObserver& observer, ScanResult& result)
      : mask_(mask), observer_(observer), result_(result) {}

  void run(const std::string& root) {
    // Depth-first with an explicit stack: tree depth is bounded only by the path length, which
    // would be a lot of recursion.
    std::vector<PendingFolder> pending{{root, 0}};
    while (!pending.empty()) {
      if (observer_.ShouldStop()) {
        result_.stoppedEarly = true;
        return;
      }
      PendingFolder folder = std::move(pending.back());
      pending.pop_back();
      descent_.resize(folder.depth);
      const FolderIdentity identity = IdentityOf(folder.path);
      if (std::find(descent_.begin(), descent_.end(), identity) != descent_.end()) continue;
      descent_.push_back(identity);

      FindRecord record;
      const std::vector<std::string> subfolders = listSubfolders(folder.path, record);
      queueFiles(folder.path, record);
      for (auto name = subfolders.rbegin(); name != subfolders.rend(); ++name)
        pending.push_back({folder.path + *name + kSeparator, folder.depth + 1});
    }
  }

 private:
  // Every folder lists at least "." and "..": a listing that fails, or stops short, is an error.
  std::vector<std::string> listSubfolders(const std::string& folder, FindRecord& record) {
    std::vector<std::string> names;
    if (FindFirstEntry(folder + "*", record) == kNoSearch) {
      result_.errors.push_back({folder, LastFileError()});
      return names;
    }
    do {
      const std::string name = CutAtNul(record.name);
      if (IsDotOrDotDot(name)) continue;
      if ((EntryAttributes(folder + name, record) & kAttrFolder) == 0) continue;
      names.push_back(name);
      std::string path = folder + name;
      result_.folders.push_back(std::move(path));
    } while (FindNextEntry(record));
    if (record.error) result_.errors.push_back({folder, record.errorCode});
    CloseSearch(record);
    return names;
  }

  void queueFiles(const std::string& folder, FindRecord& record) {
    if (FindFirstEntry(folder + mask_, record) == kNoSearch) return;  // nothing matches
    do {
      if (observer_.ShouldStop()) {
        result_.stoppedEarly = true;
        return;
      }
      const std::string name = CutAtNul(record.name);
      const std::int32_t attributes = EntryAttributes(folder + name, record);
      if (IsDotOrDotDot(name) || (attributes & kAttrFolder) != 0) continue;
      if (result_.files.size() >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        throw std::overflow_error("more than 2147483647 files queued");
      result_.files.push_back(folder + name);
      observer_.FileQueued(static_cast<std::int32_t>(result_.files.size()));
    } while (FindNextEntry(record));
    CloseSearch(record);
  }

  const std::string& mask_;
  ScanObserver& observer_;
  ScanResult& result_;
  std::vector<FolderIdentity> descent_;  // the folders from the root down to the one being scanned
};

}  // namespace

ScanResult ScanFolderTree(const std::string& folderPath, const std::string& mask, ScanObserver& observer) {
  ScanResult result;
  result.root = folderPath;
  // An empty path would read as the root and queue the whole file system.
  if (folderPath.empty()) {
    result.root = std::string(1, kSeparator);
    result.errors.push_back({folderPath, win_error::kPathNotFound});
    SetLastFileError(win_error::kPathNotFound);
    return result;
  }
  if (!IsPathSeparator(result.root.back())) result.root += kSeparator;
  TreeScan(mask, observer, result).run(result.root);
  return result;
}

}  // namespace mailfold::files
