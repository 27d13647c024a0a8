#include "app/single_model.h"

namespace mailfold::app {

bool SingleModel::PickSource(Shell& shell) {
  std::string picked = shell.BrowseForFolder(kChooseSourcePrompt);
  if (picked.empty()) return false;
  nextEnabled_ = true;
  sourcePath_ = std::move(picked);
  return true;
}

}  // namespace mailfold::app
