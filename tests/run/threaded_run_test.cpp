// A run on a thread of its own, as the conversion screen runs it: its events reach the window
// thread in order, questions wait for their answers, and requests made meanwhile (a stop while a
// question is open, a close during the scan, a window that goes) end the run at its next test
// point without anything being made that the user did not ask for.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "engine/conversion_fixture.h"
#include "run/run_driver.h"
#include "run/threaded_listener.h"

namespace mailfold::run {
namespace {

// The window thread of these tests: work posted from the run's thread runs here, in order.
class WindowThread {
 public:
  ThreadedListener::Post Poster() {
    return [this](std::function<void()> work) {
      std::lock_guard lock(mutex_);
      work_.push_back(std::move(work));
      posted_.notify_one();
    };
  }
  // Runs posted work until `done` is set and nothing is left.
  void RunUntil(const std::atomic<bool>& done) {
    for (;;) {
      std::unique_lock lock(mutex_);
      posted_.wait_for(lock, std::chrono::milliseconds(5), [this] { return !work_.empty(); });
      if (work_.empty()) {
        if (done) return;
        continue;
      }
      auto work = std::move(work_.front());
      work_.pop_front();
      lock.unlock();
      work();
    }
  }

 private:
  std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<std::function<void()>> work_;
};

// The recording screen with a hook into its questions, as a window would see them.
class Window : public test::RecordingScreen {
 public:
  std::function<void()> onSkipQuestion;
  bool ConfirmSkip() override {
    if (onSkipQuestion) onSkipQuestion();
    return RecordingScreen::ConfirmSkip();
  }
};

class ThreadedRun : public test::ConversionTest {
 protected:
  Window window;
  WindowThread windowThread;
  ThreadedListener relay{window, windowThread.Poster()};
  RunDriver driver{stores, engine::FileServices::System(), test::FixedTime, stores.Reader()};

  void SetUp() override {
    ConversionTest::SetUp();
    window.saveAsAnswer = Out("store.pst");
    for (int i = 0; i < 6; ++i) Write("m" + std::to_string(i) + ".eml");
  }
  // Starts the run on its own thread and serves its window until it has ended.
  RunSummary RunOnAThread() {
    RunPlan plan;
    plan.sourcePath = Src();
    std::atomic<bool> done{false};
    RunSummary summary;
    std::thread worker([&] {
      summary = driver.Run(plan, relay, window.requests);
      done = true;
    });
    windowThread.RunUntil(done);
    worker.join();
    return summary;
  }
};

TEST_F(ThreadedRun, EventsArriveInTheOrderTheRunSentThem) {
  relay.SetAfterEvent({}, true);  // nothing skipped: every event is seen
  RunOnAThread();
  // The same run on one thread tells the same story.
  test::RecordingScreen direct;
  direct.saveAsAnswer = Out("direct.pst");
  RunPlan plan;
  plan.sourcePath = Src();
  driver.Run(plan, direct, direct.requests);
  ASSERT_EQ(window.events.size(), direct.events.size());
  for (std::size_t i = 0; i < direct.events.size(); ++i) EXPECT_EQ(window.events[i].index(), direct.events[i].index()) << i;
  EXPECT_EQ(window.steps, direct.steps);
  EXPECT_EQ(window.frameCaptions, direct.frameCaptions);

  // Without lockstep, labels a later one replaces may be skipped, but never out of order and
  // never the end.
  window.events.clear();
  window.saveAsAnswer = Out("again.pst");
  relay.SetAfterEvent({}, false);
  RunOnAThread();
  ASSERT_FALSE(window.events.empty());
  EXPECT_TRUE(std::holds_alternative<engine::FolderEnded>(window.events.back()));
  std::int32_t lastItem = 0;
  for (const auto& event : window.events)
    if (const auto* done = std::get_if<engine::EntryDone>(&event)) {
      EXPECT_GT(done->itemNo, lastItem);
      lastItem = done->itemNo;
    }
  EXPECT_EQ(window.frameCaption, "Reading Messages && Email Metadata - (6 of 6) File(s)");
}

TEST_F(ThreadedRun, AStopRequestedWhileAQuestionIsOpenIsAskedAfterIt) {
  relay.SetAfterEvent({}, true);  // the run waits for each event: the skip lands at m1
  window.onYield = [](test::RecordingScreen& s) {
    if (s.currentStep.find("/m1.eml)") != std::string::npos && !s.requests.SkipRequested() && s.messages.empty())
      s.requests.RequestSkip();
  };
  // While the skip question is open, the user presses Stop: declined skip, then the stop question.
  window.onSkipQuestion = [this] { window.requests.RequestStop(); };
  window.answers = {MessageAnswer::No, MessageAnswer::Yes};
  const auto summary = RunOnAThread();
  EXPECT_EQ(window.MessageTitles(), (std::vector<std::string>{"Confirm Skip", "Confirm Stop", kApplicationTitle}));
  ASSERT_EQ(summary.folders.size(), 1u);
  EXPECT_EQ(summary.folders[0].ending, engine::FolderEnding::Stopped);
  EXPECT_EQ(summary.folders[0].imported, 2);
  EXPECT_EQ(stores.Store(Out("store.pst")).logoffs, 1);
  EXPECT_TRUE(window.closed);
}

TEST_F(ThreadedRun, AWindowThatGoesWhileAQuestionIsOpenEndsTheRunAtItsNextTestPoint) {
  relay.SetAfterEvent({}, true);
  window.onYield = [](test::RecordingScreen& s) {
    if (s.currentStep.find("/m1.eml)") != std::string::npos && !s.requests.SkipRequested() && s.messages.empty())
      s.requests.RequestSkip();
  };
  window.onSkipQuestion = [this] {
    window.requests.RequestClose();
    relay.Abandon();
  };
  window.answers = {MessageAnswer::Yes};  // given too late: the window is gone
  const auto summary = RunOnAThread();
  ASSERT_EQ(summary.folders.size(), 1u);
  EXPECT_EQ(summary.folders[0].ending, engine::FolderEnding::Stopped);
  EXPECT_EQ(summary.folders[0].imported, 3);  // m0, m1, and the one the run was at
  EXPECT_TRUE(summary.folders[0].Reconciles());
  EXPECT_EQ(stores.Store(Out("store.pst")).logoffs, 1);
  EXPECT_EQ(window.MessageTitles(), std::vector<std::string>{"Confirm Skip"});
}

TEST_F(ThreadedRun, AScreenClosedDuringTheScanMakesNothing) {
  window.onYield = [](test::RecordingScreen& s) {
    if (s.statusLine.find("Queued for Conversion") != std::string::npos) s.requests.RequestClose();
  };
  relay.SetAfterEvent({}, true);
  const auto summary = RunOnAThread();
  EXPECT_TRUE(summary.closedByUser);
  EXPECT_TRUE(summary.folders.empty());
  EXPECT_TRUE(window.saveAsAsked.empty());  // no store file is asked for after the screen went
  EXPECT_TRUE(window.messages.empty());     // and no closing message
  EXPECT_TRUE(stores.stores.empty());
  EXPECT_FALSE(std::filesystem::exists(Out("store.log")));
}

}  // namespace
}  // namespace mailfold::run
