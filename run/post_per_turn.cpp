#include "run/post_per_turn.h"

#include <wx/app.h>

namespace mailfold::run {

// The application gets the idle event of every turn, whichever window is shown or modal.
PostPerTurn::PostPerTurn(wxEvtHandler& target) : target_(target) {
  if (wxTheApp) wxTheApp->Bind(wxEVT_IDLE, &PostPerTurn::OnIdle, this);
}

PostPerTurn::~PostPerTurn() {
  if (wxTheApp) wxTheApp->Unbind(wxEVT_IDLE, &PostPerTurn::OnIdle, this);
}

void PostPerTurn::Post(std::function<void()> work) {
  {
    std::lock_guard lock(mutex_);
    waiting_.push_back(std::move(work));
  }
  wxWakeUpIdle();
}

void PostPerTurn::OnIdle(wxIdleEvent& event) {
  event.Skip();
  std::vector<std::function<void()>> ready;
  {
    std::lock_guard lock(mutex_);
    ready.swap(waiting_);
  }
  // Handled as posted events, where a modal dialog may be shown: never inside the idle handler.
  for (auto& work : ready) target_.CallAfter(std::move(work));
}

}  // namespace mailfold::run
