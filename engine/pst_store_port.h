// The store port over our own store library (pst/): what the engine uses in the product and in
// the headless converter.
//
//   PstStoreOpener stores;
//   auto store = stores.Open("/x/mail.pst", "Mail : Created - 6.12.26 4.7.05", askPassword);
//   store->AddMessage(store->Top(), std::move(model), "/src/a.eml");
//   CloseReport report = store->Close();  // report.lost: files whose messages a commit lost
//
// Durability. An added message first goes into the store's open transaction; the port commits
// it to the file in groups: as soon as one second of work, or 64 MB of message files, have gone in
// since the last commit, and always at Close. A commit costs several flushes to the disk, so
// committing after every message (or every few dozen, at thousands a second) would let the disk
// set the pace, while a group bounds what a crash or power loss can take to about a second of work
// that a new run redoes; the log never claims a message the file does not hold.
//
// A failed commit leaves the store unusable, and the messages added since the previous commit
// are not in the file although the engine counted them as added: Close lists their source files
// so that the engine moves them to the failed ones, with their log lines.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "engine/store_port.h"

namespace mailfold::engine {

// When the port commits the messages added so far.
struct CommitPolicy {
  std::uint64_t maxBytes = 64ull << 20;  // of message files added since the last commit
  std::chrono::milliseconds maxDelay{1000};
};

class PstStoreOpener : public StoreOpener {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  explicit PstStoreOpener(CommitPolicy policy = {}, Clock clock = std::chrono::steady_clock::now);

  std::unique_ptr<OpenStore> Open(const std::string& path, const std::string& displayName,
                                  const PasswordSource& password) override;

  // Commits made so far into the store at `path` by stores this opener opened (tests, reports).
  std::size_t Commits(const std::string& path) const;

 private:
  CommitPolicy policy_;
  Clock clock_;
  std::shared_ptr<std::map<std::string, std::size_t>> commits_;
};

}  // namespace mailfold::engine
