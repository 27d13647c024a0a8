#include "tools/convert/console_screen.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "engine/folder_conversion.h"
#include "run/run_summary.h"

namespace mailfold::convert {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

bool ParseNumber(const std::string& text, std::size_t& pos, std::int64_t& value) {
  const std::size_t start = pos;
  value = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 12)
    value = value * 10 + (text[pos++] - '0');
  return pos > start;
}

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

// CR LF of the message boxes becomes one line break.
std::string PlainText(const std::string& text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    plain.push_back(text[i]);
  }
  return plain;
}

// The folder a status line names: "Migrating 12 items from /m/Inbox/" gives "Inbox".
std::string FolderLabelOf(const std::string& status) {
  const auto from = status.find(" items from ");
  if (from == std::string::npos) return {};
  std::string path = status.substr(from + 12);
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos || path.size() == 1 ? path : path.substr(slash + 1);
}

}  // namespace

std::optional<ItemCounter> ParseItemCounter(const std::string& caption) {
  // The caption ends in "File(s)": take the last parenthesis that holds the counter.
  for (auto open = caption.rfind('('); open != std::string::npos; open = caption.rfind('(', open - 1)) {
    std::size_t pos = open + 1;
    ItemCounter counter;
    if (ParseNumber(caption, pos, counter.done) && caption.compare(pos, 4, " of ") == 0 &&
        ParseNumber(caption, pos += 4, counter.total) && pos < caption.size() && caption[pos] == ')')
      return counter;
    if (open == 0) break;
  }
  return std::nullopt;
}

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

ConsoleScreen::ConsoleScreen(Settings settings) : settings_(std::move(settings)) {}

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

void ConsoleScreen::BeginQuestion() {
  ClearLine();
  questionStart_ = settings_.clock();
}

void ConsoleScreen::EndQuestion() { folderStart_ += settings_.clock() - questionStart_; }

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

void ConsoleScreen::SetStatusLine(const std::string& text) {
  // The scan's running count changes with every file: only the bar shows it.
  if (text.ends_with(" Queued for Conversion.")) {
    queuedText_ = text;
    Draw(false);
    return;
  }
  queuedText_.clear();
  // The load step's "not started" text says nothing on a command line.
  if (text == "Conversion Not Started Yet...") return;
  if (const std::string label = FolderLabelOf(text); !label.empty() || text.find(" items from ") != std::string::npos) {
    folderLabel_ = label;
    counter_ = {};
    lastTenth_ = 0;
    folderStart_ = settings_.clock();
  }
  if (!settings_.quiet) Print(text);
}

void ConsoleScreen::SetFrameCaption(const std::string& caption) {
  const auto counter = ParseItemCounter(caption);
  if (!counter) return;
  counter_ = *counter;
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
}

engine::MessageAnswer ConsoleScreen::ShowMessage(const std::string& text, const std::string& title,
                                                 engine::MessageIcon, engine::MessageButtons buttons) {
  // The only questions are the confirmations of a skip or stop, and only a stop signal asks for
  // one: the answer is yes.
  if (buttons == engine::MessageButtons::YesNo) return engine::MessageAnswer::Yes;
  // The run's closing message is printed by the caller once the counts are final.
  if (title == run::kApplicationTitle) return engine::MessageAnswer::Ok;
  const std::string plain = PlainText(text);
  if (title == engine::kSessionErrorTitle) errors_.push_back(plain);
  ClearLine();
  std::fputs(("mailfold-convert: " + plain + "\n").c_str(), stderr);
  std::fflush(stderr);
  return engine::MessageAnswer::Ok;
}

std::optional<std::string> ConsoleScreen::AskSaveAs(const std::string&, const std::string& proposedName) {
  if (settings_.storePath) return settings_.storePath;
  if (settings_.currentFolder.empty()) return proposedName;
  const bool separator = !settings_.currentFolder.ends_with('/');
  return settings_.currentFolder + (separator ? "/" : "") + proposedName;
}

void ConsoleScreen::ProcessPendingEvents() {
  if (settings_.stopSignal && settings_.stopSignal() != 0) {
    if (!stopNoticed_) {
      stopNoticed_ = true;
      if (!settings_.quiet)
        Print("Stopping after the current message; the store keeps what is converted. "
              "Press Ctrl-C again to end at once.");
    }
    // Asserted at every yield: the run driver clears the flag before each folder it starts.
    requests_.stopConversion = true;
  }
  Draw(false);
}

void ConsoleScreen::Close() {
  closed_ = true;
  ClearLine();
}

}  // namespace mailfold::convert
