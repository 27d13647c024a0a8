// Carries a run's events and questions from the thread the run works on to the window thread,
// where the real listener (the screen's presenter) handles them. Events are queued and handled in
// order, a batch at a time; a question waits until the window thread has answered it, after every
// event before it was handled.
//
//   ThreadedListener relay(presenter, [&](std::function<void()> work) { window.CallAfter(work); });
//   std::thread worker([&] { driver.Run(plan, relay, requests); });
//
// Within a batch, a step, a file done or a scan count that a later one of its kind replaces is
// skipped: only the newest can be seen, and a run of thousands of files per second would
// otherwise keep the window busy with labels nobody sees.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <variant>
#include <vector>

#include "run/run_events.h"

namespace mailfold::run {

class ThreadedListener : public RunListener {
 public:
  // Runs `work` on the window thread, soon; may be called from any thread.
  using Post = std::function<void(std::function<void()> work)>;

  ThreadedListener(RunListener& target, Post post) : target_(target), post_(std::move(post)) {}
  ~ThreadedListener() override;

  // Runs on the window thread after each event has been handled. In lockstep the run waits
  // until then for every event, so that whatever `afterEvent` does (a click a test makes) takes
  // effect before the run goes on; no event is skipped then.
  void SetAfterEvent(std::function<void()> afterEvent, bool lockstep);

  // The window thread will answer nothing more (its screen is going): a question waiting now, or
  // asked later, gets "no" or nothing at once, and events are dropped.
  void Abandon();

  void OnRunEvent(const RunEvent& event) override;
  void OnEvent(const engine::ConversionEvent& event) override;
  bool ConfirmSkip() override;
  bool ConfirmStop() override;
  std::optional<std::string> ChooseStoreFile(const std::string& proposedName) override;
  std::optional<std::string> StorePassword(const std::string& storePath) override;
  void StoreFailed(const engine::StoreFailureNotice& notice) override;
  void RunFinished(const RunSummary& summary) override;

 private:
  using Event = std::variant<RunEvent, engine::ConversionEvent>;
  struct Question;
  struct Item {
    std::uint64_t number = 0;
    std::optional<Event> event;
    std::shared_ptr<Question> question;
  };

  void Enqueue(Item item);
  void Drain();
  void Handle(const Event& event);
  // Asks on the window thread and waits for the answer; `fallback` when the window is gone.
  template <class Answer>
  Answer AskFor(std::function<Answer()> ask, Answer fallback);

  RunListener& target_;
  Post post_;
  std::mutex mutex_;
  std::condition_variable handled_;
  std::deque<Item> queue_;
  std::uint64_t nextNumber_ = 1;
  std::uint64_t handledUpTo_ = 0;
  bool drainPosted_ = false;
  bool abandoned_ = false;
  bool lockstep_ = false;
  std::function<void()> afterEvent_;
  std::vector<std::shared_ptr<Question>> waiting_;
};

}  // namespace mailfold::run
