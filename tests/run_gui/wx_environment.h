// Starts wxWidgets once for the whole test binary. GUI tests need a display (ctest runs them under
// xvfb-run); without one they skip.
#pragma once

#include <gtest/gtest.h>

namespace mailfold::test {

// True when wx started and a display is available.
bool WxStarted();

}  // namespace mailfold::test

#define MAILFOLD_REQUIRE_DISPLAY()                                                           \
  do {                                                                                        \
    if (!::mailfold::test::WxStarted())                                                       \
      GTEST_SKIP() << "no display: run the GUI tests under xvfb-run (ctest does)";            \
  } while (0)
