// An in-memory store for the engine tests: stores kept by path (so a second opening of the same
// path adds to the same store), folders by name in creation order, messages recording the source
// file they were read from, and failures to inject. It also offers a message reader that needs no
// MIME parser.
#pragma once

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/message_reader.h"
#include "engine/store_port.h"
#include "pst/messaging/property_tags.h"

namespace mailfold::test {

struct FakeItem {
  std::string sourceFile;
  bool read = false;
};

struct FakeFailures {
  bool open = false;       // Open fails (Io, "Permission denied")
  bool damaged = false;    // Open fails (Corrupt): the store's folder tree is damaged
  bool close = false;      // Close cannot finish the file (Io, "No space left on device")
  bool prepare = false;    // the opened store's default folders cannot be read (Corrupt)
  std::set<std::string> readFileNames;  // reading fails (BadInput) for source files with these names
  std::set<std::string> addFileNames;   // adding fails (Io) for messages read from these names
  std::set<std::string> lostFileNames;  // added, then reported lost by Close
  std::set<std::string> folderNames;    // CreateFolder refuses these names
};

class FakeFolder {
 public:
  explicit FakeFolder(std::string name) : name_(std::move(name)) {}

  const std::string& Name() const { return name_; }
  std::shared_ptr<FakeFolder> Child(const std::string& name) const {
    for (const auto& child : children_)
      if (child->name_ == name) return child;
    return nullptr;
  }
  std::shared_ptr<FakeFolder> AddChild(const std::string& name) {
    children_.push_back(std::make_shared<FakeFolder>(name));
    return children_.back();
  }
  const std::vector<std::shared_ptr<FakeFolder>>& children() const { return children_; }
  std::vector<FakeItem>& items() { return items_; }

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
  std::vector<std::shared_ptr<FakeFolder>> children_;
  std::vector<FakeItem> items_;
};

// One store file.
struct FakeStoreFile {
  std::shared_ptr<FakeFolder> root;
  std::string displayName;
  int logons = 0;
  int logoffs = 0;
  int abandoned = 0;
};

class FakeOpenStore : public engine::OpenStore {
 public:
  FakeOpenStore(FakeStoreFile& file, std::vector<std::string> defaults, const FakeFailures& failures,
                std::function<void()> undoCreation)
      : file_(file), defaults_(std::move(defaults)), failures_(failures), undoCreation_(std::move(undoCreation)) {
    folders_.push_back(file_.root);
  }

  std::string InboxName() override {
    if (failures_.prepare) throw engine::ConversionError(engine::FailureKind::Corrupt, "The folder table is damaged");
    return defaults_.at(0);
  }
  std::string SentItemsName() override { return defaults_.at(1); }
  engine::FolderId Top() override { return 0; }
  std::vector<std::string> SubfolderNames(engine::FolderId parent) override {
    std::vector<std::string> names;
    for (const auto& child : Folder(parent).children()) names.push_back(child->Name());
    return names;
  }
  std::optional<engine::FolderId> FindFolder(const engine::FolderPath& path) override {
    std::shared_ptr<FakeFolder> folder = file_.root;
    for (const auto& name : path) {
      folder = folder->Child(name);
      if (!folder) return std::nullopt;
    }
    return IdOf(folder);
  }
  engine::FolderId CreateFolder(engine::FolderId parent, const std::string& name) override {
    FakeFolder& folder = Folder(parent);
    if (name.empty() || name.find('\\') != std::string::npos || failures_.folderNames.count(name))
      throw engine::ConversionError(engine::FailureKind::Refused, "The folder name \"" + name + "\" is not valid");
    if (folder.Child(name))
      throw engine::ConversionError(engine::FailureKind::Refused, "A folder named \"" + name + "\" exists already");
    return IdOf(folder.AddChild(name));
  }
  void AddMessage(engine::FolderId folder, pst::MessageModel message, const std::string& sourceFile) override {
    const std::string name = std::filesystem::path(sourceFile).filename().string();
    if (failures_.addFileNames.count(name))
      throw engine::ConversionError(engine::FailureKind::Io, "The message could not be saved");
    const auto* flags = message.props.getAs<std::int32_t>(pst::kPrMessageFlags);
    Folder(folder).items().push_back({sourceFile, flags && (*flags & pst::kMsgFlagRead) != 0});
    if (failures_.lostFileNames.count(name)) lost_.push_back(sourceFile);
  }
  engine::CloseReport Close() override {
    engine::CloseReport report;
    if (closed_) return report;
    closed_ = true;
    report.lost = lost_;
    if (failures_.close) {
      report.failure = engine::Failure{engine::FailureKind::Io, "No space left on device"};
      return report;
    }
    ++file_.logoffs;
    return report;
  }
  // Nothing added is kept (the fake commits at Close only); a store this open made is removed.
  void Abandon() override {
    if (closed_) return;
    closed_ = true;
    ++file_.abandoned;
    if (undoCreation_) undoCreation_();
  }

 private:
  FakeFolder& Folder(engine::FolderId id) {
    if (id >= folders_.size()) throw engine::ConversionError(engine::FailureKind::NotFound, "no such folder");
    return *folders_[id];
  }
  engine::FolderId IdOf(const std::shared_ptr<FakeFolder>& folder) {
    for (std::size_t i = 0; i < folders_.size(); ++i)
      if (folders_[i] == folder) return i;
    folders_.push_back(folder);
    return folders_.size() - 1;
  }

  FakeStoreFile& file_;
  std::vector<std::string> defaults_;
  const FakeFailures& failures_;
  std::vector<std::shared_ptr<FakeFolder>> folders_;  // by id
  std::vector<std::string> lost_;
  std::function<void()> undoCreation_;
  bool closed_ = false;
};

// The opener and the "disk" of stores. The first two default folder names are the Inbox and
// Sent Items (change them to test a store whose default folders carry other names).
class FakeStoreComponent : public engine::StoreOpener {
 public:
  FakeFailures failures;
  std::vector<std::string> defaultFolders = {"Inbox", "Sent Items", "Deleted Items", "Outbox", "Calendar",
                                             "Contacts", "Tasks", "Drafts"};
  std::map<std::string, FakeStoreFile> stores;  // by store path
  int opened = 0;

  std::unique_ptr<engine::OpenStore> Open(const std::string& path, const std::string& displayName,
                                          const engine::PasswordSource&) override {
    if (failures.open) throw engine::ConversionError(engine::FailureKind::Io, "Permission denied");
    auto [it, created] = stores.try_emplace(path);
    if (created) it->second.root = std::make_shared<FakeFolder>("");
    it->second.displayName = displayName;
    ++it->second.logons;
    ++opened;
    if (failures.damaged)
      throw engine::ConversionError(engine::FailureKind::Corrupt, "The store's folder tree is damaged");
    for (const auto& name : defaultFolders)
      if (!it->second.root->Child(name)) it->second.root->AddChild(name);
    std::function<void()> undo;
    if (created) undo = [this, path] { stores.erase(path); };
    return std::make_unique<FakeOpenStore>(it->second, defaultFolders, failures, std::move(undo));
  }

  // Reads nothing but the file's existence: a model that stands for the message.
  engine::MessageReader Reader() const {
    return [this](const std::string& path) {
      const std::string name = std::filesystem::path(path).filename().string();
      if (failures.readFileNames.count(name))
        throw engine::ConversionError(engine::FailureKind::BadInput, "The message could not be read");
      if (!std::filesystem::is_regular_file(path))
        throw engine::ConversionError(engine::FailureKind::NotFound, "No such file: " + path);
      pst::MessageModel model;
      model.props.set(pst::kPrSubject, name);
      return model;
    };
  }

  FakeStoreFile& Store(const std::string& path) { return stores.at(path); }
};

}  // namespace mailfold::test
