#include "engine/pst_store_component.h"

#include <optional>
#include <utility>

#include "engine/conversion_log.h"
#include "mime/importer.h"
#include "pst/messaging/property_tags.h"
#include "pst/messaging/store.h"

namespace mailfold::engine {
namespace {

std::string HexOf(const pst::Bytes& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const auto byte : bytes) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0x0F]);
  }
  return text;
}

// One logged-on store and what the session knows about its commits. Shared by the session and
// every folder and message handed out, so that a handle kept past Logoff fails cleanly instead of
// touching a closed store.
struct OpenPstStore {
  std::string path;
  std::string displayName;  // as given at logon: every folder path starts with "\\" + this
  std::string entryId;
  std::unique_ptr<pst::Store> store;
  CommitPolicy policy;
  PstStoreSessionFactory::Clock clock;
  std::shared_ptr<PstStoreSessionFactory::Ledger> ledger;
  std::vector<std::string> saved;  // source files saved since the last commit
  std::chrono::steady_clock::time_point lastCommit;

  pst::Store& Require() {
    if (!store) throw StoreError("The store " + path + " is not open");
    return *store;
  }

  // A failed commit loses every message saved since the previous one; they are remembered
  // except `keep` (the message whose Save reports the failure itself).
  void Commit(std::size_t keep) {
    try {
      Require().commit();
    } catch (const std::exception& error) {
      const auto lost = saved.end() - static_cast<std::ptrdiff_t>(std::min(keep, saved.size()));
      ledger->uncommitted.insert(ledger->uncommitted.end(), saved.begin(), lost);
      saved.clear();
      throw StoreError("The store file " + path + " could not be written: " + error.what());
    }
    saved.clear();
    lastCommit = clock();
    ++ledger->commits;
  }

  void CommitIfDue() {
    if (saved.size() >= policy.maxMessages || clock() - lastCommit >= policy.maxDelay) Commit(1);
  }

  // Commits and closes; every message saved since the last commit is lost when this fails.
  void Close() {
    if (!store) return;
    std::unique_ptr<pst::Store> closing = std::move(store);
    try {
      closing->close();
    } catch (const std::exception& error) {
      ledger->uncommitted.insert(ledger->uncommitted.end(), saved.begin(), saved.end());
      saved.clear();
      // The caller names the store; the cause is what it needs from here.
      throw StoreError(error.what());
    }
    ++ledger->commits;
    saved.clear();
  }
};

class PstMessage : public MailMessage {
 public:
  PstMessage(std::shared_ptr<OpenPstStore> open, pst::Folder folder) : open_(std::move(open)), folder_(folder) {}

  void Import(const std::string& filePath, int type) override {
    if (type != kImportRfc822) throw StoreError("Unsupported import type " + std::to_string(type));
    try {
      model_ = mime::importMessageFile(filePath);
    } catch (const std::exception& error) {
      throw StoreError("The message file " + filePath + " could not be imported: " + error.what());
    }
    sourcePath_ = filePath;
  }

  // Adds the read bit to the flags the importer computed; the store sets the has-attachment bit
  // from the attachments (the paperclip of hidden-only ones is the importer's PidLidSmartNoAttach),
  // and an X-Unsent draft stays a draft.
  void MarkAsRead() override {
    if (!model_) throw StoreError("The message has not been imported");
    const auto* flags = model_->props.getAs<std::int32_t>(pst::kPrMessageFlags);
    model_->props.set(pst::kPrMessageFlags, (flags ? *flags : 0) | pst::kMsgFlagRead);
  }

  void Save() override {
    if (!model_) throw StoreError("The message has not been imported");
    open_->Require();
    // The model goes to the store: its large attachment data (temporary files) is let go as
    // soon as the message is written, or failed.
    pst::MessageModel model = std::move(*model_);
    model_.reset();
    try {
      folder_.addMessage(std::move(model));
    } catch (const std::exception& error) {
      throw StoreError("The message from " + sourcePath_ + " could not be written into the store: " + error.what());
    }
    open_->saved.push_back(sourcePath_);
    open_->CommitIfDue();
  }

 private:
  std::shared_ptr<OpenPstStore> open_;
  pst::Folder folder_;
  std::optional<pst::MessageModel> model_;
  std::string sourcePath_;
};

// Runs a read of the store, turning its failure into the component's error.
template <class Action>
auto Guarded(Action action, const char* what) -> decltype(action()) {
  try {
    return action();
  } catch (const std::exception& error) {
    throw StoreError(std::string("Could not ") + what + ": " + error.what());
  }
}

class PstFolder : public StoreFolder {
 public:
  PstFolder(std::shared_ptr<OpenPstStore> open, pst::Folder folder) : open_(std::move(open)), folder_(folder) {}

  std::string Name() const override {
    open_->Require();
    return Guarded([&] { return folder_.name(); }, "read the name of a folder");
  }

  std::vector<std::shared_ptr<StoreFolder>> Folders() override {
    open_->Require();
    const auto children = Guarded([&] { return folder_.children(); }, "list the sub-folders of a folder");
    std::vector<std::shared_ptr<StoreFolder>> folders;
    folders.reserve(children.size());
    for (const auto& child : children) folders.push_back(std::make_shared<PstFolder>(open_, child));
    return folders;
  }

  std::shared_ptr<StoreFolder> AddFolder(const std::string& name, int kind) override {
    if (kind != kMailFolderKind) throw StoreError("Unsupported folder kind " + std::to_string(kind));
    open_->Require();
    try {
      return std::make_shared<PstFolder>(open_, folder_.addChild(name));
    } catch (const std::exception& error) {
      throw StoreError("The folder \"" + name + "\" could not be created: " + error.what());
    }
  }

  std::unique_ptr<MailMessage> AddItem(int kind) override {
    if (kind != kMailItemKind) throw StoreError("Unsupported item kind " + std::to_string(kind));
    open_->Require();
    return std::make_unique<PstMessage>(open_, folder_);
  }

 private:
  std::shared_ptr<OpenPstStore> open_;
  pst::Folder folder_;
};

// A default folder that a store made elsewhere does not have: its English name stands in until a
// message or a sub-folder needs it, and then it is made as a plain top-level folder. It is never
// designated, so the store's own special folders stay as its owner's Outlook set them.
class UndesignatedDefaultFolder : public StoreFolder {
 public:
  UndesignatedDefaultFolder(std::shared_ptr<OpenPstStore> open, std::string name)
      : open_(std::move(open)), name_(std::move(name)) {}

  std::string Name() const override { return name_; }
  std::vector<std::shared_ptr<StoreFolder>> Folders() override {
    return made_ ? made_->Folders() : std::vector<std::shared_ptr<StoreFolder>>{};
  }
  std::shared_ptr<StoreFolder> AddFolder(const std::string& name, int kind) override {
    return Made().AddFolder(name, kind);
  }
  std::unique_ptr<MailMessage> AddItem(int kind) override { return Made().AddItem(kind); }

 private:
  StoreFolder& Made() {
    if (made_) return *made_;
    pst::Store& store = open_->Require();
    try {
      pst::Folder top = store.ipmRoot();
      const auto existing = top.child(name_);
      made_ = std::make_shared<PstFolder>(open_, existing ? *existing : top.addChild(name_));
    } catch (const std::exception& error) {
      throw StoreError("The folder \"" + name_ + "\" could not be created: " + error.what());
    }
    return *made_;
  }

  std::shared_ptr<OpenPstStore> open_;
  std::string name_;
  std::shared_ptr<PstFolder> made_;
};

class PstMessageStore : public MessageStore {
 public:
  explicit PstMessageStore(std::shared_ptr<OpenPstStore> open) : open_(std::move(open)) {}

  std::string EntryID() override { return open_->entryId; }

  // Only a store this session made gets the default folders with their designations. A store
  // that existed keeps its folders and designations byte for byte: it may be a profile's default
  // store, whose Inbox, calendar and contacts must not move to new folders, or a localized one
  // ("Caixa de Entrada") that an English set would double.
  void ValidateIPMTree() override {
    if (!open_->Require().isNew()) return;
    try {
      open_->Require().validateIpmTree();
      // A new store is complete on disk with its default folders before the first message.
      open_->Commit(0);
    } catch (const std::exception& error) {
      throw StoreError("The default folders of " + open_->path + " could not be created: " + error.what());
    }
  }

  // The folder the store records for `kind`. A store made elsewhere that records none offers a
  // top-level folder of the English name, else that name as a folder made when first used.
  std::shared_ptr<StoreFolder> GetDefaultFolder(DefaultFolder kind) override {
    try {
      pst::Store& store = open_->Require();
      if (auto recorded = store.findDefaultFolder(static_cast<int>(kind)))
        return std::make_shared<PstFolder>(open_, *recorded);
      const auto info = pst::defaultFolderInfo(static_cast<int>(kind));
      if (!info) throw StoreError("unknown default folder kind");
      if (store.isNew()) throw StoreError(std::string("the store records no ") + info->name + " folder");
      if (auto top = store.ipmRoot().child(info->name)) return std::make_shared<PstFolder>(open_, *top);
      return std::make_shared<UndesignatedDefaultFolder>(open_, info->name);
    } catch (const std::exception& error) {
      throw StoreError("The default folder " + std::to_string(static_cast<int>(kind)) + " of " + open_->path +
                       " is missing: " + error.what());
    }
  }

  std::shared_ptr<StoreFolder> IPMRootFolder() override {
    try {
      return std::make_shared<PstFolder>(open_, open_->Require().ipmRoot());
    } catch (const std::exception& error) {
      throw StoreError("The folder tree of " + open_->path + " could not be read: " + error.what());
    }
  }

 private:
  std::shared_ptr<OpenPstStore> open_;
};

// The first component of a folder path (without its leading "\\"), for the missing-folder error.
std::string FirstComponentOf(const std::string& path) {
  std::size_t start = 0;
  while (start < path.size() && path[start] == '\\') ++start;
  const std::size_t end = path.find('\\', start);
  return path.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

class PstSession : public StoreSession {
 public:
  PstSession(CommitPolicy policy, PstStoreSessionFactory::Clock clock, PstStoreSessionFactory::PasswordSource passwords,
             std::function<std::shared_ptr<PstStoreSessionFactory::Ledger>(const std::string&)> ledgerFor)
      : policy_(policy), clock_(std::move(clock)), passwords_(std::move(passwords)), ledgerFor_(std::move(ledgerFor)) {}

  // A session dropped without Logoff (a failure path of the caller) still commits what it saved.
  ~PstSession() override {
    if (!open_) return;
    try {
      open_->Close();
    } catch (const std::exception&) {
      // Recorded in the ledger as uncommitted files; nothing else can be done in a destructor.
    }
  }

  std::shared_ptr<MessageStore> LogonPstStore(const std::string& path, int format,
                                              const std::string& displayName) override {
    if (format != kDefaultStoreFormat) throw StoreError("Unsupported store format " + std::to_string(format));
    if (open_) throw StoreError("The session has a store open already: " + open_->path);
    if (path.empty()) throw StoreError("No store file was named");
    auto open = std::make_shared<OpenPstStore>();
    open->path = path;
    open->displayName = displayName;
    open->policy = policy_;
    open->clock = clock_;
    open->ledger = ledgerFor_(path);
    try {
      try {
        open->store = pst::Store::openOrCreate(path, displayName);
      } catch (const pst::PasswordError& refused) {
        // Asked only once the store is known to need it; the file is untouched until it matches.
        const auto password = passwords_ ? passwords_(path) : std::nullopt;
        if (!password) throw StorePasswordError(refused.what());
        try {
          open->store = pst::Store::openOrCreate(path, displayName, password);
        } catch (const pst::PasswordError& wrong) {
          throw StorePasswordError(wrong.what());
        }
      }
      if (!open->store->writable()) throw StoreError("the file is open read-only");
      open->entryId = HexOf(open->store->entryId());
    } catch (const StoreError&) {
      throw;
    } catch (const std::exception& error) {
      throw StoreError(error.what());
    }
    open->lastCommit = clock_();
    open_ = std::move(open);
    store_ = std::make_shared<PstMessageStore>(open_);
    return store_;
  }

  std::shared_ptr<MessageStore> GetStoreFromID(const std::string& entryId) override {
    if (!open_ || entryId != open_->entryId) throw StoreError("No open store has the identifier " + entryId);
    return store_;
  }

  std::vector<std::shared_ptr<MessageStore>> Stores() override {
    if (!open_) return {};
    return {store_};
  }

  std::shared_ptr<StoreFolder> GetFolderFromPath(const std::string& path) override {
    if (!open_) throw StoreError("The session has no store open");
    const std::string prefix = "\\\\" + open_->displayName;
    const bool underStore =
        path.starts_with(prefix) && (path.size() == prefix.size() || path[prefix.size()] == '\\');
    if (!underStore) throw StoreError(FolderDoesNotExistDescription(FirstComponentOf(path)));
    try {
      return std::make_shared<PstFolder>(open_, open_->Require().folderByPath(path.substr(prefix.size())));
    } catch (const StoreError&) {
      throw;
    } catch (const std::exception& error) {
      // The store's own text already reads: Folder "<name>" does not exist.
      throw StoreError(error.what());
    }
  }

  void Logoff() override {
    if (!open_) throw StoreError("The session has no store open");
    const auto open = std::move(open_);
    store_.reset();
    open->Close();
  }

 private:
  CommitPolicy policy_;
  PstStoreSessionFactory::Clock clock_;
  PstStoreSessionFactory::PasswordSource passwords_;
  std::function<std::shared_ptr<PstStoreSessionFactory::Ledger>(const std::string&)> ledgerFor_;
  std::shared_ptr<OpenPstStore> open_;
  std::shared_ptr<MessageStore> store_;
};

}  // namespace

PstStoreSessionFactory::PstStoreSessionFactory(CommitPolicy policy, Clock clock)
    : policy_(policy), clock_(std::move(clock)) {
  if (policy_.maxMessages == 0) policy_.maxMessages = 1;
}

std::unique_ptr<StoreSession> PstStoreSessionFactory::CreateSession() {
  return std::make_unique<PstSession>(policy_, clock_, passwords_, [this](const std::string& path) {
    auto& ledger = ledgers_[path];
    if (!ledger) ledger = std::make_shared<Ledger>();
    return ledger;
  });
}

void PstStoreSessionFactory::Reconcile(FolderOutcome& outcome) {
  const auto found = ledgers_.find(outcome.storePath);
  if (found == ledgers_.end() || found->second->uncommitted.empty()) return;
  auto& lost = found->second->uncommitted;
  LogAppender log(outcome.logPath);
  for (const auto& path : lost) {
    // Only files this outcome counted as imported move; anything else was reported already.
    if (outcome.imported <= 0) break;
    --outcome.imported;
    ++outcome.failed;
    outcome.failedFiles.push_back(path);
    if (!log.WriteBad(path)) outcome.logComplete = false;
  }
  lost.clear();
}

std::vector<std::string> PstStoreSessionFactory::UncommittedFiles(const std::string& storePath) const {
  const auto found = ledgers_.find(storePath);
  return found == ledgers_.end() ? std::vector<std::string>{} : found->second->uncommitted;
}

std::size_t PstStoreSessionFactory::Commits(const std::string& storePath) const {
  const auto found = ledgers_.find(storePath);
  return found == ledgers_.end() ? 0 : found->second->commits;
}

}  // namespace mailfold::engine
