// Rebuilding the source folder tree inside a freshly opened store, before any message is
// imported: source folders become relative paths, are sorted parents first, cleaned of repeats
// and created one by one. Inbox and Sent map onto the store's default folders; a few special
// names are never created (IsSpecialFolderPath).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/conversion_events.h"
#include "engine/store_port.h"

namespace mailfold::engine {

// What the folder rules need of an open store. Relative paths are in the backslash form of
// store_paths.h.
struct StoreFolders {
  OpenStore& store;
  std::string rootPath;   // the source root, cut from the front of every source path
  std::string inboxName;  // names of the store's Inbox and Sent Items
  std::string sentName;
};

// Sorts entries lo..hi of `list` in place, ascending by byte-wise comparison (a path sorts before
// every longer path that it begins). Hoare partitioning around the middle entry.
void QuickSortList(std::vector<std::string>& list, long lo, long hi);

// Empties every entry equal to the non-empty entry before it, then moves the non-empty entries
// to the front in their order and cuts the list to them. An all-empty list keeps its size.
void RemoveDuplicates(std::vector<std::string>& list);

// Paths never created as store folders: exactly "\Inbox", and paths ending in "\Calendar",
// "\Contacts", "\Emailed Contacts", "\Tasks", "\Sent", "\Notebook" or "\Conversations".
bool IsSpecialFolderPath(const std::string& relativePath);

// The folder path components of a relative path ("\Inbox\Work" and "Inbox\Work\" give Inbox, Work).
FolderPath ComponentsOf(const std::string& relativePath);

// Stages 1 and 2: the relative paths of `sourceFolders` (POSIX paths as scanned), sorted, without
// repeats. An entry that is no longer a folder repeats the entry before it.
std::vector<std::string> ReadFolderList(const std::vector<std::string>& sourceFolders, const std::string& rootPath,
                                        const std::function<bool(const std::string&)>& folderExists,
                                        ConversionListener& listener);

// Stage 3: creates the store folders for `folderList`. A folder that cannot be created is left
// out: the messages meant for it make it when they are imported, or fail with the cause.
void CreateStoreFolders(std::vector<std::string>& folderList, const StoreFolders& folders,
                        ConversionListener& listener);

}  // namespace mailfold::engine
