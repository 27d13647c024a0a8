// The start screen's state and rules, free of any window: the conversion mode, which option is
// drawn bold, where Next leads, and the exit confirmation.
#pragma once

#include "app/shell.h"
#include "engine/folder_conversion.h"

namespace mailfold::app {

inline constexpr const char* kExitQuestion = "Are you sure you want to exit now?";

enum class NextScreen { SingleFolder, MultipleFolders };

class StartModel {
 public:
  engine::ConversionMode Mode() const { return mode_; }
  void SelectSingle() { mode_ = engine::ConversionMode::SingleFolder; }
  void SelectMultiple() { mode_ = engine::ConversionMode::MultipleFolders; }

  // The selected option's caption is bold, the other one regular.
  bool SingleBold() const { return mode_ == engine::ConversionMode::SingleFolder; }
  bool MultipleBold() const { return mode_ == engine::ConversionMode::MultipleFolders; }

  NextScreen Next() const {
    return mode_ == engine::ConversionMode::SingleFolder ? NextScreen::SingleFolder : NextScreen::MultipleFolders;
  }

  // Asks "Are you sure you want to exit now?"; true when the user answered Yes.
  static bool ConfirmExit(Shell& shell);

 private:
  engine::ConversionMode mode_ = engine::ConversionMode::SingleFolder;
};

}  // namespace mailfold::app
