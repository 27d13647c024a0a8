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

// A folder listed at the top of the store (the source root is a drive root, or was given with a
// final separator, so the relative path has no "\").
void CreateTopLevelFolder(std::string name, const OpenStore& store, ConversionScreen& screen) {
  std::string found;
  std::shared_ptr<StoreFolder> root;
  try {
    root = store.session.GetStoreFromID(store.entryId)->IPMRootFolder();
  } catch (const std::exception&) {
    // Without the root nothing can be looked up or created; the steps below fail quietly.
  }
  if (name == "Inbox") name = store.inboxName;
  else if (name == "Sent") name = store.sentName;
  if (root) {
    try {
      for (const auto& child : root->Folders()) {
        screen.ProcessPendingEvents();
        if (child->Name() == name) found = name;
      }
    } catch (const std::exception&) {
    }
  }
  if (found.empty() && name != "Emailed Contacts") {
    if (name != "Sent" && name != "Inbox" && root) {
      try {
        root->AddFolder(name, kMailFolderKind);
      } catch (const std::exception&) {
      }
    }
    screen.SetCurrentStep("Creating Outlook Folders... " + name);
  }
  screen.ProcessPendingEvents();
}

void CreateNestedFolder(const std::string& path, const OpenStore& store, ConversionScreen& screen) {
  if (IsSpecialFolderPath(path)) return;
  const auto parts = SplitAtBackslash(path);
  const std::string leaf = parts.back();
  std::string parent = path.substr(0, path.rfind('\\'));

  if (parent == "Inbox") {
    parent = store.inboxName;
  } else if (parent == "Sent") {
    parent = store.sentName;
  } else if (parent.starts_with("Sent\\") && parts[parts.size() - 2] != "Inbox") {
    parent = store.sentName + parent.substr(4);
  }
  constexpr std::string_view kInboxInside = "\\Inbox\\";
  if (const auto pos = parent.find(kInboxInside); pos != std::string::npos) {
    const std::string after = parent.substr(pos + kInboxInside.size());
    parent = store.inboxName + "\\" + after.substr(0, after.find(kInboxInside));
  }

  std::shared_ptr<StoreFolder> parentFolder;
  try {
    parentFolder = store.session.GetFolderFromPath(StoreFolderPath(store, parent));
  } catch (const std::exception&) {
    // The parent was not created (a special name, a "!" name, or a listing gap): make the
    // missing folders under their real parents, at most one per component.
    try {
      parentFolder = EnsureFolderPath(store, parent);
    } catch (const std::exception&) {
      return;
    }
  }
  screen.ProcessPendingEvents();
  try {
    parentFolder->AddFolder(leaf, kMailFolderKind);
  } catch (const std::exception&) {
    // Already there, or the name is refused: its messages show the outcome.
  }
  screen.ProcessPendingEvents();
  screen.SetCurrentStep("Creating Outlook Folders... " + leaf);
}

}  // namespace

void QuickSortList(std::vector<std::string>& list, long lo, long hi, const std::function<void()>& onStep) {
  if (lo < 0 || hi >= static_cast<long>(list.size()))
    throw std::out_of_range("QuickSortList: range " + std::to_string(lo) + ".." + std::to_string(hi) +
                            " outside a list of " + std::to_string(list.size()));
  // Recurse into the smaller part and loop on the larger one, so the depth stays logarithmic.
  while (lo < hi) {
    if (onStep) onStep();
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
      if (lo < j) QuickSortList(list, lo, j, onStep);
      lo = i;
    } else {
      if (i < hi) QuickSortList(list, i, hi, onStep);
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

std::vector<std::string> ReadFolderList(const std::vector<std::string>& sourceFolders, const std::string& rootPath,
                                        const std::function<bool(const std::string&)>& folderExists,
                                        ConversionScreen& screen) {
  screen.SetCurrentStep("Reading Folder(s)...");
  std::vector<std::string> list(sourceFolders.size() + 1);
  std::size_t count = 0;
  std::string current;
  for (const auto& folder : sourceFolders) {
    screen.ProcessPendingEvents();
    // A folder that vanished since the scan repeats the entry before it; the repeat is dropped
    // with the duplicates below.
    if (folderExists(folder)) {
      current = WithoutRoot(BackslashFormOf(folder), rootPath);
      if (!current.empty() && current.back() == '\\') current.pop_back();
    }
    if (!current.empty()) list[count++] = current;
    screen.SetCurrentStep("Reading Folder(s)... " + current);
  }
  QuickSortList(list, 0, static_cast<long>(list.size()) - 1, [&screen] { screen.ProcessPendingEvents(); });
  screen.ProcessPendingEvents();
  RemoveDuplicates(list);
  screen.ProcessPendingEvents();
  screen.SetCurrentStep("Creating Outlook Folders...");
  return list;
}

void CreateStoreFolders(std::vector<std::string>& folderList, const OpenStore& store, ConversionScreen& screen) {
  const std::size_t count = folderList.size();
  for (std::size_t i = 0; i < count; ++i) {
    std::string& entry = folderList[i];
    if (entry.empty() || Contains(entry, "!")) continue;
    screen.ProcessPendingEvents();
    // A path that still carries a drive prefix keeps only the part after it.
    if (const auto pos = entry.find(":\\"); pos != std::string::npos) {
      const std::string after = entry.substr(pos + 2);
      entry = after.substr(0, after.find(":\\"));
    }
    try {
      if (Contains(entry, "\\")) CreateNestedFolder(entry, store, screen);
      else CreateTopLevelFolder(entry, store, screen);
    } catch (const std::exception&) {
      // Screen calls do not fail in practice; a folder that fails is simply left out.
    }
  }
}

std::string StoreFolderPath(const OpenStore& store, const std::string& relativePath) {
  if (relativePath.starts_with('\\')) return "\\\\" + store.storeName + relativePath;
  return "\\\\" + store.storeName + "\\" + relativePath;
}

std::shared_ptr<StoreFolder> EnsureFolderPath(const OpenStore& store, const std::string& relativePath) {
  auto folder = store.session.GetFolderFromPath("\\\\" + store.storeName);
  for (const auto& name : SplitAtBackslash(relativePath)) {
    if (name.empty()) continue;
    std::shared_ptr<StoreFolder> next;
    for (const auto& child : folder->Folders()) {
      if (child->Name() == name) {
        next = child;
        break;
      }
    }
    folder = next ? next : folder->AddFolder(name, kMailFolderKind);
  }
  return folder;
}

}  // namespace mailfold::engine
