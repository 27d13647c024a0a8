// End-to-end conversion benchmark: a corpus converted by mailfold-convert, against `cat` of the
// same files into one file (then flushed to disk), side by side in one run. Prints messages per
// second, the ratio to cat, the converter's peak memory, the store's size against the source and
// what takes its bytes, each beside its target; exits 1 when a target is missed.
//
//   bench_convert                  20,000 messages after the shared sample mail, in 15 folders
//   bench_convert --generated [--messages N] [--folders F]   a generated corpus instead
//   bench_convert --big            a few messages, one with a 1 GB attachment: peak memory only
//   --keep DIR keeps the corpus and the store
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "pst/ltp/property_context.h"
#include "pst/messaging/message_properties.h"
#include "pst/messaging/message_writer.h"
#include "pst/messaging/property_tags.h"
#include "pst/ndb/node_database.h"

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


// The shared sample mail below 64 KB (369 files, 4.9 KB on average), cycled into 15 folders until
// `messages` files: sizes, attachments, HTML and plain text and charsets as real mail has them.
// Each copy gets a header of its own so that no two files are the same.
std::uintmax_t SampleCorpus(const fs::path& corpus, int messages) {
  const fs::path samples = fs::path(MAILFOLD_SHARED_DIR) / "samples" / "eml";
  std::vector<fs::path> files;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(samples, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error))
    if (it->is_regular_file() && it->path().extension() == ".eml" && it->file_size() < 65536) files.push_back(it->path());
  std::sort(files.begin(), files.end());
  if (files.empty()) return 0;
  std::vector<std::string> texts;
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    texts.emplace_back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  std::uintmax_t bytes = 0;
  for (int i = 0; i < messages; ++i) {
    const fs::path folder = corpus / kFolderNames[i % 15];
    fs::create_directories(folder);
    const std::string text = "X-Bench-Copy: " + std::to_string(i) + "\r\n" + texts[static_cast<std::size_t>(i) % texts.size()];
    std::ofstream(folder / ("m" + std::to_string(i) + ".eml"), std::ios::binary) << text;
    bytes += text.size();
  }
  return bytes;
}

// What takes a store's bytes: the message bodies and headers, attachments, the rest of the messages
// (their other properties and tables), the rest of the file's data (folders, their tables, the
// store's own nodes), the space the allocation maps mark free, and what is neither data nor free
// (block trailers and padding, B-tree and map pages).
struct Breakdown {
  std::uint64_t body = 0, html = 0, headers = 0, attachments = 0, messageRest = 0, otherData = 0, free = 0;
  std::uint64_t file = 0;
};

Breakdown BreakdownOf(const fs::path& store) {
  using namespace mailfold::pst;
  Breakdown b;
  auto db = ndb::NodeDatabase::open(store.string());
  b.file = fs::file_size(store);
  b.free = db->format().freeBytes;
  std::uint64_t data = 0;
  for (const auto& info : db->nodes()) {
    auto node = db->openNode(info.nid);
    const std::uint64_t occupied = occupiedBytes(*node);
    data += occupied;
    if (ndb::nidType(info.nid) != ndb::kNidTypeNormalMessage) continue;
    std::uint64_t known = 0;
    auto pc = ltp::PropertyContext::open(*node);
    const auto sizeOf = [&pc](PropTag tag) { return pc.tagOf(tagId(tag)) ? pc.storedSize(*pc.tagOf(tagId(tag))) : 0; };
    b.body += sizeOf(kPrBody);
    b.html += sizeOf(kPrHtml);
    b.headers += sizeOf(kPrTransportMessageHeaders);
    known += sizeOf(kPrBody) + sizeOf(kPrHtml) + sizeOf(kPrTransportMessageHeaders);
    for (const ndb::Nid sub : node->subnodeIds()) {
      if (ndb::nidType(sub) != ndb::kNidTypeAttachment) continue;
      auto attachment = node->openSubnode(sub);
      auto apc = ltp::PropertyContext::open(*attachment);
      const auto data = apc.tagOf(tagId(kPrAttachDataBin));  // an attached message has an object there
      const std::uint64_t bytes = data && *data == kPrAttachDataBin ? apc.storedSize(kPrAttachDataBin) : 0;
      b.attachments += bytes;
      known += bytes;
    }
    b.messageRest += occupied > known ? occupied - known : 0;
  }
  const std::uint64_t messages = b.body + b.html + b.headers + b.attachments + b.messageRest;
  b.otherData = data > messages ? data - messages : 0;
  return b;
}

void PrintBreakdown(const Breakdown& b, std::uintmax_t sourceBytes) {
  const auto line = [&](const char* what, std::uint64_t bytes) {
    std::printf("  %-44s %9.1f MB  %5.1f %%\n", what, bytes / 1e6, 100.0 * static_cast<double>(bytes) / static_cast<double>(b.file));
  };
  std::printf("store %.1f MB = %.2f x the source (%.1f MB); its bytes:\n", b.file / 1e6,
              static_cast<double>(b.file) / static_cast<double>(sourceBytes), sourceBytes / 1e6);
  line("plain bodies (UTF-16)", b.body);
  line("HTML bodies", b.html);
  line("transport headers (UTF-16)", b.headers);
  line("attachment data", b.attachments);
  line("other message properties and tables", b.messageRest);
  line("folders, their tables, the store's own nodes", b.otherData);
  line("free (left by copy-on-write, reusable)", b.free);
  const std::uint64_t accounted = b.body + b.html + b.headers + b.attachments + b.messageRest + b.otherData + b.free;
  line("block trailers, padding, B-tree and map pages", b.file > accounted ? b.file - accounted : 0);
}

// A target beside its measured value; false when it is missed.
bool Target(const char* what, double value, const char* unit, bool atMost, double bound) {
  const bool met = atMost ? value <= bound : value >= bound;
  std::printf("  %-34s %10.2f %-10s target %s %g %s  %s\n", what, value, unit, atMost ? "<=" : ">=", bound, unit,
              met ? "met" : "MISSED");
  return met;
}
}  // namespace

int main(int argc, char** argv) {
  int messages = 20000;
  int folders = 15;
  bool generated = false, big = false;
  std::string keep;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--messages" && i + 1 < argc) messages = std::atoi(argv[++i]);
    else if (argument == "--folders" && i + 1 < argc) folders = std::atoi(argv[++i]);
    else if (argument == "--keep" && i + 1 < argc) keep = argv[++i];
    else if (argument == "--generated") generated = true;
    else if (argument == "--big") big = true;
    else {
      std::fprintf(stderr, "usage: bench_convert [--generated [--messages N] [--folders F<=20]] [--big] [--keep DIR]\n");
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
  std::string what;
  if (big) {
    // One message with a 1 GB attachment among small ones: memory must not follow the file.
    messages = 4;
    fs::create_directories(corpus);
    for (int i = 0; i < 3; ++i) {
      const std::string text = Message(random, i);
      std::ofstream(corpus / ("m" + std::to_string(i) + ".eml"), std::ios::binary) << text;
      corpusBytes += text.size();
    }
    std::ofstream out(corpus / "big.eml", std::ios::binary);
    out << "From: a@example.com\r\nTo: b@example.com\r\nSubject: one gigabyte\r\nMIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=\"mix\"\r\n\r\n--mix\r\nContent-Type: text/plain\r\n\r\n"
           "The attachment is large.\r\n--mix\r\nContent-Type: application/octet-stream\r\n"
           "Content-Disposition: attachment; filename=\"big.bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\n";
    const std::string chunk = Base64Lines(random, 3 * 1024 * 1024);  // 3 MB of data a chunk
    for (int i = 0; i < 342; ++i) out << chunk;                          // 1,026 MB
    out << "--mix--\r\n";
    out.close();
    corpusBytes += fs::file_size(corpus / "big.eml");
    what = "3 small messages and one with a 1 GB attachment";
  } else if (!generated && fs::is_directory(fs::path(MAILFOLD_SHARED_DIR) / "samples" / "eml")) {
    corpusBytes = SampleCorpus(corpus, messages);
    folders = 15;
    what = std::to_string(messages) + " messages after the shared sample mail, in 15 folders";
  } else {
    if (!generated) std::printf("(the shared sample mail is not here: a generated corpus instead)\n");
    for (int i = 0; i < messages; ++i) {
      const fs::path folder = corpus / kFolderNames[i % folders];
      fs::create_directories(folder);
      const std::string text = Message(random, i);
      std::ofstream(folder / ("m" + std::to_string(i) + ".eml"), std::ios::binary) << text;
      corpusBytes += text.size();
    }
    what = std::to_string(messages) + " generated messages in " + std::to_string(folders) + " folders";
  }
  // Both runs read the files from the page cache.
  RunTimed("find " + Quoted(corpus) + " -type f -print0 | xargs -0 cat >/dev/null");

  const Timed cat = RunTimed("find " + Quoted(corpus) + " -type f -name '*.eml' -print0 | sort -z | xargs -0 cat > " +
                             Quoted(work / "all.txt"));
  // The converter makes its store durable as it goes; cat followed by a flush of its output is
  // the fair floor for that part.
  const Timed catSynced = RunTimed("find " + Quoted(corpus) + " -type f -name '*.eml' -print0 | sort -z | xargs -0 cat > " +
                                   Quoted(work / "all-synced.txt") + " && sync " + Quoted(work / "all-synced.txt"));
  fs::remove(work / "all.txt");
  fs::remove(work / "all-synced.txt");
  const Timed convert = RunTimed(Quoted(converter) + " " + Quoted(corpus) + " -o " + Quoted(work / "bench.pst") +
                                 " --json --quiet > " + Quoted(work / "summary.json"));

  std::ifstream summaryFile(work / "summary.json");
  const std::string summary((std::istreambuf_iterator<char>(summaryFile)), std::istreambuf_iterator<char>());
  const auto imported = summary.find("\"imported\":");
  const long importedCount = imported == std::string::npos ? -1 : std::atol(summary.c_str() + imported + 11);

  std::printf("corpus: %s, %.1f MB\n", what.c_str(), corpusBytes / 1e6);
  std::printf("mailfold-convert: %.2f s, exit %d, %ld of %d imported, %.1f MB/s\n", convert.seconds, convert.exitCode,
              importedCount, messages, corpusBytes / 1e6 / convert.seconds);
  std::printf("cat of the same files: %.2f s; then flushed to disk: %.2f s\n", cat.seconds, catSynced.seconds);
  bool met = true;
  if (!big) {
    met &= Target("messages per second", messages / convert.seconds, "msg/s", false, 5000);
    met &= Target("time against cat then flush", convert.seconds / catSynced.seconds, "x", true, 3);
    std::printf("  (against cat alone: %.1f x)\n", convert.seconds / cat.seconds);
  }
  met &= Target("peak memory of the converter", convert.peakKilobytes / 1024.0, "MB", true, 100);
  std::error_code error;
  if (fs::exists(work / "bench.pst", error)) PrintBreakdown(BreakdownOf(work / "bench.pst"), corpusBytes);

  if (keep.empty()) fs::remove_all(work);
  // The sample mail holds one file that is no message.
  const bool allThere = importedCount >= messages - messages / 300 - 1;
  return convert.exitCode <= 1 && allThere && met ? 0 : 1;
}
