// How long the window goes without handling its events during a large run: the longest gap
// between two yields while the real screen converts 10,000 message files.
#include <wx/utils.h>

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
  double lastCpu = 0;
  std::string lastStep;
  Gap longest, longestCpu;
  long yields = 0;
  onYield = [&] {
    const auto now = Clock::now();
    const double cpu = ThreadCpuMilliseconds();
    const std::string step = Step() + " | " + StatusLine();
    if (last) {
      const double ms = std::chrono::duration<double, std::milli>(now - *last).count();
      if (ms > longest.milliseconds) longest = {ms, lastStep, step};
      if (cpu - lastCpu > longestCpu.milliseconds) longestCpu = {cpu - lastCpu, lastStep, step};
    }
    ++yields;
    last = now;
    lastCpu = cpu;
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
            << " yields, longest gap " << longest.milliseconds << " ms wall clock (from \"" << longest.before
            << "\" to \"" << longest.after << "\"), " << longestCpu.milliseconds << " ms of the run's own time (from \""
            << longestCpu.before << "\" to \"" << longestCpu.after << "\")\n";
  RecordProperty("longest_gap_ms", std::to_string(longest.milliseconds));
  RecordProperty("longest_gap_cpu_ms", std::to_string(longestCpu.milliseconds));
  // A user notices a window that does not react for a quarter of a second.
  EXPECT_LT(longestCpu.milliseconds, 250.0);
}

}  // namespace
}  // namespace mailfold::test

namespace mailfold::test {
namespace {

TEST_F(GuiTest, TheWindowRepaintsInsideTheYieldsOfARun) {
  for (int m = 0; m < 30; ++m) Write("m" + std::to_string(m) + ".eml");
  int paints = 0;
  frm->Bind(wxEVT_PAINT, [&paints](wxPaintEvent& event) {
    ++paints;
    event.Skip();
  });
  int paintsBeforeImport = -1, paintsAtEnd = -1;
  // Slow the run down to a few display frames per file, as a real store's work would.
  onYield = [] { wxMilliSleep(1); };
  At("/m0.eml", [&] { paintsBeforeImport = paints; });
  At("/m29.eml", [&] { paintsAtEnd = paints; });
  RunModal();
  ASSERT_GE(paintsBeforeImport, 0);
  EXPECT_GT(paintsAtEnd, paintsBeforeImport) << "the window was not repainted while the run worked";
}

}  // namespace
}  // namespace mailfold::test
