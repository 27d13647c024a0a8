// A writer process appending to a copy of an Outlook-made store is killed (SIGKILL) at random
// moments. Each time the store must open, be clean for the checker once a writer has opened it
// again (maps rebuilt where the kill left them untrusted), and hold every message the writer
// had reported committed, each one whole, and no half message.
//
// MAILFOLD_CRASH_POINTS sets the number of kills (30 by default; `make crashtest` runs 200).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <random>

#include "crash_check.h"
#include "pst/messaging/store.h"
#include "pst/messaging/store_check.h"
#include "safety_fixture.h"
#include "support/temp_dir.h"

namespace mailfold::pst::safety {
namespace {

constexpr const char* kFolder = "Crash test";

struct Kill {
  int lastReported = -1;  // "committed N" last read from the writer; -1: none yet
  bool signalled = false;
  std::string exitInfo;
};

// Starts the writer, lets it run for `runFor`, kills it and collects what it reported.
Kill runAndKill(const std::string& store, int group, unsigned seed, std::chrono::milliseconds runFor) {
  const std::string writer = (test::binDir() / "mailfold-crash-writer").string();
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    const std::string g = std::to_string(group), s = std::to_string(seed);
    execl(writer.c_str(), writer.c_str(), store.c_str(), kFolder, g.c_str(), s.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  ::close(fds[1]);
  Kill k;
  std::string pending;
  // Reads what the writer has printed; false once the pipe is closed (the writer is gone).
  bool open = true;
  auto consume = [&](int timeoutMs) {
    pollfd p{fds[0], POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return;
    char buf[4096];
    const ssize_t n = read(fds[0], buf, sizeof buf);
    if (n <= 0) {
      open = false;
      return;
    }
    pending.append(buf, static_cast<std::size_t>(n));
    for (std::size_t nl; (nl = pending.find('\n')) != std::string::npos; pending.erase(0, nl + 1)) {
      const std::string line = pending.substr(0, nl);
      if (line.rfind("committed ", 0) == 0) k.lastReported = std::stoi(line.substr(10));
    }
  };
  const auto deadline = std::chrono::steady_clock::now() + runFor;
  while (open) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    consume(static_cast<int>(left.count()));
  }
  if (!open) {
    int status = 0;
    waitpid(pid, &status, 0);
    k.exitInfo = "the writer stopped by itself (wait status " + std::to_string(status) + ")";
    ::close(fds[0]);
    return k;
  }
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  k.signalled = WIFSIGNALED(status);
  while (open) {
    const std::size_t before = pending.size();
    const int reported = k.lastReported;
    consume(0);
    if (pending.size() == before && reported == k.lastReported) break;
  }
  ::close(fds[0]);
  return k;
}

int crashPoints() {
  const char* v = std::getenv("MAILFOLD_CRASH_POINTS");
  const int n = v ? std::atoi(v) : 0;
  return n > 0 ? n : 30;
}

TEST(CrashHarness, KilledWritersLoseNothingCommitted) {
  MAILFOLD_REQUIRE_SHARED();
  ASSERT_TRUE(std::filesystem::exists(test::binDir() / "mailfold-crash-writer")) << "build mailfold-crash-writer";
  const int points = crashPoints();
  const std::vector<std::string> samples{"outlook2010-nearly-empty.pst", "aranetic-flags-jane-doe.pst",
                                         "outlook365-backup.pst", "japanese-outlook-simple.pst", "pstsdk-sample1.pst"};
  test::TempDir dir;
  std::mt19937 rng(20261207);
  std::string path;
  int inFlightLanded = 0, beforeFirstCommit = 0, totalMessages = 0;
  for (int point = 0; point < points; ++point) {
    // Six kills in a row on one store (each writer continues the last one's work), then a
    // fresh copy of the next sample.
    if (point % 6 == 0) {
      path = (dir.path() / ("store-" + std::to_string(point / 6) + ".pst")).string();
      copySample(samples[(point / 6) % samples.size()], path);
    }
    SCOPED_TRACE("kill point " + std::to_string(point) + " on " + path);
    const int group = 1 + static_cast<int>(rng() % 8);
    // Every fifth kill comes within the first 40 ms: while the writer starts, opens the store
    // and takes its lock, before its first commit.
    const auto runFor = std::chrono::milliseconds(point % 5 == 4 ? rng() % 40 : 30 + rng() % 900);
    const int had = wholeMessages(path, kFolder);
    const Kill k = runAndKill(path, group, static_cast<unsigned>(rng()), runFor);
    ASSERT_TRUE(k.signalled) << k.exitInfo;

    // Opens as it is, read only; then for a writer, which rebuilds untrusted maps.
    const int have = wholeMessages(path, kFolder);
    if (k.lastReported < 0) {
      ++beforeFirstCommit;
      EXPECT_TRUE(have == had || (had == -1 && have == 0)) << "had " << had << ", has " << have;
    } else {
      EXPECT_GE(have, k.lastReported) << "messages reported committed are gone";
      EXPECT_LE(have, k.lastReported + group) << "more than the commit under way";
      if (have > k.lastReported) ++inFlightLanded;
    }
    Store::open(path, true)->close();
    for (const auto& v : checkStore(path)) ADD_FAILURE() << v;
    EXPECT_EQ(wholeMessages(path, kFolder), have);
    totalMessages += std::max(have - std::max(had, 0), 0);
    if (::testing::Test::HasFailure()) break;
  }
  std::printf("%d kill points: %d before the writer's first commit, %d with the commit under way landed, "
              "%d messages appended in all\n",
              points, beforeFirstCommit, inFlightLanded, totalMessages);
  EXPECT_LT(beforeFirstCommit, points / 2 + 1) << "most kills should hit a writer at work";
}

}  // namespace
}  // namespace mailfold::pst::safety
