#include "engine/folder_hierarchy.h"

#include <array>
#include <stdexcept>
#include <utility>

#include "engine/store_paths.h"

namespace mailfold::engine {
namespace {

bool EndsWith(const std::string& text, std::string_view tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::vector<std::string> SplitAtBackslash(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t pos; (pos = path.find('\\', start)) != std::string::npos; start = pos + 1)
    parts.push_back(path.substr(start, pos - start));
  parts.push_back(path.substr(start));
  return parts;
}

void Tell(ConversionListener& listener, Step step, const std::string& detail) {
  listener.OnEvent(StepChanged{step, detail});
}

// A folder listed at the top of the store (the source root is a drive root, or was given with a
// final separator, so the relative path has no "\"). Only a name the top does not hold yet is
// made; Inbox and Sent stand for the store's own.
void CreateTopLevelFolder(std::string name, const StoreFolders& folders, ConversionListener& listener) {
  if (name == "Inbox") name = folders.inboxName;
  else if (name == "Sent") name = folders.sentName;
  bool found = false;
  std::optional<FolderId> top;
  try {
    top = folders.store.Top();
    for (const auto& child : folders.store.SubfolderNames(*top))
      if (child == name) found = true;
  } catch (const ConversionError&) {
    // An unreadable top makes nothing here; the messages meant for this folder report the cause.
  }
  if (found || name == "Emailed Contacts") return;
  if (name != "Sent" && name != "Inbox" && top) {
    try {
      folders.store.CreateFolder(*top, name);
    } catch (const ConversionError&) {
      // The messages meant for it make it when they are imported, or fail with the cause.
    }
  }
  Tell(listener, Step::FolderCreated, name);
}

void CreateNestedFolder(const std::string& path, const StoreFolders& folders, ConversionListener& listener) {
  if (IsSpecialFolderPath(path)) return;
  const auto parts = SplitAtBackslash(path);
  const std::string leaf = parts.back();
  std::string parent = path.substr(0, path.rfind('\\'));

  if (parent == "Inbox") {
    parent = folders.inboxName;
  } else if (parent == "Sent") {
    parent = folders.sentName;
  } else if (parent.starts_with("Sent\\") && parts[parts.size() - 2] != "Inbox") {
    parent = folders.sentName + parent.substr(4);
  }
  constexpr std::string_view kInboxInside = "\\Inbox\\";
  if (const auto pos = parent.find(kInboxInside); pos != std::string::npos) {
    const std::string after = parent.substr(pos + kInboxInside.size());
    parent = folders.inboxName + "\\" + after.substr(0, after.find(kInboxInside));
  }

  try {
    // A parent that was not created (a special name, a "!" name, a listing gap) is made under its
    // real parents, at most one folder per component.
    const FolderPath parentPath = ComponentsOf(parent);
    const auto found = folders.store.FindFolder(parentPath);
    const FolderId parentFolder = found ? *found : EnsureFolder(folders.store, parentPath);
    try {
      folders.store.CreateFolder(parentFolder, leaf);
    } catch (const ConversionError&) {
      // Already there, or the name is refused: its messages show the outcome.
    }
  } catch (const ConversionError&) {
    return;  // as above: the messages meant for it report the cause
  }
  Tell(listener, Step::FolderCreated, leaf);
}

}  // namespace

void QuickSortList(std::vector<std::string>& list, long lo, long hi) {
  if (lo < 0 || hi >= static_cast<long>(list.size()))
    throw std::out_of_range("QuickSortList: range " + std::to_string(lo) + ".." + std::to_string(hi) +
                            " outside a list of " + std::to_string(list.size()));
  // Recurse into the smaller part and loop on the larger one, so the depth stays logarithmic.
  while (lo < hi) {
    long mid = (lo + hi) / 2;
    if ((lo + hi) % 2 != 0 && mid % 2 != 0) ++mid;  // the half rounds to the even neighbour
    const std::string pivot = list[static_cast<std::size_t>(mid)];
    long i = lo;
    long j = hi;
    while (i <= j) {
      while (list[static_cast<std::size_t>(i)] < pivot) ++i;
      while (pivot < list[static_cast<std::size_t>(j)]) --j;
      if (i <= j) {
        std::swap(list[static_cast<std::size_t>(i)], list[static_cast<std::size_t>(j)]);
        ++i;
        --j;
      }
    }
    if (j - lo < hi - i) {
      if (lo < j) QuickSortList(list, lo, j);
      lo = i;
    } else {
      if (i < hi) QuickSortList(list, i, hi);
      hi = j;
    }
  }
}

void RemoveDuplicates(std::vector<std::string>& list) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i].empty()) continue;
    std::size_t j = i + 1;
    for (; j < list.size() && list[j] == list[i]; ++j) list[j].clear();
    i = j - 1;
  }
  std::vector<std::string> kept;
  for (auto& entry : list)
    if (!entry.empty()) kept.push_back(std::move(entry));
  if (kept.empty()) {
    for (auto& entry : list) entry.clear();
    return;
  }
  list = std::move(kept);
}

bool IsSpecialFolderPath(const std::string& relativePath) {
  static constexpr std::array<std::string_view, 7> kSpecialEndings = {
      "\\Calendar", "\\Contacts", "\\Emailed Contacts", "\\Tasks", "\\Sent", "\\Notebook", "\\Conversations"};
  if (relativePath == "\\Inbox") return true;
  for (const auto ending : kSpecialEndings)
    if (EndsWith(relativePath, ending)) return true;
  return false;
}

FolderPath ComponentsOf(const std::string& relativePath) {
  FolderPath components;
  for (auto& part : SplitAtBackslash(relativePath))
    if (!part.empty()) components.push_back(std::move(part));
  return components;
}

std::vector<std::string> ReadFolderList(const std::vector<std::string>& sourceFolders, const std::string& rootPath,
                                        const std::function<bool(const std::string&)>& folderExists,
                                        ConversionListener& listener) {
  Tell(listener, Step::ReadingFolders, "");
  std::vector<std::string> list(sourceFolders.size() + 1);
  std::size_t count = 0;
  std::string current;
  for (const auto& folder : sourceFolders) {
    // A folder that vanished since the scan repeats the entry before it; the repeat is dropped
    // with the duplicates below.
    if (folderExists(folder)) {
      current = WithoutRoot(BackslashFormOf(folder), rootPath);
      if (!current.empty() && current.back() == '\\') current.pop_back();
    }
    if (!current.empty()) list[count++] = current;
    Tell(listener, Step::FolderRead, current);
  }
  QuickSortList(list, 0, static_cast<long>(list.size()) - 1);
  RemoveDuplicates(list);
  Tell(listener, Step::CreatingFolders, "");
  return list;
}

void CreateStoreFolders(std::vector<std::string>& folderList, const StoreFolders& folders,
                        ConversionListener& listener) {
  const std::size_t count = folderList.size();
  for (std::size_t i = 0; i < count; ++i) {
    std::string& entry = folderList[i];
    if (entry.empty() || Contains(entry, "!")) continue;
    // A path that still carries a drive prefix keeps only the part after it.
    if (const auto pos = entry.find(":\\"); pos != std::string::npos) {
      const std::string after = entry.substr(pos + 2);
      entry = after.substr(0, after.find(":\\"));
    }
    if (Contains(entry, "\\")) CreateNestedFolder(entry, folders, listener);
    else CreateTopLevelFolder(entry, folders, listener);
  }
}

}  // namespace mailfold::engine
