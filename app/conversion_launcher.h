// Opens the conversion screen modally over a selection screen. The screens do not know the
// conversion screen itself: the program hands them the launcher that builds it, tests their own.
#pragma once

#include "run/selection.h"

class wxWindow;

namespace mailfold::app {

class ConversionLauncher {
 public:
  virtual ~ConversionLauncher() = default;
  // Shows the conversion screen modally and returns when it has closed. `owner` null: modal to
  // the whole application. `selection` is read when the user presses Start.
  virtual void ShowConversionScreen(wxWindow* owner, run::Selection& selection) = 0;
};

}  // namespace mailfold::app
