#include "engine/store_port.h"

namespace mailfold::engine {

FolderId EnsureFolder(OpenStore& store, const FolderPath& path) {
  FolderId folder = store.Top();
  FolderPath walked;
  for (const auto& name : path) {
    walked.push_back(name);
    if (const auto found = store.FindFolder(walked)) {
      folder = *found;
      continue;
    }
    folder = store.CreateFolder(folder, name);
  }
  return folder;
}

}  // namespace mailfold::engine
