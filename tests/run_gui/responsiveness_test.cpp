// How long the window goes without handling its events during a large run: the longest gap
// between two yields while the real screen converts 10,000 message files.
#include <algorithm>
#include <iostream>

#include "gui_fixture.h"

namespace mailfold::test {
namespace {

using Clock = std::chrono::steady_clock;

struct Gap {
  double milliseconds = 0;
  std::string before, after;  // what the step label and status line showed at both ends
};

TEST_F(GuiTest, TenThousandMessagesKeepTheWindowResponsive) {
  constexpr int kFolders = 20;
  constexpr int kPerFolder = 500;
  for (int f = 0; f < kFolders; ++f)
    for (int m = 0; m < kPerFolder; ++m)
      Write("box" + std::to_string(f) + "/m" + std::to_string(m) + ".eml");

  std::optional<Clock::time_point> last;
  std::string lastStep;
  Gap longest;
  long yields = 0;
  onYield = [&] {
    const auto now = Clock::now();
    const std::string step = Step() + " | " + StatusLine();
    if (last) {
      const double ms = std::chrono::duration<double, std::milli>(now - *last).count();
      if (ms > longest.milliseconds) longest = {ms, lastStep, step};
    }
    ++yields;
    last = now;
    lastStep = step;
  };
  WatchYields();
  // Message boxes wait for the user; the gap they cause is not the run's.
  dialogs.onMessage = [&](const AskedMessage&) { last.reset(); };
  const auto started = Clock::now();
  RunModal();
  const double total = std::chrono::duration<double>(Clock::now() - started).count();

  ASSERT_TRUE(frm->LastRun().has_value());
  EXPECT_EQ(frm->LastRun()->Imported(), kFolders * kPerFolder);
  EXPECT_EQ(StoreRoot(Out("store.pst")).CountItemsDeep(), static_cast<std::size_t>(kFolders * kPerFolder));
  std::cout << "[ measured ] " << kFolders * kPerFolder << " messages in " << total << " s, " << yields
            << " yields, longest gap " << longest.milliseconds << " ms (from \"" << longest.before << "\" to \""
            << longest.after << "\")\n";
  RecordProperty("longest_gap_ms", std::to_string(longest.milliseconds));
  // A user notices a window that does not react for a quarter of a second.
  EXPECT_LT(longest.milliseconds, 250.0);
}

}  // namespace
}  // namespace mailfold::test
