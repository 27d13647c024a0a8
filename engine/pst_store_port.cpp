#include "engine/pst_store_port.h"

#include <filesystem>
#include <utility>

#include "pst/messaging/property_tags.h"
#include "pst/messaging/store.h"

namespace mailfold::engine {
namespace {

[[noreturn]] void Rethrow(const std::exception& error, FailureKind fallback, const std::string& context) {
  const Failure failure = FailureOf(error, fallback);
  throw ConversionError(failure.kind, context + failure.cause);
}

class PstOpenStore : public OpenStore {
 public:
  PstOpenStore(std::unique_ptr<pst::Store> store, std::string path, CommitPolicy policy, PstStoreOpener::Clock clock,
               std::shared_ptr<std::map<std::string, std::size_t>> commits, std::function<void()> undoCreation)
      : store_(std::move(store)),
        path_(std::move(path)),
        undoCreation_(std::move(undoCreation)),
        policy_(policy),
        clock_(std::move(clock)),
        commits_(std::move(commits)),
        lastCommit_(clock_()) {}

  ~PstOpenStore() override { Close(); }

  std::string InboxName() override { return DefaultName(pst::DefaultFolder::kInbox); }
  std::string SentItemsName() override { return DefaultName(pst::DefaultFolder::kSentItems); }

  FolderId Top() override {
    try {
      return Require().ipmRoot().nid();
    } catch (const std::exception& error) {
      Rethrow(error, FailureKind::Corrupt, "The folder tree of " + path_ + " could not be read: ");
    }
  }

  std::vector<std::string> SubfolderNames(FolderId parent) override {
    try {
      std::vector<std::string> names;
      for (const auto& child : Require().folder(static_cast<pst::ndb::Nid>(parent)).children())
        names.push_back(child.name());
      return names;
    } catch (const std::exception& error) {
      Rethrow(error, FailureKind::Corrupt, "The sub-folders of a folder could not be read: ");
    }
  }

  std::optional<FolderId> FindFolder(const FolderPath& path) override {
    if (const auto cached = found_.find(path); cached != found_.end()) return cached->second;
    try {
      pst::Folder folder = Require().ipmRoot();
      for (const auto& name : path) {
        const auto child = folder.child(name);
        if (!child) return std::nullopt;
        folder = *child;
      }
      found_.emplace(path, folder.nid());
      return folder.nid();
    } catch (const std::exception& error) {
      Rethrow(error, FailureKind::Corrupt, "The folder tree of " + path_ + " could not be read: ");
    }
  }

  FolderId CreateFolder(FolderId parent, const std::string& name) override {
    try {
      return Require().folder(static_cast<pst::ndb::Nid>(parent)).addChild(name).nid();
    } catch (const std::exception& error) {
      Rethrow(error, FailureKind::Refused, "The folder \"" + name + "\" could not be created: ");
    }
  }

  void AddMessage(FolderId folder, pst::MessageModel message, const std::string& sourceFile) override {
    try {
      // The model goes to the store: its large attachment data (temporary files) is let go as
      // soon as the message is written, or failed.
      Require().folder(static_cast<pst::ndb::Nid>(folder)).addMessage(std::move(message));
    } catch (const ConversionError&) {
      throw;
    } catch (const std::exception& error) {
      Rethrow(error, FailureKind::Io, "The message could not be written into the store: ");
    }
    added_.push_back(sourceFile);
    std::error_code unknown;
    const auto bytes = std::filesystem::file_size(sourceFile, unknown);
    addedBytes_ += unknown ? 0 : bytes;
    if (addedBytes_ >= policy_.maxBytes || clock_() - lastCommit_ >= policy_.maxDelay) Commit(1);
  }

  void Abandon() override {
    if (!store_) return;
    std::unique_ptr<pst::Store> closing = std::move(store_);
    try {
      closing->discard();
    } catch (const std::exception&) {
      // The file keeps its last commit whatever discard met on the way.
    }
    closing.reset();
    added_.clear();
    if (undoCreation_) undoCreation_();
  }

  CloseReport Close() override {
    CloseReport report;
    if (!store_) {
      report.lost = std::exchange(lost_, {});
      return report;
    }
    std::unique_ptr<pst::Store> closing = std::move(store_);
    try {
      closing->close();
      ++(*commits_)[path_];
    } catch (const std::exception& error) {
      lost_.insert(lost_.end(), added_.begin(), added_.end());
      report.failure = FailureOf(error, FailureKind::Io);
      report.failure->cause = "The store file " + path_ + " could not be completed: " + report.failure->cause;
    }
    added_.clear();
    report.lost = std::exchange(lost_, {});
    return report;
  }

 private:
  pst::Store& Require() {
    if (!store_) throw ConversionError(FailureKind::Io, "The store " + path_ + " is not open");
    return *store_;
  }

  std::string DefaultName(pst::DefaultFolder kind) {
    try {
      pst::Store& store = Require();
      if (auto recorded = store.findDefaultFolder(static_cast<int>(kind))) return recorded->name();
      const auto info = pst::defaultFolderInfo(static_cast<int>(kind));
      // A store made elsewhere that records none: its folder of the English name, made when first
      // needed, never designated.
      return info ? info->name : "";
    } catch (const std::exception& error) {
      Rethrow(error, FailureKind::Corrupt, "The default folders of " + path_ + " could not be read: ");
    }
  }

  // A failed commit loses every message added since the previous one; they are remembered but
  // `keep` (the message whose addition reports the failure itself).
  void Commit(std::size_t keep) {
    try {
      Require().commit();
    } catch (const std::exception& error) {
      const auto kept = added_.end() - static_cast<std::ptrdiff_t>(std::min(keep, added_.size()));
      lost_.insert(lost_.end(), added_.begin(), kept);
      added_.clear();
      addedBytes_ = 0;
      Rethrow(error, FailureKind::Io, "The store file " + path_ + " could not be written: ");
    }
    added_.clear();
    addedBytes_ = 0;
    lastCommit_ = clock_();
    ++(*commits_)[path_];
  }

  std::unique_ptr<pst::Store> store_;
  std::string path_;
  std::function<void()> undoCreation_;  // empty for a store that existed
  CommitPolicy policy_;
  PstStoreOpener::Clock clock_;
  std::shared_ptr<std::map<std::string, std::size_t>> commits_;
  std::chrono::steady_clock::time_point lastCommit_;
  std::vector<std::string> added_;  // source files added since the last commit
  std::uint64_t addedBytes_ = 0;    // and their size
  std::vector<std::string> lost_;   // source files whose messages a failed commit lost
  std::map<FolderPath, FolderId> found_;
};

}  // namespace

PstStoreOpener::PstStoreOpener(CommitPolicy policy, Clock clock)
    : policy_(policy), clock_(std::move(clock)), commits_(std::make_shared<std::map<std::string, std::size_t>>()) {
  if (policy_.maxBytes == 0) policy_.maxBytes = 1;
}

std::size_t PstStoreOpener::Commits(const std::string& path) const {
  const auto found = commits_->find(path);
  return found == commits_->end() ? 0 : found->second;
}

std::unique_ptr<OpenStore> PstStoreOpener::Open(const std::string& path, const std::string& displayName,
                                                const PasswordSource& password) {
  if (path.empty()) throw ConversionError(FailureKind::NotFound, "No store file was named");
  // A store this open makes and then fails to finish is taken away again: a half-made file would
  // block every later run ("it has no message store object"). An empty file stays empty.
  std::error_code ignored;
  const bool existed = std::filesystem::exists(path, ignored);
  const bool hadContent = existed && std::filesystem::file_size(path, ignored) > 0;
  const auto undoCreation = [path, existed, hadContent] {
    if (hadContent) return;
    std::error_code error;
    if (existed) std::filesystem::resize_file(path, 0, error);
    else std::filesystem::remove(path, error);
  };
  std::unique_ptr<pst::Store> store;
  try {
    try {
      store = pst::Store::openOrCreate(path, displayName);
    } catch (const pst::PasswordError& refused) {
      // Asked only once the store is known to need it; the file is untouched until it matches.
      const auto given = password ? password(path) : std::nullopt;
      if (!given) throw StorePasswordRefused(refused.what());
      try {
        store = pst::Store::openOrCreate(path, displayName, given);
      } catch (const pst::PasswordError& wrong) {
        throw StorePasswordRefused(wrong.what());
      }
    }
    if (!store->writable()) throw ConversionError(FailureKind::Refused, "the file is open read-only");
    // Only a store made now gets the default folders and their designations: a store that
    // existed is someone's own, and may be a profile's default store or a localized one.
    if (store->isNew()) {
      store->validateIpmTree();
      store->commit();
      ++(*commits_)[path];
    }
  } catch (const pst::StoreInUseError& inUse) {
    // Another writer's file: never undone on its behalf.
    throw StoreInUse(inUse.what());
  } catch (const ConversionError&) {
    store.reset();
    undoCreation();
    throw;
  } catch (const std::exception& error) {
    store.reset();
    undoCreation();
    Rethrow(error, FailureKind::Corrupt, "");
  }
  const bool created = store->isNew() && !hadContent;
  return std::make_unique<PstOpenStore>(std::move(store), path, policy_, clock_, commits_,
                                        created ? std::function<void()>(undoCreation) : std::function<void()>());
}

}  // namespace mailfold::engine
