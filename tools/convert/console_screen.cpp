#include "tools/convert/console_screen.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "run/screen_presenter.h"

namespace mailfold::convert {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

template <class... Handlers>
struct Overloaded : Handlers... {
  using Handlers::operator()...;
};
template <class... Handlers>
Overloaded(Handlers...) -> Overloaded<Handlers...>;

std::string Clock(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) return "--:--";
  const long total = std::lround(seconds);
  char text[32];
  if (total >= 3600)
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  else
    std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
  return text;
}

// CR LF of a message box's text becomes one line break.
std::string PlainText(const std::string& text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    plain.push_back(text[i]);
  }
  return plain;
}

// The folder a scanned path names: "/m/Inbox/" gives "Inbox".
std::string FolderLabelOf(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos || path.size() == 1 ? path : path.substr(slash + 1);
}

}  // namespace

std::string FormatProgressLine(const ItemCounter& counter, double seconds, const std::string& label, int width) {
  const double fraction =
      counter.total > 0 ? std::clamp(static_cast<double>(counter.done) / static_cast<double>(counter.total), 0.0, 1.0)
                        : 0.0;
  constexpr int kBarWidth = 24;
  const int filled = static_cast<int>(fraction * kBarWidth);
  std::string line = "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '-') + "] ";
  line += std::to_string(counter.done) + "/" + std::to_string(counter.total);
  line += " " + std::to_string(static_cast<int>(fraction * 100.0)) + "%";
  if (seconds > 0.5 && counter.done > 0) {
    const double rate = static_cast<double>(counter.done) / seconds;
    char text[32];
    std::snprintf(text, sizeof text, " %.0f msg/s", rate);
    line += text;
    line += " " + Clock(static_cast<double>(counter.total - counter.done) / rate) + " left";
  }
  if (!label.empty()) line += "  " + label;
  if (width > 0 && line.size() > static_cast<std::size_t>(width)) {
    line.resize(static_cast<std::size_t>(width));
    // Never end inside a multi-byte character of the label.
    while (!line.empty() && (static_cast<unsigned char>(line.back()) & 0xC0) == 0x80) line.pop_back();
    if (!line.empty() && (static_cast<unsigned char>(line.back()) & 0x80)) line.pop_back();
  }
  return line;
}

ConsoleScreen::ConsoleScreen(Settings settings, engine::RunRequests& requests)
    : settings_(std::move(settings)), requests_(requests) {}

void ConsoleScreen::Print(const std::string& line) {
  ClearLine();
  std::fputs((line + "\n").c_str(), settings_.out);
  std::fflush(settings_.out);
}

void ConsoleScreen::ClearLine() {
  if (!lineShown_) return;
  std::fputs("\r\x1b[K", settings_.out);
  std::fflush(settings_.out);
  lineShown_ = false;
}

void ConsoleScreen::Draw(bool force) {
  if (settings_.quiet || !settings_.terminal) return;
  const auto now = settings_.clock();
  if (!force && now - lastDraw_ < kRedrawInterval) return;
  lastDraw_ = now;
  std::string line;
  if (counter_.total > 0) {
    const double seconds = std::chrono::duration<double>(now - folderStart_).count();
    line = FormatProgressLine(counter_, seconds, folderLabel_, 79);
  } else if (!queuedText_.empty()) {
    line = "Scanning: " + queuedText_;
  } else {
    return;
  }
  std::fputs(("\r" + line + "\x1b[K").c_str(), settings_.out);
  std::fflush(settings_.out);
  lineShown_ = true;
}

void ConsoleScreen::PollStopSignal() {
  if (!settings_.stopSignal || settings_.stopSignal() == 0) return;
  if (!stopNoticed_) {
    stopNoticed_ = true;
    if (!settings_.quiet)
      Print("Stopping after the current message; the store keeps what is converted. "
            "Press Ctrl-C again to end at once.");
  }
  requests_.RequestStop();
}

void ConsoleScreen::OnRunEvent(const run::RunEvent& event) {
  PollStopSignal();
  std::visit(Overloaded{
                 [this](const run::ScanProgress& progress) {
                   queuedText_ = std::to_string(progress.queued) + " Messages Queued for Conversion.";
                   Draw(false);
                 },
                 [this](const run::ScanFinished& scan) {
                   queuedText_.clear();
                   folderLabel_ = FolderLabelOf(scan.path);
                   counter_ = {};
                   lastTenth_ = 0;
                   folderStart_ = settings_.clock();
                   const bool single = scan.mode == engine::ConversionMode::SingleFolder;
                   if (!settings_.quiet)
                     Print((single ? "Migrating " : "Converting ") + std::to_string(scan.total) + " items from " +
                           scan.path);
                 },
                 [](const auto&) {},
             },
             event);
}

void ConsoleScreen::OnEvent(const engine::ConversionEvent& event) {
  PollStopSignal();
  std::visit(Overloaded{
                 [this](const engine::EntryDone& done) {
                   counter_ = {done.itemNo, done.total};
                   if (settings_.terminal) {
                     Draw(counter_.done == counter_.total);
                     return;
                   }
                   if (settings_.quiet || counter_.total <= 0) return;
                   const int tenth = static_cast<int>(counter_.done * 10 / counter_.total);
                   if (tenth > lastTenth_) {
                     lastTenth_ = tenth;
                     const double seconds = std::chrono::duration<double>(settings_.clock() - folderStart_).count();
                     Print(FormatProgressLine(counter_, seconds, folderLabel_, 0));
                   }
                 },
                 [this](const engine::StopConfirmed&) {
                   if (!settings_.quiet) Print("Stopped...");
                 },
                 [this](const engine::FolderEnded&) { ClearLine(); },
                 [](const auto&) {},
             },
             event);
}

std::optional<std::string> ConsoleScreen::ChooseStoreFile(const std::string& proposedName) {
  if (settings_.storePath) return settings_.storePath;
  if (settings_.currentFolder.empty()) return proposedName;
  const bool separator = !settings_.currentFolder.ends_with('/');
  return settings_.currentFolder + (separator ? "/" : "") + proposedName;
}

std::optional<std::string> ConsoleScreen::StorePassword(const std::string& storePath) {
  if (!settings_.password) return std::nullopt;
  ClearLine();
  // The time the answer takes does not count into the folder's rate and time left.
  const auto asked = settings_.clock();
  auto password = settings_.password(storePath);
  folderStart_ += settings_.clock() - asked;
  return password;
}

void ConsoleScreen::StoreFailed(const engine::StoreFailureNotice& notice) {
  const std::string plain = PlainText(run::StoreFailureText(notice));
  errors_.push_back(plain);
  ClearLine();
  std::fputs(("mailfold-convert: " + plain + "\n").c_str(), stderr);
  std::fflush(stderr);
}

}  // namespace mailfold::convert
