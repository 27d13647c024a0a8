// Rebuilding the source folder tree inside a freshly opened store, before any message is
// imported: source folders become relative paths, are sorted parents first, cleaned of repeats
// and created one by one. Inbox and Sent map onto the store's default folders; a few special
// names are never created (IsSpecialFolderPath).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/conversion_screen.h"
#include "engine/store_component.h"

namespace mailfold::engine {

// What the folder rules need of an open store. Paths and names are in the backslash form of
// store_paths.h.
struct OpenStore {
  StoreSession& session;
  std::string entryId;
  std::string storeName;  // display name: every folder path starts with "\\" + storeName
  std::string rootPath;   // the source root, cut from the front of every source path
  std::string inboxName;  // display names of the default Inbox and Sent Items
  std::string sentName;
};

// Sorts entries lo..hi of `list` in place, ascending by byte-wise comparison (a path sorts before
// every longer path that it begins). Hoare partitioning around the middle entry; `onStep` runs
// once per partition so that a long sort keeps the screen responsive.
void QuickSortList(std::vector<std::string>& list, long lo, long hi, const std::function<void()>& onStep = {});

// Empties every entry equal to the non-empty entry before it, then moves the non-empty entries
// to the front in their order and cuts the list to them. An all-empty list keeps its size.
void RemoveDuplicates(std::vector<std::string>& list);

// Paths never created as store folders: exactly "\Inbox", and paths ending in "\Calendar",
// "\Contacts", "\Emailed Contacts", "\Tasks", "\Sent", "\Notebook" or "\Conversations".
bool IsSpecialFolderPath(const std::string& relativePath);

// Stages 1 and 2: the relative paths of `sourceFolders` (POSIX paths as scanned), sorted, without
// repeats. An entry that is no longer a folder repeats the entry before it. May throw; the
// caller reports that as a failure to prepare the store.
std::vector<std::string> ReadFolderList(const std::vector<std::string>& sourceFolders, const std::string& rootPath,
                                        const std::function<bool(const std::string&)>& folderExists,
                                        ConversionScreen& screen);

// Stage 3: creates the store folders for `folderList`. Never throws: a folder that cannot be
// created is left out (the messages meant for it create it when they are imported).
void CreateStoreFolders(std::vector<std::string>& folderList, const OpenStore& store, ConversionScreen& screen);

// The store folder path for a relative path: "\\" + storeName + relative, with a "\" between
// them unless the relative path starts with one. An empty relative path is the root folder.
std::string StoreFolderPath(const OpenStore& store, const std::string& relativePath);

// The folder at `relativePath`, with every missing folder on the way created under its real
// parent. Bounded by the number of components; throws StoreError when a folder can neither be
// found nor created.
std::shared_ptr<StoreFolder> EnsureFolderPath(const OpenStore& store, const std::string& relativePath);

}  // namespace mailfold::engine
