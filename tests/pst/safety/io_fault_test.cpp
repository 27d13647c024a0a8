// A write or flush that fails (disk full, I/O error) anywhere while messages are added to an
// Outlook-made store: the operation reports it, and the file holds the last commit that got
// through, whole, clean for the checker once reopened.
#include <gtest/gtest.h>

#include "pst/messaging/property_tags.h"
#include "pst/messaging/store.h"
#include "pst/messaging/store_check.h"
#include "pst/ndb/file.h"
#include "safety_fixture.h"
#include "support/temp_dir.h"
#include "crash_check.h"
#include "tools/crashtest/crash_messages.h"

namespace mailfold::pst::safety {
namespace {

constexpr const char* kFolder = "Fault sweep";
// Messages in the folder after each commit: the folder alone, then groups of 1, 2, 3, 1, 4, 2.
const std::vector<std::uint32_t> kAfterCommit{0, 1, 3, 6, 7, 11, 13};

// Runs the whole sequence of commits; returns how many commits got through. Rethrows nothing:
// the failure's message goes to `error`.
int addInCommits(const std::string& path, std::string* error) {
  int commits = 0;
  try {
    auto store = Store::open(path, true);
    Folder folder = store->ipmRoot().addChild(kFolder);
    store->commit();
    ++commits;
    for (std::size_t c = 1; c < kAfterCommit.size(); ++c) {
      for (std::uint32_t n = kAfterCommit[c - 1]; n < kAfterCommit[c]; ++n) folder.addMessage(crashtest::crashMessage(n));
      store->commit();
      ++commits;
    }
    store->close();
  } catch (const Error& e) {
    *error = e.what();
  }
  return commits;
}

struct SweepResult {
  int points = 0;
  int failedRuns = 0;
};

SweepResult sweep(const std::string& sampleName, bool flushes) {
  test::TempDir dir;
  const std::string base = copySample(sampleName, dir.path() / "base.pst");
  const std::string baseBytes = fileBytes(base);
  SweepResult result;
  // Failing the n-th call, for every n until a run gets through untouched. Writes are many:
  // every one of the last commit's, every third one before it.
  for (std::uint64_t n = 1;; n += (flushes || n > 400) ? 1 : 3) {
    SCOPED_TRACE((flushes ? "flush " : "write ") + std::to_string(n));
    const std::string path = (dir.path() / "run.pst").string();
    writeFile(path, baseBytes);
    ndb::FaultPlan plan;
    (flushes ? plan.failFlushAt : plan.failWriteAt) = n;
    plan.error = n % 2 ? 28 : 5;  // ENOSPC, EIO
    ndb::File::armFaultPlan(path, plan);
    std::string error;
    const int commits = addInCommits(path, &error);
    ndb::File::disarmFaultPlans();
    ++result.points;
    const bool failed = !error.empty();
    if (failed) {
      ++result.failedRuns;
      EXPECT_TRUE(error.find(n % 2 ? "No space left on device" : "Input/output error") != std::string::npos) << error;
      EXPECT_NE(error.find(path), std::string::npos) << error;
    }
    // The file holds the last commit that got through, or (failure after its header was
    // written, when nobody can know whether it landed) the one under way.
    const int have = wholeMessages(path, kFolder);
    const int last = commits == 0 ? -1 : static_cast<int>(kAfterCommit[commits - 1]);
    const int next = commits < static_cast<int>(kAfterCommit.size()) ? static_cast<int>(kAfterCommit[commits]) : last;
    EXPECT_TRUE(have == last || (failed && have == next)) << "holds " << have << " messages after " << commits
                                                          << " commits";
    // A writer opening it afterwards finds a clean store (maps rebuilt where left untrusted).
    Store::open(path, true)->close();
    for (const auto& v : checkStore(path)) ADD_FAILURE() << v;
    EXPECT_EQ(wholeMessages(path, kFolder), have);
    if (!failed) break;
    if (n > 5000) {
      ADD_FAILURE() << "the sequence never got through";
      break;
    }
  }
  return result;
}

TEST(IoFaults, FailedWritesAndFlushesLeaveTheLastCommit) {
  MAILFOLD_REQUIRE_SHARED();
  int points = 0;
  for (const char* name : {"outlook2010-nearly-empty.pst", "aranetic-flags-jane-doe.pst"}) {
    SCOPED_TRACE(name);
    for (bool flushes : {false, true}) {
      const SweepResult r = sweep(name, flushes);
      EXPECT_GT(r.failedRuns, 10);
      points += r.points;
      std::printf("%s, %s: %d fault points, %d failed runs\n", name, flushes ? "flush" : "write", r.points,
                  r.failedRuns);
    }
  }
  EXPECT_GE(points, 100);
}

}  // namespace
}  // namespace mailfold::pst::safety
