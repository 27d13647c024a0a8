#include "engine/parse_ahead.h"

#include <algorithm>

namespace mailfold::engine {

ParseAhead::ParseAhead(const std::vector<std::string>& files, std::vector<bool> wanted, const MessageReader& reader,
                       unsigned workers, std::size_t window)
    : files_(files), wanted_(std::move(wanted)), reader_(reader), window_(std::max<std::size_t>(window, 1)),
      done_(files.size()) {
  for (unsigned i = 0; i < workers; ++i) workers_.emplace_back([this] { Work(); });
}

ParseAhead::~ParseAhead() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (auto& worker : workers_) worker.join();
}

unsigned ParseAhead::WorkersForThisMachine() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores > 1 ? cores - 1 : 0;
}

ParseAhead::Result ParseAhead::Parse(std::size_t index) const {
  try {
    return reader_(files_[index]);
  } catch (const std::exception& error) {
    return FailureOf(error, FailureKind::Io);
  }
}

void ParseAhead::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    // The next wanted file, while the writer is not too far behind.
    while (nextToParse_ < files_.size() && !wanted_[nextToParse_]) ++nextToParse_;
    changed_.wait(lock, [this] {
      return stopping_ || nextToParse_ >= files_.size() || waiting_ < window_;
    });
    if (stopping_ || nextToParse_ >= files_.size()) return;
    const std::size_t index = nextToParse_++;
    ++waiting_;
    lock.unlock();
    Result result = Parse(index);
    lock.lock();
    done_[index] = std::move(result);
    changed_.notify_all();
  }
}

ParseAhead::Result ParseAhead::Take(std::size_t index) {
  if (workers_.empty()) return Parse(index);
  std::unique_lock lock(mutex_);
  nextToTake_ = index + 1;
  // A file the workers have not claimed yet (they stopped at the window) is parsed here.
  if (index >= nextToParse_) {
    nextToParse_ = index + 1;
    lock.unlock();
    return Parse(index);
  }
  changed_.wait(lock, [&] { return done_[index].has_value(); });
  Result result = std::move(*done_[index]);
  done_[index].reset();
  --waiting_;
  changed_.notify_all();
  return result;
}

}  // namespace mailfold::engine
