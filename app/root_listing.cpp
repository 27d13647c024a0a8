#include "app/root_listing.h"

#include "files/directory_search.h"

namespace mailfold::app {

std::string RootOf(const std::string& pickedPath) {
  if (!pickedPath.empty() && pickedPath.back() == '/') return pickedPath;
  return pickedPath + "/";
}

namespace {

std::string ListingError(const std::string& root, std::int32_t code) {
  std::string reason;
  switch (code) {
    case 3: reason = "the folder does not exist"; break;
    case 5: reason = "access is denied"; break;
    case 267: reason = "it is not a folder"; break;
    default: reason = "system error " + std::to_string(code); break;
  }
  return "The folder \"" + root + "\" could not be read in full: " + reason + ".";
}

}  // namespace

RootListing ListSubFolders(const std::string& root) {
  RootListing listing;
  files::FindRecord record;
  if (files::FindFirstEntry(root + "*", record) == files::kNoSearch) {
    // 2: the folder exists but holds nothing at all, which is an empty list, not a failure.
    if (record.errorCode != 2) listing.error = ListingError(root, record.errorCode);
    files::CloseSearch(record);
    return listing;
  }
  do {
    if (!record.isFolder || record.name == "." || record.name == "..") continue;
    listing.folders.push_back({record.name, root + record.name});
  } while (files::FindNextEntry(record));
  if (record.error) listing.error = ListingError(root, record.errorCode);
  files::CloseSearch(record);
  return listing;
}

}  // namespace mailfold::app
