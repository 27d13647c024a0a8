// Parse-and-map throughput of the message importer: MB/s and messages/s over the shared sample
// messages and over a generated corpus (plain, HTML with inline image, attachments, encoded
// headers), with the peak resident memory of the process.
//
// Also single messages that stress one path: long recipient lists, fields of unended encoded
// words, each at several sizes with the fitted complexity.
//
//   bench_mime [--benchmark_filter=...]      (samples from MAILFOLD_SHARED_DIR or $MAILFOLD_SHARED_DIR)
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "mime/importer.h"

namespace fs = std::filesystem;
using namespace mailfold;

namespace {

std::vector<std::string> loadSamples() {
  const char* env = std::getenv("MAILFOLD_SHARED_DIR");
  const fs::path root = fs::path(env ? env : MAILFOLD_SHARED_DIR) / "samples" / "eml";
  std::vector<std::string> messages;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_regular_file() || it->path().extension() != ".eml") continue;
    std::ifstream in(it->path(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    messages.push_back(bytes.str());
  }
  return messages;
}

std::string base64Lines(std::mt19937_64& random, std::size_t rawBytes) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  const std::size_t chars = (rawBytes + 2) / 3 * 4;
  out.reserve(chars + chars / 76 * 2 + 2);
  for (std::size_t i = 0; i < chars; ++i) {
    out += kAlphabet[random() % 64];
    if (i % 76 == 75) out += "\r\n";
  }
  return out + "\r\n";
}

std::string words(std::mt19937_64& random, std::size_t bytes) {
  static const char* const kWords[] = {"meeting", "the", "report", "tomorrow", "budget", "and", "über", "naïve",
                                       "please", "review", "attached", "thanks", "regards", "project", "deadline"};
  std::string out;
  while (out.size() < bytes) {
    out += kWords[random() % std::size(kWords)];
    out += (random() % 12 == 0) ? "\r\n" : " ";
  }
  return out;
}

// A corpus shaped like a mailbox: mostly small plain or HTML mail, some with attachments.
std::vector<std::string> generatedCorpus(std::size_t count) {
  std::mt19937_64 random(7);
  std::vector<std::string> corpus;
  for (std::size_t i = 0; i < count; ++i) {
    std::string m = "From: =?UTF-8?Q?J=C3=B6rg_M=C3=BCller?= <joerg" + std::to_string(i) + "@example.de>\r\n"
                    "To: Team <team@example.com>, a@example.com, \"Doe, Jane\" <jane@example.com>\r\n"
                    "Cc: list@example.org\r\nSubject: =?UTF-8?B?UmU6IFByb2pla3Qgw7xiZXJzaWNodA==?= " + std::to_string(i) + "\r\n"
                    "Date: Mon, 6 May 2024 10:" + std::to_string(10 + i % 50) + ":00 +0200\r\n"
                    "Message-ID: <" + std::to_string(i) + "@example.de>\r\nMIME-Version: 1.0\r\n"
                    "Received: from mx by mail; Mon, 6 May 2024 08:12:00 +0000\r\n";
    switch (i % 4) {
      case 0:
        m += "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" + words(random, 2000 + random() % 6000);
        break;
      case 1:
        m += "Content-Type: multipart/alternative; boundary=alt\r\n\r\n--alt\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n" +
             words(random, 3000) + "\r\n--alt\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<html><body><p>" +
             words(random, 6000) + "</p></body></html>\r\n--alt--\r\n";
        break;
      case 2:
        m += "Content-Type: multipart/related; boundary=rel\r\n\r\n--rel\r\nContent-Type: text/html; charset=utf-8\r\n\r\n"
             "<p>" + words(random, 4000) + "</p><img src=\"cid:logo\">\r\n--rel\r\nContent-Type: image/png\r\nContent-ID: <logo>\r\n"
             "Content-Transfer-Encoding: base64\r\n\r\n" + base64Lines(random, 8000) + "--rel--\r\n";
        break;
      default:
        m += "Content-Type: multipart/mixed; boundary=mix\r\n\r\n--mix\r\nContent-Type: text/plain; charset=iso-8859-1\r\n"
             "Content-Transfer-Encoding: quoted-printable\r\n\r\nSiehe Anhang, Gr=FC=DFe\r\n--mix\r\n"
             "Content-Type: application/pdf\r\nContent-Disposition: attachment; filename*=UTF-8''Bericht%20%C3%BCber.pdf\r\n"
             "Content-Transfer-Encoding: base64\r\n\r\n" + base64Lines(random, 20000 + random() % 200000) + "--mix--\r\n";
    }
    corpus.push_back(std::move(m));
  }
  return corpus;
}

void importAll(benchmark::State& state, const std::vector<std::string>& corpus) {
  if (corpus.empty()) {
    state.SkipWithError("no messages (shared samples not found)");
    return;
  }
  std::size_t bytes = 0;
  for (const auto& m : corpus) bytes += m.size();
  mime::ImportOptions options;
  std::size_t failed = 0;
  for (auto _ : state) {
    for (const auto& m : corpus) {
      try {
        benchmark::DoNotOptimize(mime::importMessage(std::string_view(m), options));
      } catch (const mime::ImportError&) {
        ++failed;  // the few sample files that are not messages
      }
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * corpus.size()));
  state.counters["messages"] = static_cast<double>(corpus.size());
  state.counters["refused"] = static_cast<double>(failed / std::max<std::size_t>(1, state.iterations()));
  state.counters["corpus_MB"] = static_cast<double>(bytes) / (1 << 20);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024;
}

void BM_ImportSamples(benchmark::State& state) {
  static const std::vector<std::string> samples = loadSamples();
  importAll(state, samples);
}
BENCHMARK(BM_ImportSamples)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_ImportGenerated(benchmark::State& state) {
  static const std::vector<std::string> corpus = generatedCorpus(static_cast<std::size_t>(state.range(0)));
  importAll(state, corpus);
}
BENCHMARK(BM_ImportGenerated)->Arg(2000)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// One message with a long To list, on one line or folded one address to a line, and one whose
// fields are full of encoded-word starts that never end. The fitted complexity shows whether
// the import time grows in proportion to the input.
std::string recipientList(std::int64_t count, bool folded) {
  std::string m = "From: a@example.com\r\nSubject: many\r\nTo: ";
  for (std::int64_t i = 0; i < count; ++i) {
    if (i > 0) m += folded ? ",\r\n " : ", ";
    m += "\"User " + std::to_string(i) + "\" <user" + std::to_string(i) + "@example.com>";
  }
  return m + "\r\n\r\nbody\r\n";
}

std::string openEncodedWords(std::int64_t count) {
  std::string starts;
  for (std::int64_t i = 0; i < count; ++i) starts += "=?x?Q?a ";
  return "Subject: " + starts + "\r\nTo: " + starts + "<b@example.com>\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
         "--b\r\nContent-Type: text/plain\r\nContent-Disposition: attachment; filename=\"" + starts + "\"\r\n\r\nx\r\n--b--\r\n";
}

void importOne(benchmark::State& state, const std::string& message) {
  for (auto _ : state) benchmark::DoNotOptimize(mime::importMessage(std::string_view(message)));
  state.SetComplexityN(state.range(0));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * message.size()));
}

void BM_ImportRecipientsOnOneLine(benchmark::State& state) { importOne(state, recipientList(state.range(0), false)); }
BENCHMARK(BM_ImportRecipientsOnOneLine)->RangeMultiplier(2)->Range(12500, 100000)->Unit(benchmark::kMillisecond)->Complexity();

void BM_ImportRecipientsFolded(benchmark::State& state) { importOne(state, recipientList(state.range(0), true)); }
BENCHMARK(BM_ImportRecipientsFolded)->RangeMultiplier(2)->Range(5000, 40000)->Unit(benchmark::kMillisecond)->Complexity();

void BM_ImportOpenEncodedWords(benchmark::State& state) { importOne(state, openEncodedWords(state.range(0))); }
BENCHMARK(BM_ImportOpenEncodedWords)->RangeMultiplier(2)->Range(10000, 80000)->Unit(benchmark::kMillisecond)->Complexity();

}  // namespace

BENCHMARK_MAIN();
