// mailfold-crash-writer: appends numbered messages to a store until it is killed.
//
//   mailfold-crash-writer STORE FOLDER GROUP SEED [LIMIT]
//
// Opens STORE for adding, makes FOLDER below the IPM root when it is missing, then appends
// messages numbered from the folder's message count on, committing after groups of 1..GROUP
// messages (sizes drawn from SEED). After each commit it prints "committed N" (N = messages in
// the folder) and flushes stdout, so the process watching it knows what must survive a kill.
// Stops after LIMIT messages (default: never). Exit 0 on a clean stop, 1 on an error.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <random>
#include <string>

#include "pst/messaging/store.h"
#include "tools/crashtest/crash_messages.h"

using namespace mailfold;

int main(int argc, char** argv) {
  if (argc < 5 || argc > 6) {
    std::fprintf(stderr, "usage: mailfold-crash-writer STORE FOLDER GROUP SEED [LIMIT]\n");
    return 2;
  }
  const std::string path = argv[1];
  const std::string folderName = argv[2];
  const int group = std::atoi(argv[3]);
  const unsigned seed = static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10));
  const unsigned long limit = argc == 6 ? std::strtoul(argv[5], nullptr, 10) : 0;
  if (group < 1) {
    std::fprintf(stderr, "GROUP must be at least 1\n");
    return 2;
  }
  try {
    auto store = pst::Store::open(path, true);
    pst::Folder ipm = store->ipmRoot();
    std::optional<pst::Folder> existing = ipm.child(folderName);
    pst::Folder folder = existing ? *existing : ipm.addChild(folderName);
    store->commit();
    std::uint32_t next = static_cast<std::uint32_t>(folder.messages().size());
    std::printf("committed %u\n", next);
    std::fflush(stdout);
    std::mt19937 rng(seed);
    for (unsigned long written = 0; limit == 0 || written < limit;) {
      const int n = 1 + static_cast<int>(rng() % static_cast<unsigned>(group));
      for (int i = 0; i < n; ++i, ++written) folder.addMessage(crashtest::crashMessage(next++));
      store->commit();
      std::printf("committed %u\n", next);
      std::fflush(stdout);
    }
    store->close();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mailfold-crash-writer: %s\n", e.what());
    return 1;
  }
  return 0;
}
