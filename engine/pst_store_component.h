// The store component over our own store library (pst/) and the message importer (mime/): what
// the conversion engine drives in the product and in the headless converter.
//
//   PstStoreSessionFactory stores;
//   FolderConversion conversion(screen, stores);
//   auto outcome = conversion.StartMigration(...);
//   stores.Reconcile(outcome);  // messages lost to a failed commit become "BAD : " lines
//
// Durability. A saved message first goes into the store's open transaction; the session commits
// it to the file in groups: as soon as 64 messages, or one second of work, have gone in since the
// last commit, and always at Logoff. A commit costs several flushes to the disk, so committing
// after every message would multiply the run time on a real disk, while a group bounds what a
// crash or power loss can take to a few seconds of work that a new run redoes.
//
// A failed commit leaves the store unusable, and the messages saved since the previous commit are
// not in the file although the engine has counted them as imported. The session remembers their
// source files; Reconcile moves them from imported to failed in the folder's outcome and writes
// their "BAD : " lines, so that the log and the counts say exactly what the store file holds.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/folder_outcome.h"
#include "engine/store_component.h"

namespace mailfold::engine {

// When the session commits the messages saved so far.
struct CommitPolicy {
  std::size_t maxMessages = 64;
  std::chrono::milliseconds maxDelay{1000};
};

class PstStoreSessionFactory : public StoreSessionFactory {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  // Asked for the password of a store file protected by one, once per logon; nothing means the
  // user gave none (cancelled, or no way to ask).
  using PasswordSource = std::function<std::optional<std::string>(const std::string& storePath)>;

  explicit PstStoreSessionFactory(CommitPolicy policy = {}, Clock clock = std::chrono::steady_clock::now);

  // Without a source, stores protected by a password are not added to.
  void SetPasswordSource(PasswordSource source) { passwords_ = std::move(source); }

  std::unique_ptr<StoreSession> CreateSession() override;

  // Corrects `outcome` for the messages of its store that were saved but never committed: each
  // moves from imported to failed and gets its "BAD : " line in the folder's log. Call it after
  // StartMigration returns. Does nothing when every commit of that store succeeded.
  void Reconcile(FolderOutcome& outcome);

  // Source files saved into the store at `storePath` whose commit failed (for tests and reports).
  std::vector<std::string> UncommittedFiles(const std::string& storePath) const;
  // Commits made so far into the store at `storePath`, Logoff included.
  std::size_t Commits(const std::string& storePath) const;

  struct Ledger {
    std::vector<std::string> uncommitted;
    std::size_t commits = 0;
  };

 private:
  CommitPolicy policy_;
  Clock clock_;
  PasswordSource passwords_;
  std::map<std::string, std::shared_ptr<Ledger>> ledgers_;  // by store path as given to the logon
};

}  // namespace mailfold::engine
