// The store as the conversion engine uses it: open one store file, find and make folders by their
// names, add a parsed message, close with a report of what a failed commit lost. The product
// binds it to our own store library (pst_store_port.h); the engine tests to an in-memory store.
//
// Folders are named by path components below the top of the store's visible tree (the empty
// path is the top itself). Every member throws ConversionError with the failure's kind.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/failure.h"
#include "pst/messaging/message_model.h"

namespace mailfold::engine {

using FolderPath = std::vector<std::string>;
// A folder of the open store; valid until the store is closed.
using FolderId = std::uint64_t;

// What Close found: the source files of messages that were added but are not in the file because
// a commit failed, and the failure that finishing the file met, if any.
struct CloseReport {
  std::vector<std::string> lost;
  std::optional<Failure> failure;
};

class OpenStore {
 public:
  virtual ~OpenStore() = default;

  // The names of the folders the store uses as its Inbox and Sent Items (a store made in another
  // language names them in it; a new store makes and designates them).
  virtual std::string InboxName() = 0;
  virtual std::string SentItemsName() = 0;

  virtual FolderId Top() = 0;
  // The direct sub-folders' names, in the store's order.
  virtual std::vector<std::string> SubfolderNames(FolderId parent) = 0;
  // The folder at `path`, if there is one.
  virtual std::optional<FolderId> FindFolder(const FolderPath& path) = 0;
  // Makes a sub-folder; Refused when one of that name exists or the name cannot be used.
  virtual FolderId CreateFolder(FolderId parent, const std::string& name) = 0;
  // Adds a message; `sourceFile` names it in the close report should a later commit fail.
  virtual void AddMessage(FolderId folder, pst::MessageModel message, const std::string& sourceFile) = 0;
  // Commits what was added and closes the file. Never throws: what went wrong is in the report.
  virtual CloseReport Close() = 0;
  // Closes without committing: what was added since the last commit is dropped, and a store this
  // open created is taken away again. For a conversion that fails before it began to import.
  // Never throws.
  virtual void Abandon() = 0;
};

// Open's failure for a store protected by a password when none, or another one, was given.
class StorePasswordRefused : public ConversionError {
 public:
  explicit StorePasswordRefused(const std::string& cause) : ConversionError(FailureKind::Refused, cause) {}
};

// Open's failure for a store another writer holds (another conversion, Outlook, a checker): the
// file and everything beside it belong to that writer and are left alone.
class StoreInUse : public ConversionError {
 public:
  explicit StoreInUse(const std::string& cause) : ConversionError(FailureKind::Refused, cause) {}
};

// The password of a protected store, asked for once it is known to be needed.
using PasswordSource = std::function<std::optional<std::string>(const std::string& storePath)>;

class StoreOpener {
 public:
  virtual ~StoreOpener() = default;
  // Opens the store file at `path` for adding, or creates it (with the default folders) when the
  // file is absent or empty; `displayName` names a new store. A store protected by a password is
  // opened only with its password (Refused otherwise, the file untouched).
  virtual std::unique_ptr<OpenStore> Open(const std::string& path, const std::string& displayName,
                                          const PasswordSource& password) = 0;
};

// The folder at `path`, with every missing folder on the way made under its real parent.
FolderId EnsureFolder(OpenStore& store, const FolderPath& path);

}  // namespace mailfold::engine
