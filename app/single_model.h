// The single-folder screen's state and rules, free of any window: the source folder path and
// whether Next is enabled.
#pragma once

#include <string>

#include "app/shell.h"

namespace mailfold::app {

class SingleModel {
 public:
  const std::string& SourcePath() const { return sourcePath_; }
  bool NextEnabled() const { return nextEnabled_; }

  // "Select...": a non-empty pick replaces the path (kept exactly as the browser returned it)
  // and enables Next for good; a cancelled browser changes nothing. True when the path changed.
  bool PickSource(Shell& shell);

  // Next opens the conversion screen only when the box holds a path.
  bool CanOpenConversion() const { return !sourcePath_.empty(); }

 private:
  std::string sourcePath_;
  bool nextEnabled_ = false;
};

}  // namespace mailfold::app
