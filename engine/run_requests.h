// The requests that reach a running conversion from its user: skip the rest of the folder, stop
// the run, or the screen was closed. Set from any thread (a window's button handlers, a signal
// handler of the headless converter) and read by the conversion at its fixed test points.
#pragma once

#include <atomic>

namespace mailfold::engine {

class RunRequests {
 public:
  void RequestSkip() { skip_.store(true); }
  void RequestStop() { stop_.store(true); }
  // The user closed the screen (its close box, Stop while a skip was pending, Cancel in the
  // choice of the store file). The run ends at its next test point like a confirmed stop, without
  // a question and without a closing message.
  void RequestClose() { closed_.store(true); }

  bool SkipRequested() const { return skip_.load(); }
  bool StopRequested() const { return stop_.load(); }
  bool CloseRequested() const { return closed_.load(); }

  void ClearSkip() { skip_.store(false); }
  void ClearStop() { stop_.store(false); }
  void Reset() {
    skip_.store(false);
    stop_.store(false);
    closed_.store(false);
  }

 private:
  std::atomic<bool> skip_{false};
  std::atomic<bool> stop_{false};
  std::atomic<bool> closed_{false};
};

}  // namespace mailfold::engine
