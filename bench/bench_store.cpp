// Store scale benchmarks (Release build; not run in CI).
//
//   bench_store folder [N]        N messages (default 200,000) into one folder, committing every
//                                 64: cost per message around 10k and around N, peak RSS
//   bench_store commits [N]       N messages (default 10,000) committed one by one vs in one
//                                 commit: both file sizes and their ratio
//   bench_store big DIR [GB]      a store past GB gigabytes (default 4.2) of large attachments in
//                                 DIR, checked afterwards; the file is left for other checkers
//                                 (delete it afterwards)
//   bench_store recipients [N]    one message with N recipients (default 50,000), then one with
//                                 2N: cost per recipient of both and their ratio
//   bench_store chain [DEPTH]     a chain of DEPTH nested folders (default 200) with 2 messages in
//                                 the deepest, found again by path; then 2 x DEPTH: cost per level
//
// Exit status 1 when a bound is missed (cost ratio > 1.3, size ratio > 1.2, check failures).
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "pst/messaging/property_tags.h"
#include "pst/messaging/store.h"
#include "pst/messaging/store_check.h"

using namespace mailfold::pst;
using Clock = std::chrono::steady_clock;

namespace {

double peakRssMb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss) / 1024.0;
}

MessageModel benchMessage(std::uint32_t n) {
  MessageModel m;
  m.props.set(kPrSubject, "Benchmark message " + std::to_string(n));
  m.props.set(kPrBody, std::string(1500 + n % 2000, static_cast<char>('a' + n % 26)));
  m.props.set(kPrSenderName, std::string("Sender ") + std::to_string(n % 97));
  return m;
}

std::string tempPath(const char* name) {
  return (std::filesystem::temp_directory_path() / (std::string("mailfold-bench-") + name + ".pst")).string();
}

double cpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int folderBench(std::uint32_t total) {
  constexpr std::uint32_t kWindow = 4000;
  if (total < 10000 + kWindow) {
    std::fprintf(stderr, "bench_store folder: N must be at least %u (the first window ends there)\n", 10000 + kWindow);
    return 2;
  }
  const std::string path = tempPath("folder");
  std::filesystem::remove(path);
  auto store = Store::create(path, "Bench");
  Folder f = store->ipmRoot().addChild("Big");
  // Windows of 4,000 messages (62 commits each): shorter ones are swayed by the timing of
  // single flushes on a shared machine. CPU time is shown beside wall time, which also holds
  // the waits for the disk.
  struct Window {
    std::uint32_t first;
    std::chrono::steady_clock::time_point wall0;
    double cpu0 = 0, wallUs = 0, cpuUs = 0;
  };
  Window early{10000 - kWindow / 2, {}}, late{total - kWindow, {}};
  for (std::uint32_t n = 0; n < total; ++n) {
    for (Window* w : {&early, &late})
      if (n == w->first) {
        w->wall0 = Clock::now();
        w->cpu0 = cpuSeconds();
      }
    f.addMessage(benchMessage(n));
    if ((n + 1) % 64 == 0) store->commit();
    for (Window* w : {&early, &late})
      if (n + 1 == w->first + kWindow) {
        w->wallUs = std::chrono::duration<double, std::micro>(Clock::now() - w->wall0).count() / kWindow;
        w->cpuUs = (cpuSeconds() - w->cpu0) * 1e6 / kWindow;
      }
    if ((n + 1) % 20000 == 0) std::fprintf(stderr, "  %u messages, peak RSS %.0f MB\n", n + 1, peakRssMb());
  }
  store->close();
  const double ratio = late.wallUs / early.wallUs;
  std::printf("folder: %u messages in one folder; per message %.1f us at 10k, %.1f us at %u (ratio %.2f); "
              "CPU %.1f / %.1f us (ratio %.2f); peak RSS %.0f MB; file %.1f MB\n",
              total, early.wallUs, late.wallUs, total, ratio, early.cpuUs, late.cpuUs, late.cpuUs / early.cpuUs,
              peakRssMb(), std::filesystem::file_size(path) / 1e6);
  std::printf("  cost per message at %u against 10k   %5.2f x   target <= 1.3 x  %s\n", total, ratio,
              ratio <= 1.3 ? "met" : "MISSED");
  std::filesystem::remove(path);
  return ratio <= 1.3 ? 0 : 1;
}

int commitsBench(std::uint32_t total) {
  std::uintmax_t sizes[2];
  for (int single = 0; single < 2; ++single) {
    const std::string path = tempPath(single ? "one-commit" : "many-commits");
    std::filesystem::remove(path);
    auto store = Store::create(path, "Bench");
    Folder f = store->ipmRoot().addChild("Mail");
    const auto t0 = Clock::now();
    for (std::uint32_t n = 0; n < total; ++n) {
      f.addMessage(benchMessage(n));
      if (!single) store->commit();
    }
    store->close();
    sizes[single] = std::filesystem::file_size(path);
    std::printf("commits: %u messages, %s: %.2f MB in %.1f s\n", total, single ? "one commit" : "one commit each",
                sizes[single] / 1e6, std::chrono::duration<double>(Clock::now() - t0).count());
    std::filesystem::remove(path);
  }
  const double ratio = static_cast<double>(sizes[0]) / static_cast<double>(sizes[1]);
  std::printf("commits: size ratio %.3f\n", ratio);
  return ratio <= 1.2 ? 0 : 1;
}

int bigBench(const std::string& dir, double gigabytes) {
  const std::string path = (std::filesystem::path(dir) / "mailfold-bench-big.pst").string();
  std::filesystem::remove(path);
  const auto t0 = Clock::now();
  {
    auto store = Store::create(path, "Big");
    Folder f = store->ipmRoot().addChild("Large attachments");
    Bytes data(24u << 20);
    for (std::uint32_t n = 0; std::filesystem::file_size(path) < gigabytes * 1e9; ++n) {
      for (std::size_t i = 0; i < data.size(); i += 4096) data[i] = static_cast<std::uint8_t>(n + i / 4096);
      MessageModel m = benchMessage(n);
      Attachment a;
      a.props.set(kPrAttachLongFilename, "large-" + std::to_string(n) + ".bin");
      a.props.set(kPrAttachDataBin, data);
      m.attachments.push_back(std::move(a));
      f.addMessage(std::move(m));
      store->commit();
    }
    store->close();
  }
  const double writeSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
  const auto t1 = Clock::now();
  const auto violations = checkStore(path);
  for (const auto& v : violations) std::printf("  %s\n", v.c_str());
  std::printf("big: %.2f GB written in %.0f s (%.0f MB/s), checked in %.0f s: %zu violations, peak RSS %.0f MB; %s\n",
              std::filesystem::file_size(path) / 1e9, writeSeconds, std::filesystem::file_size(path) / 1e6 / writeSeconds,
              std::chrono::duration<double>(Clock::now() - t1).count(), violations.size(), peakRssMb(), path.c_str());
  return violations.empty() ? 0 : 1;
}

// A recipient as the importer makes one from an address header.
Recipient benchRecipient(std::uint32_t n) {
  Recipient r;
  const std::string name = "Recipient " + std::to_string(n);
  const std::string address = "recipient" + std::to_string(n) + "@example.com";
  r.props.set(kPrRecipientType, std::int32_t{1});
  r.props.set(kPrDisplayName, name);
  r.props.set(kPrTransmittableDisplayName, name);
  r.props.set(kPrAddrType, std::string("SMTP"));
  r.props.set(kPrEmailAddress, address);
  r.props.set(kPrSmtpAddress, address);
  r.props.set(kPrEntryId, Bytes(24 + 2 * (name.size() + address.size()), static_cast<std::uint8_t>(n)));
  r.props.set(kPrSearchKey, Bytes(address.begin(), address.end()));
  r.props.set(kPrObjectType, std::int32_t{6});
  r.props.set(kPrRecipientFlags, std::int32_t{1});
  return r;
}

// Seconds of CPU that `work` takes.
template <class Work>
double cpuSecondsOf(Work&& work) {
  const double t0 = cpuSeconds();
  work();
  return cpuSeconds() - t0;
}

int recipientsBench(std::uint32_t count) {
  const std::string path = tempPath("recipients");
  std::filesystem::remove(path);
  auto store = Store::create(path, "Bench");
  Folder f = store->ipmRoot().addChild("Mail");
  double perRecipientUs[2];
  for (int i = 0; i < 2; ++i) {
    const std::uint32_t n = count << i;
    MessageModel m = benchMessage(n);
    for (std::uint32_t r = 0; r < n; ++r) m.recipients.push_back(benchRecipient(r));
    perRecipientUs[i] = cpuSecondsOf([&] {
      f.addMessage(std::move(m));
      store->commit();
    }) * 1e6 / n;
    std::printf("recipients: %u in one message: %.2f us each\n", n, perRecipientUs[i]);
  }
  store->close();
  std::filesystem::remove(path);
  const double ratio = perRecipientUs[1] / perRecipientUs[0];
  std::printf("recipients: cost ratio %.2f (target <= 1.3: %s); peak RSS %.0f MB\n", ratio, ratio <= 1.3 ? "met" : "MISSED",
              peakRssMb());
  return ratio <= 1.3 ? 0 : 1;
}

int chainBench(std::uint32_t depth) {
  double perLevelUs[2];
  for (int i = 0; i < 2; ++i) {
    const std::uint32_t levels = depth << i;
    const std::string path = tempPath("chain");
    std::filesystem::remove(path);
    perLevelUs[i] = cpuSecondsOf([&] {
      auto store = Store::create(path, "Bench");
      Folder f = store->ipmRoot();
      std::string folderPath;
      for (std::uint32_t l = 0; l < levels; ++l) {
        const std::string name = "Level " + std::to_string(l);
        f = f.addChild(name);
        folderPath += "\\" + name;
      }
      for (std::uint32_t n = 0; n < 2; ++n) f.addMessage(benchMessage(n));
      store->commit();
      if (store->folderByPath(folderPath).messages().size() != 2) throw Error(ErrorKind::kInternal, "chain: messages not found");
      store->close();
    }) * 1e6 / levels;
    std::printf("chain: %u levels, 2 messages in the deepest: %.1f us per level\n", levels, perLevelUs[i]);
    std::filesystem::remove(path);
  }
  const double ratio = perLevelUs[1] / perLevelUs[0];
  std::printf("chain: cost ratio %.2f (target <= 1.3: %s)\n", ratio, ratio <= 1.3 ? "met" : "MISSED");
  return ratio <= 1.3 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "";
  try {
    if (what == "folder") return folderBench(argc > 2 ? static_cast<std::uint32_t>(std::atol(argv[2])) : 200000);
    if (what == "commits") return commitsBench(argc > 2 ? static_cast<std::uint32_t>(std::atol(argv[2])) : 10000);
    if (what == "big" && argc > 2) return bigBench(argv[2], argc > 3 ? std::atof(argv[3]) : 4.2);
    if (what == "recipients") return recipientsBench(argc > 2 ? static_cast<std::uint32_t>(std::atol(argv[2])) : 50000);
    if (what == "chain") return chainBench(argc > 2 ? static_cast<std::uint32_t>(std::atol(argv[2])) : 200);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_store: %s\n", e.what());
    return 1;
  }
  std::fprintf(stderr, "usage: bench_store folder [N] | commits [N] | big DIR [GB] | recipients [N] | chain [DEPTH]\n");
  return 2;
}
