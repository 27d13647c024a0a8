// Runs work handed over from the run's thread on the window thread, at most one piece per turn
// of the window's event loop.
//
// wx handles an event posted while it is handling posted events in the same pass, so a worker
// that posts again as soon as its last piece ran (the relay posts its next batch while the
// window draws the last one) keeps the loop in that pass: no timer fires, nothing is painted,
// no click is seen until the run ends. Here a piece first waits until the loop is idle and is
// posted from there, so the timers and input of that turn come first.
#pragma once

#include <wx/event.h>

#include <functional>
#include <mutex>
#include <vector>

namespace mailfold::run {

class PostPerTurn {
 public:
  // `target` (a window) runs the work; it must outlive this object.
  explicit PostPerTurn(wxEvtHandler& target);
  ~PostPerTurn();
  PostPerTurn(const PostPerTurn&) = delete;
  PostPerTurn& operator=(const PostPerTurn&) = delete;

  // Any thread.
  void Post(std::function<void()> work);

 private:
  void OnIdle(wxIdleEvent& event);

  wxEvtHandler& target_;
  std::mutex mutex_;
  std::vector<std::function<void()>> waiting_;
};

}  // namespace mailfold::run
