// The three requests that reach a running conversion from the conversion screen: the "X" (skip
// the current folder), "Stop Conversion", and the window's close box. They only set requests or
// close the screen; the run looks at the requests at fixed points.
#pragma once

#include "engine/run_requests.h"
#include "run/conversion_view.h"

namespace mailfold::run {

class RequestProtocol {
 public:
  RequestProtocol(engine::RunRequests& requests, ConversionView& view) : requests_(requests), view_(view) {}

  // "X": skip the rest of the folder being converted (asked for confirmation after the current file).
  void SkipPressed();
  // "Stop Conversion": stop the whole run (asked for confirmation after the current file). With a
  // skip still pending the screen closes at once, and the run ends without further questions.
  void StopPressed();
  // The close box, in every way of closing: the screen closes at once without a question. A run
  // in progress ends at its next test point (a scan at once), committing its store, and shows no
  // closing message.
  void CloseRequested();

 private:
  engine::RunRequests& requests_;
  ConversionView& view_;
};

}  // namespace mailfold::run
