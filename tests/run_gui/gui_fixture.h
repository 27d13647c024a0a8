// The real conversion screen on a temporary source tree with the in-memory store: opened modally,
// driven by wx button and close events queued as a user's clicks would be, with scripted dialogs.
#pragma once

#include <wx/button.h>
#include <wx/gauge.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/timer.h>

#include <time.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/conversion_fixture.h"
#include "run/frm_migrate_all.h"
#include "run/selection.h"
#include "scripted_dialogs.h"
#include "wx_environment.h"

namespace mailfold::test {

class ListSelection : public run::Selection {
 public:
  engine::ConversionMode mode = engine::ConversionMode::SingleFolder;
  std::string source;
  std::vector<run::FolderRow> rows;
  std::vector<int> marked;
  std::string output;

  engine::ConversionMode Mode() const override { return mode; }
  std::string SourcePath() const override { return source; }
  int RowCount() const override { return static_cast<int>(rows.size()); }
  run::FolderRow Row(int index) const override { return rows.at(static_cast<std::size_t>(index)); }
  void MarkRowTakenUp(int index) override { marked.push_back(index); }
  std::string OutputFolder() const override { return output; }
};

// CPU time of this thread: what it spent itself between two moments, whatever else the
// machine is doing (wall-clock gaps on a loaded build machine mostly measure the scheduler).
inline double ThreadCpuMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

// How long the window thread goes without turning its event loop while a run works: a timer
// ticks every few milliseconds, and the longest stretch between two ticks is kept, in wall-clock
// time and in the window thread's own CPU time (what it spent itself, whatever else the machine
// was doing).
class EventLoopGaps {
 public:
  EventLoopGaps() {
    timer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { Tick(); });
  }
  void Start() {
    last_.reset();
    timer_.Start(5);
  }
  void Stop() { timer_.Stop(); }
  // A message box waits for the user; the gap it causes is not the run's.
  void Forget() { last_.reset(); }

  double longestWallMs = 0, longestCpuMs = 0;
  long ticks = 0;

 private:
  void Tick() {
    const auto now = std::chrono::steady_clock::now();
    const double cpu = ThreadCpuMilliseconds();
    if (last_) {
      longestWallMs = std::max(longestWallMs, std::chrono::duration<double, std::milli>(now - *last_).count());
      longestCpuMs = std::max(longestCpuMs, cpu - lastCpu_);
    }
    last_ = now;
    lastCpu_ = cpu;
    ++ticks;
  }

  wxTimer timer_;
  std::optional<std::chrono::steady_clock::time_point> last_;
  double lastCpu_ = 0;
};

// A user's click: only a button that is shown and enabled can be clicked.
inline void QueueButtonEvent(wxButton* button);
inline void Click(wxButton* button) {
  ASSERT_TRUE(button->IsShown()) << button->GetName() << " is hidden";
  ASSERT_TRUE(button->IsEnabled()) << button->GetName() << " is disabled";
  QueueButtonEvent(button);
}
// The event a click sends, whatever the button's state.
inline void QueueButtonEvent(wxButton* button) {
  wxCommandEvent click(wxEVT_BUTTON, button->GetId());
  click.SetEventObject(button);
  button->GetEventHandler()->QueueEvent(click.Clone());
}

// What the buttons looked like at one moment.
struct ButtonStates {
  bool startEnabled, startShown, skipEnabled, stopEnabled, stopShown;
  bool operator==(const ButtonStates&) const = default;
};

class GuiTest : public ConversionTest {
 protected:
  ListSelection selection;
  ScriptedDialogs dialogs;
  run::FrmMigateAll* frm = nullptr;

 private:
  struct ScriptStep {
    std::string marker;
    std::function<void()> action;
    bool done;
  };
  std::vector<ScriptStep> script_;

 protected:

  void SetUp() override {
    MAILFOLD_REQUIRE_DISPLAY();
    ConversionTest::SetUp();
    selection.source = Src();
    selection.output = Out("");
    dialogs.saveAsAnswer = Out("store.pst");
    frm = new run::FrmMigateAll(nullptr, selection, stores, dialogs, engine::FileServices::System(), FixedTime,
                                stores.Reader());
  }
  void TearDown() override {
    if (frm) frm->Destroy();
    frm = nullptr;
    ConversionTest::TearDown();
  }

  // Five folders f1..f5 below the source, `perFolder` messages each, listed in that order.
  void MakeRows(std::initializer_list<int> checkedRows, int perFolder = 4) {
    selection.mode = engine::ConversionMode::MultipleFolders;
    for (int i = 1; i <= 5; ++i) {
      const std::string name = "f" + std::to_string(i);
      for (int m = 0; m < perFolder; ++m) Write(name + "/m" + std::to_string(m) + ".eml");
      const bool checked = std::find(checkedRows.begin(), checkedRows.end(), i) != checkedRows.end();
      selection.rows.push_back({checked, name, Src(name)});
    }
  }

  void ClickCloseBox() {
    auto* close = new wxCloseEvent(wxEVT_CLOSE_WINDOW, frm->GetId());
    close->SetEventObject(frm);
    close->SetCanVeto(true);
    frm->GetEventHandler()->QueueEvent(close);
  }

  ButtonStates Buttons() const {
    return {frm->CmdStartConversion()->IsEnabled(), frm->CmdStartConversion()->IsShown(),
            frm->CmdSkip()->IsEnabled(), frm->CmdStopMigration()->IsEnabled(),
            frm->CmdStopMigration()->IsShown()};
  }
  static std::string Text(const wxStaticText* label) { return label->GetLabelText().utf8_string(); }
  std::string StatusLine() const { return Text(frm->lblCount1()); }
  std::string Step() const { return Text(frm->LblCurrentDBX()); }

  // Runs `action` once, after the first event of the run at which the screen shows work on a file
  // whose path contains `marker`; the run waits for it. Several can be pending; each fires once,
  // in the order they were given.
  void At(const std::string& marker, std::function<void()> action) {
    script_.push_back({marker, std::move(action), false});
    frm->SetEventObserver([this] {
      if (afterEachEvent) afterEachEvent();
      for (auto& step : script_) {
        if (step.done) continue;
        if (Step().find(step.marker) == std::string::npos) return;
        step.done = true;
        step.action();
        return;
      }
    });
  }
  // Runs after every event of the run, before the scripted actions (set it before calling At).
  std::function<void()> afterEachEvent;
  void WatchEvents() {
    frm->SetEventObserver([this] {
      if (afterEachEvent) afterEachEvent();
    });
  }

  // Opens the screen modally as the selection screens do, clicks Start once it shows, and closes
  // the screen with its close box once the run's closing message has been answered (unless the
  // run closed it). `afterRun` sees the screen between the end of the run and that close. Returns
  // the modal result; fails the test instead of hanging when the screen never closes.
  // `beforeStart` sees the screen shown and not yet started.
  int RunModal(std::function<void()> afterRun = {}, std::function<void()> beforeStart = {}) {
    dialogs.onMessage = [this, afterRun, previous = dialogs.onMessage](const AskedMessage& message) {
      if (previous) previous(message);
      if (message.title != run::kApplicationTitle) return;
      // Runs after the Start handler has returned, that is after the run's last step.
      frm->CallAfter([this, afterRun] {
        if (afterRun) afterRun();
        if (frm->IsModal()) ClickCloseBox();
      });
    };
    frm->CallAfter([this, beforeStart] {
      if (beforeStart) beforeStart();
      Click(frm->CmdStartConversion());
    });
    wxTimer watchdog;
    bool timedOut = false;
    watchdog.Bind(wxEVT_TIMER, [this, &timedOut](wxTimerEvent&) {
      timedOut = true;
      if (frm->IsModal()) frm->EndModal(wxID_ABORT);
    });
    watchdog.StartOnce(120000);
    const int result = frm->ShowModal();
    watchdog.Stop();
    EXPECT_FALSE(timedOut) << "the conversion screen did not close";
    return result;
  }
};

}  // namespace mailfold::test
