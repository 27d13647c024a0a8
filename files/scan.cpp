#include "files/scan.h"

#include <sys/stat.h>

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <vector>

#include "files/directory_search.h"
#include "files/platform.h"

namespace mailfold::files {

namespace {

constexpr char kSeparator = '/';
const std::string kQueuedSuffix = " Messages Queued for Conversion.";

struct FolderIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool known = false;
  bool operator==(const FolderIdentity& other) const {
    return known && other.known && device == other.device && inode == other.inode;
  }
};

FolderIdentity IdentityOf(const std::string& folder) {
  struct stat st {};
  if (CheckPathForSystem(folder) != 0 || ::stat(folder.c_str(), &st) != 0) return {};
  return {st.st_dev, st.st_ino, true};
}

std::int32_t NextCounterValue(std::int32_t counter, const char* what) {
  if (counter == std::numeric_limits<std::int32_t>::max()) {
    throw std::overflow_error(std::string(what) + " passed 2147483647");
  }
  return counter + 1;
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
  TreeScan(const std::string& mask, std::int32_t& fileCounter, std::int32_t& folderCounter, ScanScreen& screen)
      : mask_(mask), fileCounter_(fileCounter), folderCounter_(folderCounter), screen_(screen) {}

  void run(const std::string& root) {
    // Depth-first with an explicit stack: tree depth is bounded only by the path length, which
    // would be a lot of recursion.
    std::vector<PendingFolder> pending{{root, 0}};
    bool isRoot = true;
    while (!pending.empty()) {
      PendingFolder folder = std::move(pending.back());
      pending.pop_back();
      if (!isRoot) screen_.yield();
      isRoot = false;

      screen_.yield();
      descent_.resize(folder.depth);
      const FolderIdentity identity = IdentityOf(folder.path);
      if (std::find(descent_.begin(), descent_.end(), identity) != descent_.end()) continue;
      descent_.push_back(identity);

      FindRecord record;
      const std::vector<std::string> subfolders = listSubfolders(folder.path, record);
      queueFiles(folder.path, record);
      if (subfolders.empty()) continue;
      screen_.yield();
      for (auto name = subfolders.rbegin(); name != subfolders.rend(); ++name) {
        pending.push_back({folder.path + *name + kSeparator, folder.depth + 1});
      }
    }
  }

 private:
  std::vector<std::string> listSubfolders(const std::string& folder, FindRecord& record) {
    std::vector<std::string> names;
    if (FindFirstEntry(folder + "*", record) == kNoSearch) return names;
    do {
      screen_.yield();
      const std::string name = CutAtNul(record.name);
      if (IsDotOrDotDot(name)) continue;
      screen_.yield();
      if ((EntryAttributes(folder + name, record) & kAttrFolder) == 0) continue;
      screen_.yield();
      names.push_back(name);
      colFolders().add("Z" + std::to_string(folderCounter_), folder + name);
      folderCounter_ = NextCounterValue(folderCounter_, "folder counter");
    } while (FindNextEntry(record));
    CloseSearch(record);
    return names;
  }

  void queueFiles(const std::string& folder, FindRecord& record) {
    if (FindFirstEntry(folder + mask_, record) == kNoSearch) return;
    screen_.yield();
    do {
      screen_.yield();
      const std::string name = CutAtNul(record.name);
      const std::int32_t attributes = EntryAttributes(folder + name, record);
      if (IsDotOrDotDot(name) || (attributes & kAttrFolder) != 0) continue;
      screen_.yield();
      colFiles().add("K" + std::to_string(fileCounter_), folder + name);
      if (!screen_.deleteSourceChecked()) screen_.setQueuedStatus(std::to_string(fileCounter_) + kQueuedSuffix);
      fileCounter_ = NextCounterValue(fileCounter_, "file counter");
    } while (FindNextEntry(record));
    CloseSearch(record);
  }

  const std::string& mask_;
  std::int32_t& fileCounter_;
  std::int32_t& folderCounter_;
  ScanScreen& screen_;
  std::vector<FolderIdentity> descent_;  // the folders from the root down to the one being scanned
};

}  // namespace

void ScanFolderTree(std::string& folderPath, const std::string& mask, std::int32_t& fileCounter,
                    std::int32_t& folderCounter, ScanScreen& screen) {
  // An empty path would read as the root and queue the whole file system.
  const bool noFolderGiven = folderPath.empty();
  if (noFolderGiven || folderPath.back() != kSeparator) folderPath += kSeparator;
  if (noFolderGiven) {
    SetLastFileError(win_error::kPathNotFound);
    return;
  }
  TreeScan(mask, fileCounter, folderCounter, screen).run(folderPath);
}

}  // namespace mailfold::files
