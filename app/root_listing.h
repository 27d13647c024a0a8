// The immediate sub-folders of a root folder, as the multiple-folder screen lists them.
#pragma once

#include <string>
#include <vector>

namespace mailfold::app {

struct SubFolder {
  std::string name;
  std::string path;  // root (with its trailing separator) followed by the name
};

struct RootListing {
  std::vector<SubFolder> folders;  // sorted by name, as the directory search gives them
  std::string error;               // why the root could not be listed in full; empty when it could
};

// `root` must end in "/". Lists every sub-folder (links to folders included), not descending.
// Entries that cannot be examined are still listed when the listing calls them folders; a root
// that cannot be opened, or a listing that breaks off, gives what was read plus an error.
RootListing ListSubFolders(const std::string& root);

// The root as the screen keeps it: the picked path with a trailing "/" when it has none.
std::string RootOf(const std::string& pickedPath);

}  // namespace mailfold::app
