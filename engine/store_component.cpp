#include "engine/store_component.h"

namespace mailfold::engine {

std::string FolderDoesNotExistDescription(const std::string& missingName) {
  return "Folder \"" + missingName + "\" does not exist";
}

}  // namespace mailfold::engine
