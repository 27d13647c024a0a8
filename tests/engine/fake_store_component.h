// An in-memory store component for the engine tests: stores kept by path (so a second logon to
// the same path adds to the same store), folders by name in creation order, messages recording
// the source file they were imported from, and failures to inject.
#pragma once

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/store_component.h"

namespace mailfold::test {

struct FakeItem {
  std::string sourceFile;
  bool read = false;
};

struct FakeFailures {
  bool createSession = false;
  bool logon = false;
  bool validate = false;
  bool logoff = false;
  std::set<std::string> importFileNames;  // Import fails for source files with these names
  std::set<std::string> saveFileNames;    // Save fails for messages imported from these names
  std::set<std::string> folderNames;      // AddFolder refuses these names
};

class FakeFolder : public engine::StoreFolder {
 public:
  FakeFolder(std::string name, const FakeFailures& failures) : name_(std::move(name)), failures_(failures) {}

  std::string Name() const override { return name_; }
  std::vector<std::shared_ptr<engine::StoreFolder>> Folders() override {
    return {children_.begin(), children_.end()};
  }
  std::shared_ptr<engine::StoreFolder> AddFolder(const std::string& name, int kind) override {
    if (kind != engine::kMailFolderKind) throw engine::StoreError("unexpected folder kind");
    if (name.empty() || name.find('\\') != std::string::npos || failures_.folderNames.count(name))
      throw engine::StoreError("The folder name \"" + name + "\" is not valid");
    if (Child(name)) throw engine::StoreError("A folder named \"" + name + "\" exists already");
    children_.push_back(std::make_shared<FakeFolder>(name, failures_));
    return children_.back();
  }
  std::unique_ptr<engine::MailMessage> AddItem(int kind) override;

  std::shared_ptr<FakeFolder> Child(const std::string& name) const {
    for (const auto& child : children_)
      if (child->name_ == name) return child;
    return nullptr;
  }
  const std::vector<std::shared_ptr<FakeFolder>>& children() const { return children_; }
  std::vector<FakeItem>& items() { return items_; }
  const FakeFailures& failures() const { return failures_; }

  // The folder at "a\b\c" below this one, or null.
  std::shared_ptr<FakeFolder> Find(const std::string& relative) const {
    std::shared_ptr<FakeFolder> folder;
    const FakeFolder* current = this;
    std::size_t start = 0;
    while (start <= relative.size()) {
      const auto end = std::min(relative.find('\\', start), relative.size());
      folder = current->Child(relative.substr(start, end - start));
      if (!folder) return nullptr;
      current = folder.get();
      start = end + 1;
    }
    return folder;
  }

  // Source file names of every item in this folder.
  std::vector<std::string> ItemNames() const {
    std::vector<std::string> names;
    for (const auto& item : items_) names.push_back(std::filesystem::path(item.sourceFile).filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  // Every folder path below this one ("a", "a\b", ...), depth-first in creation order.
  void CollectPaths(const std::string& prefix, std::vector<std::string>& out) const {
    for (const auto& child : children_) {
      out.push_back(prefix + child->name_);
      child->CollectPaths(prefix + child->name_ + "\\", out);
    }
  }
  std::size_t CountItemsDeep() const {
    std::size_t count = items_.size();
    for (const auto& child : children_) count += child->CountItemsDeep();
    return count;
  }

 private:
  std::string name_;
  const FakeFailures& failures_;
  std::vector<std::shared_ptr<FakeFolder>> children_;
  std::vector<FakeItem> items_;
};

class FakeMessage : public engine::MailMessage {
 public:
  FakeMessage(FakeFolder& folder) : folder_(folder) {}
  void Import(const std::string& filePath, int type) override {
    if (type != engine::kImportRfc822) throw engine::StoreError("unexpected import type");
    const std::string name = std::filesystem::path(filePath).filename().string();
    if (folder_.failures().importFileNames.count(name)) throw engine::StoreError("The message could not be read");
    if (!std::filesystem::is_regular_file(filePath)) throw engine::StoreError("No such file: " + filePath);
    item_.sourceFile = filePath;
  }
  void MarkAsRead() override { item_.read = true; }
  void Save() override {
    const std::string name = std::filesystem::path(item_.sourceFile).filename().string();
    if (folder_.failures().saveFileNames.count(name)) throw engine::StoreError("The message could not be saved");
    folder_.items().push_back(item_);
  }

 private:
  FakeFolder& folder_;
  FakeItem item_;
};

inline std::unique_ptr<engine::MailMessage> FakeFolder::AddItem(int kind) {
  if (kind != engine::kMailItemKind) throw engine::StoreError("unexpected item kind");
  return std::make_unique<FakeMessage>(*this);
}

// One store file.
struct FakeStoreFile {
  std::shared_ptr<FakeFolder> root;
  std::string displayName;
  int logons = 0;
  int logoffs = 0;
};

class FakeStore : public engine::MessageStore {
 public:
  FakeStore(FakeStoreFile& file, std::string id, std::vector<std::string> defaults, const FakeFailures& failures)
      : file_(file), id_(std::move(id)), defaults_(std::move(defaults)), failures_(failures) {}
  std::string EntryID() override { return id_; }
  void ValidateIPMTree() override {
    if (failures_.validate) throw engine::StoreError("The store's folder tree is damaged");
    for (const auto& name : defaults_)
      if (!file_.root->Child(name)) file_.root->AddFolder(name, engine::kMailFolderKind);
  }
  std::shared_ptr<engine::StoreFolder> GetDefaultFolder(engine::DefaultFolder kind) override {
    const std::string& name = kind == engine::DefaultFolder::Inbox ? defaults_.at(0) : defaults_.at(1);
    auto folder = file_.root->Child(name);
    if (!folder) throw engine::StoreError("The default folder is missing");
    return folder;
  }
  std::shared_ptr<engine::StoreFolder> IPMRootFolder() override { return file_.root; }

 private:
  FakeStoreFile& file_;
  std::string id_;
  std::vector<std::string> defaults_;
  const FakeFailures& failures_;
};

// The factory and the "disk" of stores. The first two default folder names are the Inbox and
// Sent Items (change them to test a store whose default folders carry other names).
class FakeStoreComponent : public engine::StoreSessionFactory {
 public:
  FakeFailures failures;
  std::vector<std::string> defaultFolders = {"Inbox", "Sent Items", "Deleted Items", "Outbox", "Calendar",
                                             "Contacts", "Tasks", "Drafts"};
  std::map<std::string, FakeStoreFile> stores;  // by store path
  int sessionsCreated = 0;
  std::vector<std::string> folderLookups;  // every path given to GetFolderFromPath

  std::unique_ptr<engine::StoreSession> CreateSession() override;

  FakeStoreFile& Store(const std::string& path) { return stores.at(path); }
};

class FakeSession : public engine::StoreSession {
 public:
  explicit FakeSession(FakeStoreComponent& component) : component_(component) {}

  std::shared_ptr<engine::MessageStore> LogonPstStore(const std::string& path, int format,
                                                      const std::string& displayName) override {
    if (format != engine::kDefaultStoreFormat) throw engine::StoreError("unexpected store format");
    if (component_.failures.logon) throw engine::StoreError("Permission denied");
    auto [it, created] = component_.stores.try_emplace(path);
    if (created) it->second.root = std::make_shared<FakeFolder>("", component_.failures);
    it->second.displayName = displayName;
    ++it->second.logons;
    file_ = &it->second;
    store_ = std::make_shared<FakeStore>(*file_, "id:" + path, component_.defaultFolders, component_.failures);
    return store_;
  }
  std::shared_ptr<engine::MessageStore> GetStoreFromID(const std::string& entryId) override {
    if (!store_ || entryId != store_->EntryID()) throw engine::StoreError("No store with that identifier");
    return store_;
  }
  std::vector<std::shared_ptr<engine::MessageStore>> Stores() override {
    if (!store_) return {};
    return {store_};
  }
  std::shared_ptr<engine::StoreFolder> GetFolderFromPath(const std::string& path) override {
    component_.folderLookups.push_back(path);
    if (!file_ || path.rfind("\\\\", 0) != 0) throw engine::StoreError("Not a folder path: " + path);
    std::string rest = path.substr(2);
    const std::string& name = file_->displayName;
    if (rest.compare(0, name.size(), name) != 0 || (rest.size() > name.size() && rest[name.size()] != '\\'))
      throw engine::StoreError(engine::FolderDoesNotExistDescription(rest.substr(0, rest.find('\\'))));
    rest = rest.substr(std::min(rest.size(), name.size() + 1));
    if (!rest.empty() && rest.back() == '\\') rest.pop_back();
    if (rest.empty()) return file_->root;
    std::shared_ptr<FakeFolder> folder = file_->root;
    std::size_t start = 0;
    while (start <= rest.size()) {
      const auto end = std::min(rest.find('\\', start), rest.size());
      const std::string part = rest.substr(start, end - start);
      auto next = folder->Child(part);
      if (!next) throw engine::StoreError(engine::FolderDoesNotExistDescription(part));
      folder = next;
      start = end + 1;
    }
    return folder;
  }
  void Logoff() override {
    if (!file_) throw engine::StoreError("Not logged on");
    if (component_.failures.logoff) throw engine::StoreError("No space left on device");
    ++file_->logoffs;
    file_ = nullptr;
    store_.reset();
  }

 private:
  FakeStoreComponent& component_;
  FakeStoreFile* file_ = nullptr;
  std::shared_ptr<FakeStore> store_;
};

inline std::unique_ptr<engine::StoreSession> FakeStoreComponent::CreateSession() {
  if (failures.createSession) throw engine::StoreError("The store library is not available");
  ++sessionsCreated;
  return std::make_unique<FakeSession>(*this);
}

}  // namespace mailfold::test
