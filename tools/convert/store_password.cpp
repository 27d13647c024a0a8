#include "tools/convert/store_password.h"

#include <fcntl.h>
#include <unistd.h>
#ifdef _WIN32
#include <windows.h>

#include "files/platform.h"
#include "files/runtime_io_win32.h"
#else
#include <poll.h>
#include <termios.h>
#endif

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace mailfold::convert {
namespace {

// Far beyond any password a store can be given; a longer first line is not a password file.
constexpr std::size_t kMaxPasswordLine = 4096;

#ifndef _WIN32
volatile std::sig_atomic_t questionEndedBy = 0;

extern "C" void OnSignalDuringQuestion(int signal) { questionEndedBy = signal; }

// The signals that would end the process while the terminal does not echo.
constexpr std::array kQuestionSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
#endif

}  // namespace

PasswordFile ReadPasswordFile(const std::string& path) {
  PasswordFile result;
  const auto failure = [&](const std::string& why) {
    result.error = "cannot read the password file " + path + ": " + why;
    return result;
  };
#ifdef _WIN32
  const int fd = files::OpenForReading(path);
#else
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
#endif
  if (fd < 0) return failure(std::strerror(errno));
  std::string text;
  char buffer[512];
  bool lineEnded = false;
  while (!lineEnded && text.size() <= kMaxPasswordLine) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      return failure(std::strerror(error));
    }
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    lineEnded = text.find('\n') != std::string::npos;
  }
  ::close(fd);
  if (const auto end = text.find('\n'); end != std::string::npos) text.resize(end);
  if (!text.empty() && text.back() == '\r') text.pop_back();
  if (text.size() > kMaxPasswordLine)
    return failure("its first line is longer than " + std::to_string(kMaxPasswordLine) + " bytes");
  result.password = std::move(text);
  return result;
}

#ifdef _WIN32
// The console's own line input with the echo off; Ctrl-C ends the read (the program's console
// handler sees it as its stop request) and gives no password.
std::optional<std::string> AskOnTerminal(const std::string& prompt, int /*terminal*/, std::FILE* out) {
  const HANDLE console = ::GetStdHandle(STD_INPUT_HANDLE);
  DWORD saved = 0;
  if (console == INVALID_HANDLE_VALUE || !::GetConsoleMode(console, &saved)) return std::nullopt;
  std::optional<std::string> line;
  if (::SetConsoleMode(console, (saved | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) & ~static_cast<DWORD>(ENABLE_ECHO_INPUT))) {
    std::fputs(prompt.c_str(), out);
    std::fflush(out);
    std::wstring typed;
    for (;;) {
      wchar_t c = 0;
      DWORD n = 0;
      if (!::ReadConsoleW(console, &c, 1, &n, nullptr)) break;  // aborted by Ctrl-C
      if (n == 1 && c == L'\r') continue;
      if (n == 1 && c != L'\n') {
        typed.push_back(c);
        continue;
      }
      if (n == 1 || !typed.empty()) line = files::Utf8FromWide(typed.c_str());
      break;
    }
    ::SetConsoleMode(console, saved);
    std::fputs("\n", out);
    std::fflush(out);
  }
  return line;
}
#else
std::optional<std::string> AskOnTerminal(const std::string& prompt, int terminal, std::FILE* out) {
  termios saved{};
  if (::tcgetattr(terminal, &saved) != 0) return std::nullopt;

  // The signals stay blocked except while waiting for input, so one that arrives is either
  // caught by the wait (which then returns) or left pending until the old handlers are back:
  // never lost, and never ending the process while the echo is off.
  sigset_t questionSignals, before;
  sigemptyset(&questionSignals);
  for (const int signal : kQuestionSignals) sigaddset(&questionSignals, signal);
  sigprocmask(SIG_BLOCK, &questionSignals, &before);
  questionEndedBy = 0;
  struct sigaction during {};
  during.sa_handler = OnSignalDuringQuestion;
  sigemptyset(&during.sa_mask);
  std::array<struct sigaction, kQuestionSignals.size()> handlers{};
  for (std::size_t i = 0; i < kQuestionSignals.size(); ++i) sigaction(kQuestionSignals[i], &during, &handlers[i]);

  std::optional<std::string> line;
  termios silent = saved;
  silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  // TCSANOW: what was typed ahead of the question is kept, as a terminal user expects.
  if (::tcsetattr(terminal, TCSANOW, &silent) == 0) {
    std::fputs(prompt.c_str(), out);
    std::fflush(out);
    std::string typed;
    for (;;) {
      pollfd wait{terminal, POLLIN, 0};
      const int ready = ::ppoll(&wait, 1, nullptr, &before);
      if (questionEndedBy != 0) break;
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0 || (wait.revents & (POLLERR | POLLNVAL))) break;
      char c = 0;
      const ssize_t n = ::read(terminal, &c, 1);
      if (n == 1 && c != '\n') {
        typed.push_back(c);
        continue;
      }
      // Enter, or the end of input after some text (Ctrl-D twice); nothing typed and the end
      // of input is no password.
      if (n == 1 || (n == 0 && !typed.empty())) line = std::move(typed);
      break;
    }
    ::tcsetattr(terminal, TCSANOW, &saved);
    std::fputs("\n", out);  // the Enter the terminal did not echo
    std::fflush(out);
  }

  for (std::size_t i = 0; i < kQuestionSignals.size(); ++i) sigaction(kQuestionSignals[i], &handlers[i], nullptr);
  sigprocmask(SIG_SETMASK, &before, nullptr);
  // Ctrl-C during the question is the user's stop request, as anywhere else in the run.
  if (questionEndedBy != 0) {
    line.reset();
    std::raise(questionEndedBy);
  }
  return line;
}
#endif

std::optional<std::string> StorePasswords::For(const std::string& storePath) {
  if (settings_.filePassword) return settings_.filePassword;
  if (settings_.stopSignal && settings_.stopSignal() != 0) return std::nullopt;
  std::optional<std::string> password;
  if (settings_.stdinIsTerminal) {
    password = AskOnTerminal("Password for " + storePath + ": ", STDIN_FILENO, settings_.out);
  } else {
    std::fputs(("mailfold-convert: " + storePath +
                " is protected by a password; give it with --password-file FILE (standard input is not a "
                "terminal to ask on)\n")
                   .c_str(),
               settings_.out);
    std::fflush(settings_.out);
  }
  return password;
}

}  // namespace mailfold::convert
