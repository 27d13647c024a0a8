// End-to-end conversion benchmark: a generated corpus (by default 10,000 messages in 20 folders,
// sizes spread like a real mailbox) converted by mailfold-convert, against `cat` of the same
// files into one file, as a ratio in one run. Prints messages per second, the converter's peak
// memory and the store size.
//
//   bench_convert [--messages N] [--folders F] [--keep DIR]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char* const kFolderNames[] = {"Inbox",         "Inbox/Work",    "Inbox/Work/Clients", "Inbox/Family",
                                    "Inbox/Lists",   "Inbox/Lists/Dev", "Sent",             "Sent/2024",
                                    "Sent/2025",     "Projects",      "Projects/2024",      "Projects/2025",
                                    "Projects/2026", "Archive",       "Archive/2019",       "Archive/2020",
                                    "Archive/2021",  "Travel",        "Receipts",           "Newsletters"};

std::string Words(std::mt19937_64& random, std::size_t bytes) {
  static const char* const kWords[] = {"meeting", "report", "the", "and", "budget", "schedule", "please",
                                       "review", "attached", "thanks", "regards", "project", "next", "week",
                                       "update", "client", "invoice", "draft", "for", "with"};
  std::string text;
  text.reserve(bytes + 80);
  std::size_t line = 0;
  while (text.size() < bytes) {
    const std::string word = kWords[random() % 20];
    text += word;
    line += word.size() + 1;
    if (line > 70) {
      text += "\r\n";
      line = 0;
    } else {
      text += ' ';
    }
  }
  return text;
}

std::string Base64Lines(std::mt19937_64& random, std::size_t bytes) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  const std::size_t chars = (bytes + 2) / 3 * 4;
  text.reserve(chars + chars / 76 * 2 + 2);
  for (std::size_t i = 0; i < chars; ++i) {
    text += kAlphabet[random() % 64];
    if (i % 76 == 75) text += "\r\n";
  }
  return text + "\r\n";
}

// One message: mostly short plain text, some HTML with a text part, some with an attachment.
std::string Message(std::mt19937_64& random, int number) {
  std::string text = "From: Sender " + std::to_string(number % 97) + " <sender" + std::to_string(number % 97) +
                     "@example.com>\r\nTo: Reader <reader@example.org>\r\nSubject: Message " +
                     std::to_string(number) + " about the project\r\nDate: Tue, 03 Nov 2026 10:" +
                     std::to_string(10 + number % 50) + ":00 +0000\r\nMessage-ID: <m" + std::to_string(number) +
                     "@example.com>\r\nMIME-Version: 1.0\r\n";
  const unsigned kind = random() % 100;
  if (kind < 70) {
    return text + "Content-Type: text/plain; charset=utf-8\r\n\r\n" + Words(random, 1500 + random() % 8000);
  }
  if (kind < 92) {
    const std::string body = Words(random, 4000 + random() % 16000);
    return text +
           "Content-Type: multipart/alternative; boundary=\"alt\"\r\n\r\n--alt\r\n"
           "Content-Type: text/plain; charset=utf-8\r\n\r\n" +
           body + "\r\n--alt\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<html><body><p>" + body +
           "</p></body></html>\r\n--alt--\r\n";
  }
  return text +
         "Content-Type: multipart/mixed; boundary=\"mix\"\r\n\r\n--mix\r\n"
         "Content-Type: text/plain; charset=utf-8\r\n\r\n" +
         Words(random, 1000 + random() % 3000) +
         "\r\n--mix\r\nContent-Type: application/pdf\r\nContent-Disposition: attachment; filename=\"doc" +
         std::to_string(number) + ".pdf\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
         Base64Lines(random, 20000 + random() % 300000) + "--mix--\r\n";
}

struct Timed {
  double seconds = 0;
  int exitCode = -1;
  long peakKilobytes = 0;
};

// Runs a shell command and measures it; the peak memory is the child's own.
Timed RunTimed(const std::string& command) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  Timed timed;
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  timed.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  timed.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  timed.peakKilobytes = usage.ru_maxrss;
  return timed;
}

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

}  // namespace

int main(int argc, char** argv) {
  int messages = 10000;
  int folders = 20;
  std::string keep;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--messages" && i + 1 < argc) messages = std::atoi(argv[++i]);
    else if (argument == "--folders" && i + 1 < argc) folders = std::atoi(argv[++i]);
    else if (argument == "--keep" && i + 1 < argc) keep = argv[++i];
    else {
      std::fprintf(stderr, "usage: bench_convert [--messages N] [--folders F<=20] [--keep DIR]\n");
      return 2;
    }
  }
  if (messages < 1 || folders < 1 || folders > 20) {
    std::fprintf(stderr, "bench_convert: need at least one message and 1 to 20 folders\n");
    return 2;
  }
  const fs::path converter = fs::canonical("/proc/self/exe").parent_path() / "mailfold-convert";
  if (!fs::exists(converter)) {
    std::fprintf(stderr, "bench_convert: %s is not built\n", converter.c_str());
    return 1;
  }

  const fs::path work = keep.empty() ? fs::temp_directory_path() / ("mailfold-bench-" + std::to_string(getpid()))
                                     : fs::path(keep);
  fs::remove_all(work);
  const fs::path corpus = work / "corpus";
  std::mt19937_64 random(20261207);
  std::uintmax_t corpusBytes = 0;
  for (int i = 0; i < messages; ++i) {
    const fs::path folder = corpus / kFolderNames[i % folders];
    fs::create_directories(folder);
    const std::string text = Message(random, i);
    std::ofstream(folder / ("m" + std::to_string(i) + ".eml"), std::ios::binary) << text;
    corpusBytes += text.size();
  }
  // Both runs read the files from the page cache.
  RunTimed("cat $(find " + Quoted(corpus) + " -type f | head -1) >/dev/null; find " + Quoted(corpus) +
           " -type f -print0 | xargs -0 cat >/dev/null");

  const Timed cat = RunTimed("find " + Quoted(corpus) + " -type f -name '*.eml' -print0 | sort -z | xargs -0 cat > " +
                             Quoted(work / "all.txt"));
  // The converter makes its store durable as it goes; cat followed by a flush of its output is
  // the fairer floor for that part.
  const Timed catSynced = RunTimed("find " + Quoted(corpus) + " -type f -name '*.eml' -print0 | sort -z | xargs -0 cat > " +
                                   Quoted(work / "all-synced.txt") + " && sync " + Quoted(work / "all-synced.txt"));
  const Timed convert = RunTimed(Quoted(converter) + " " + Quoted(corpus) + " -o " + Quoted(work / "bench.pst") +
                                 " --json --quiet > " + Quoted(work / "summary.json"));

  std::ifstream summaryFile(work / "summary.json");
  const std::string summary((std::istreambuf_iterator<char>(summaryFile)), std::istreambuf_iterator<char>());
  const auto imported = summary.find("\"imported\":");
  const long importedCount = imported == std::string::npos ? -1 : std::atol(summary.c_str() + imported + 11);
  std::error_code error;
  const auto storeBytes = fs::file_size(work / "bench.pst", error);

  std::printf("corpus: %d messages in %d folders, %.1f MB\n", messages, folders, corpusBytes / 1e6);
  std::printf("mailfold-convert: %.2f s, exit %d, %ld imported, %.0f messages/s, %.1f MB/s, peak memory %.1f MB\n",
              convert.seconds, convert.exitCode, importedCount, messages / convert.seconds,
              corpusBytes / 1e6 / convert.seconds, convert.peakKilobytes / 1024.0);
  std::printf("store: %.1f MB (%.2f x the corpus)\n", error ? 0.0 : storeBytes / 1e6,
              error ? 0.0 : static_cast<double>(storeBytes) / static_cast<double>(corpusBytes));
  std::printf("cat of the same files: %.2f s\n", cat.seconds);
  std::printf("cat of the same files, then flushed to disk: %.2f s\n", catSynced.seconds);
  std::printf("ratio convert / cat: %.1f (against cat with flush: %.1f)\n", convert.seconds / cat.seconds,
              convert.seconds / catSynced.seconds);

  if (keep.empty()) fs::remove_all(work);
  return convert.exitCode == 0 && importedCount == messages ? 0 : 1;
}
