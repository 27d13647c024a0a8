#include "run/threaded_listener.h"

#include <algorithm>
#include <array>

namespace mailfold::run {

struct ThreadedListener::Question {
  std::function<void()> ask;  // on the window thread: asks, and keeps the answer unless abandoned
  bool done = false;          // under the listener's mutex
};

namespace {

// Events whose effect a later one of their kind replaces: labels and counts only.
int ReplaceableKind(const std::variant<RunEvent, engine::ConversionEvent>& event) {
  if (const auto* run = std::get_if<RunEvent>(&event)) return std::holds_alternative<ScanProgress>(*run) ? 1 : 0;
  const auto& conversion = std::get<engine::ConversionEvent>(event);
  if (const auto* step = std::get_if<engine::StepChanged>(&conversion))
    return step->step == engine::Step::OpeningStore ? 0 : 2;
  return std::holds_alternative<engine::EntryDone>(conversion) ? 3 : 0;
}

}  // namespace

ThreadedListener::~ThreadedListener() { Abandon(); }

void ThreadedListener::SetAfterEvent(std::function<void()> afterEvent, bool lockstep) {
  std::lock_guard lock(mutex_);
  afterEvent_ = std::move(afterEvent);
  lockstep_ = lockstep;
}

void ThreadedListener::Abandon() {
  std::lock_guard lock(mutex_);
  abandoned_ = true;
  // Their answers hold the fallback until a window thread gives another.
  for (const auto& question : waiting_) question->done = true;
  waiting_.clear();
  queue_.clear();
  handled_.notify_all();
}

void ThreadedListener::Enqueue(Item item) {
  const bool isEvent = item.event.has_value();
  std::unique_lock lock(mutex_);
  if (abandoned_) return;
  const std::uint64_t number = nextNumber_++;
  item.number = number;
  queue_.push_back(std::move(item));
  if (!drainPosted_) {
    drainPosted_ = true;
    lock.unlock();
    post_([this] { Drain(); });
    lock.lock();
  }
  if (lockstep_ && isEvent)
    handled_.wait(lock, [&] { return abandoned_ || handledUpTo_ >= number; });
}

void ThreadedListener::Drain() {
  std::deque<Item> batch;
  bool lockstep = false;
  std::function<void()> afterEvent;
  {
    std::lock_guard lock(mutex_);
    batch.swap(queue_);
    drainPosted_ = false;
    lockstep = lockstep_;
    afterEvent = afterEvent_;
  }
  // Which events a later one of their kind replaces before anything else happens.
  std::vector<bool> replaced(batch.size(), false);
  if (!lockstep) {
    std::array<bool, 4> laterOfKind{};
    for (std::size_t i = batch.size(); i-- > 0;) {
      const int kind = batch[i].event ? ReplaceableKind(*batch[i].event) : 0;
      if (kind == 0) {
        laterOfKind = {};
        continue;
      }
      replaced[i] = laterOfKind[static_cast<std::size_t>(kind)];
      laterOfKind[static_cast<std::size_t>(kind)] = true;
    }
  }
  for (std::size_t i = 0; i < batch.size(); ++i) {
    Item& item = batch[i];
    if (item.question) {
      item.question->ask();
    } else if (!replaced[i]) {
      Handle(*item.event);
      if (afterEvent) afterEvent();
    }
    std::lock_guard lock(mutex_);
    if (abandoned_) return;
    handledUpTo_ = std::max(handledUpTo_, item.number);
    handled_.notify_all();
  }
}

void ThreadedListener::Handle(const Event& event) {
  if (const auto* run = std::get_if<RunEvent>(&event)) target_.OnRunEvent(*run);
  else target_.OnEvent(std::get<engine::ConversionEvent>(event));
}

void ThreadedListener::OnRunEvent(const RunEvent& event) { Enqueue({0, Event{event}, nullptr}); }
void ThreadedListener::OnEvent(const engine::ConversionEvent& event) { Enqueue({0, Event{event}, nullptr}); }

template <class Answer>
Answer ThreadedListener::AskFor(std::function<Answer()> ask, Answer fallback) {
  auto question = std::make_shared<Question>();
  auto answer = std::make_shared<Answer>(fallback);
  // The question owns this function: it refers to the question without owning it.
  question->ask = [this, self = question.get(), answer, ask = std::move(ask)] {
    Answer value = ask();
    std::lock_guard lock(mutex_);
    // A window that went while it asked has answered with the fallback already.
    if (!self->done) *answer = std::move(value);
    self->done = true;
    std::erase_if(waiting_, [self](const auto& waiting) { return waiting.get() == self; });
    handled_.notify_all();
  };
  {
    std::lock_guard lock(mutex_);
    if (abandoned_) return fallback;
    waiting_.push_back(question);
  }
  Enqueue({0, std::nullopt, question});
  std::unique_lock lock(mutex_);
  handled_.wait(lock, [&] { return question->done; });
  return *answer;
}

bool ThreadedListener::ConfirmSkip() {
  return AskFor<bool>([this] { return target_.ConfirmSkip(); }, false);
}

bool ThreadedListener::ConfirmStop() {
  return AskFor<bool>([this] { return target_.ConfirmStop(); }, false);
}

std::optional<std::string> ThreadedListener::ChooseStoreFile(const std::string& proposedName) {
  return AskFor<std::optional<std::string>>([this, proposedName] { return target_.ChooseStoreFile(proposedName); },
                                            std::nullopt);
}

std::optional<std::string> ThreadedListener::StorePassword(const std::string& storePath) {
  return AskFor<std::optional<std::string>>([this, storePath] { return target_.StorePassword(storePath); },
                                            std::nullopt);
}

void ThreadedListener::StoreFailed(const engine::StoreFailureNotice& notice) {
  AskFor<bool>(
      [this, notice] {
        target_.StoreFailed(notice);
        return true;
      },
      false);
}

void ThreadedListener::RunFinished(const RunSummary& summary) {
  AskFor<bool>(
      [this, summary] {
        target_.RunFinished(summary);
        return true;
      },
      false);
}

}  // namespace mailfold::run
