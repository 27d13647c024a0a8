// The message-store component as the conversion engine sees it: a session that opens one store
// file, the store, its folders and new mail messages. The engine is written against these
// interfaces only, so that it runs on our own store library in the product and on an in-memory
// store in the tests.
//
// Folder paths follow the component's convention: "\\" + the store's display name, then the
// folder names separated by "\" (for example "\\Inbox : Created - 6.12.26 4.7.05\Inbox\Work").
// "\\" + display name, with or without a final "\", is the store's root folder, which is also
// the root of the visible folder tree (IPMRootFolder). A final "\" after a folder name is
// ignored.
//
// Every member may throw StoreError. Callers only look at whether an error happened, except for
// GetFolderFromPath, whose description names the first missing folder (see StoreError).
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace mailfold::engine {

// The error of every store component member. `description()` is the user-readable text; for a
// folder path that does not resolve it is exactly: Folder "<name>" does not exist, with the
// first missing component as the name.
class StoreError : public std::runtime_error {
 public:
  explicit StoreError(const std::string& description) : std::runtime_error(description) {}
  std::string description() const { return what(); }
};

// LogonPstStore's error for a store protected by a password when none, or another one, was given.
// The store file is untouched.
class StorePasswordError : public StoreError {
 public:
  using StoreError::StoreError;
};

// The description GetFolderFromPath raises for a missing folder.
std::string FolderDoesNotExistDescription(const std::string& missingName);

// Kinds understood by MessageStore::GetDefaultFolder.
enum class DefaultFolder : int { SentItems = 5, Inbox = 6 };

// Folder kind for StoreFolder::AddFolder: a folder that holds mail items.
inline constexpr int kMailFolderKind = 6;
// Item kind for StoreFolder::AddItem: a mail message.
inline constexpr int kMailItemKind = 0;
// Import type for MailMessage::Import: an RFC 822 / MIME message file.
inline constexpr int kImportRfc822 = 1024;
// Store file format for StoreSession::LogonPstStore: the default format.
inline constexpr int kDefaultStoreFormat = 1;

// A new mail message in a folder. It exists in the store only after Save.
class MailMessage {
 public:
  virtual ~MailMessage() = default;
  // Fills the message from an internet message file (`type` is kImportRfc822).
  virtual void Import(const std::string& filePath, int type) = 0;
  // Sets the message flags to read (MSGFLAG_READ | MSGFLAG_HASATTACH, 0x11) so that the message
  // shows as read and not as an unsent draft.
  virtual void MarkAsRead() = 0;
  // Commits the message into its folder.
  virtual void Save() = 0;
};

class StoreFolder {
 public:
  virtual ~StoreFolder() = default;
  virtual std::string Name() const = 0;
  // The child folders, in the store's order.
  virtual std::vector<std::shared_ptr<StoreFolder>> Folders() = 0;
  // Creates a child folder of that name (`kind` is kMailFolderKind). Fails when the name cannot
  // be used, for example because a child of that name exists already.
  virtual std::shared_ptr<StoreFolder> AddFolder(const std::string& name, int kind) = 0;
  // A new, unsaved message in this folder (`kind` is kMailItemKind).
  virtual std::unique_ptr<MailMessage> AddItem(int kind) = 0;
};

class MessageStore {
 public:
  virtual ~MessageStore() = default;
  // Identifies the store for StoreSession::GetStoreFromID.
  virtual std::string EntryID() = 0;
  // Creates the default folders (Inbox, Sent Items, ...) that are missing.
  virtual void ValidateIPMTree() = 0;
  // The default folder of that kind; its Name() is its display name.
  virtual std::shared_ptr<StoreFolder> GetDefaultFolder(DefaultFolder kind) = 0;
  // The root of the visible folder tree.
  virtual std::shared_ptr<StoreFolder> IPMRootFolder() = 0;
};

class StoreSession {
 public:
  virtual ~StoreSession() = default;
  // Opens the store file at `path`, creating it when absent (`format` is kDefaultStoreFormat).
  // Folder paths of the store begin with "\\" + `displayName`.
  virtual std::shared_ptr<MessageStore> LogonPstStore(const std::string& path, int format,
                                                      const std::string& displayName) = 0;
  // The store again, by its entry identifier.
  virtual std::shared_ptr<MessageStore> GetStoreFromID(const std::string& entryId) = 0;
  // Every store this session has open.
  virtual std::vector<std::shared_ptr<MessageStore>> Stores() = 0;
  // The folder at a path of the form described at the top of this file.
  virtual std::shared_ptr<StoreFolder> GetFolderFromPath(const std::string& path) = 0;
  // Ends the session; the store file is complete on disk afterwards.
  virtual void Logoff() = 0;
};

// Makes one session per converted folder.
class StoreSessionFactory {
 public:
  virtual ~StoreSessionFactory() = default;
  virtual std::unique_ptr<StoreSession> CreateSession() = 0;
};

}  // namespace mailfold::engine
