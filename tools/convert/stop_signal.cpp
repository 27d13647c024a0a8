#include "tools/convert/stop_signal.h"

#include <csignal>
#ifdef _WIN32
#include <windows.h>
#endif

namespace mailfold::convert {
namespace {

volatile std::sig_atomic_t stopSignal = 0;

extern "C" void OnStopSignal(int signal) { stopSignal = signal; }

}  // namespace

#ifdef _WIN32
namespace {
// Ctrl-C, Ctrl-Break or closing the console window: one graceful stop, as SIGINT on POSIX; the
// second press finds the default action (the process ends).
BOOL WINAPI OnConsoleControl(DWORD event) {
  if (stopSignal != 0) return FALSE;
  stopSignal = event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT ? SIGTERM : SIGINT;
  return TRUE;
}
}  // namespace

void InstallStopHandlers() { ::SetConsoleCtrlHandler(OnConsoleControl, TRUE); }
#else
void InstallStopHandlers() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // One graceful stop; a second signal finds the default action back in place.
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}
#endif

int StopSignal() { return stopSignal; }

}  // namespace mailfold::convert
