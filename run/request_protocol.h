// The three requests that reach a running conversion from the conversion screen: the "X" (skip
// the current folder), "Stop Conversion", and the window's close box. They only set flags or
// close the screen; the run looks at the flags at fixed points.
#pragma once

#include "engine/conversion_screen.h"

namespace mailfold::run {

class RequestProtocol {
 public:
  explicit RequestProtocol(engine::ConversionScreen& screen) : screen_(screen) {}

  // "X": skip the rest of the folder being converted (asked for confirmation after the current file).
  void SkipPressed();
  // "Stop Conversion": stop the whole run (asked for confirmation after the current file). With a
  // skip still pending the screen closes at once, and the run ends without further questions.
  void StopPressed();
  // The close box, in every way of closing: the screen closes at once without a question. A run
  // in progress ends at its next test point, committing its store, and shows no closing message.
  void CloseRequested();

 private:
  engine::ConversionScreen& screen_;
};

}  // namespace mailfold::run
