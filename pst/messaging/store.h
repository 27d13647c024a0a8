// A mail store file: open or create it, walk and add folders, add messages, commit.
//
// This is the interface the conversion engine uses. A Store owns the node database of one file;
// Folder values are light handles (a store and a node id) that stay valid while the store is open.
// Changes go into the store's open transaction and reach the file at commit() or close().
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pst/bytes.h"
#include "pst/messaging/default_folders.h"
#include "pst/messaging/message_model.h"
#include "pst/ndb/node.h"

namespace mailfold::pst {

class Store;
class StoreState;

class Folder {
 public:
  ndb::Nid nid() const { return nid_; }
  std::string name() const;
  // Messages in the folder and those without the read flag, as the folder records them.
  std::int32_t contentCount() const;
  std::int32_t unreadCount() const;
  // Sub-folders in the order of the folder's hierarchy table (creation order for ours).
  std::vector<Folder> children() const;
  // The direct sub-folder with this name (compared without regard to ASCII case), if any.
  std::optional<Folder> child(std::string_view name) const;
  // Adds a mail folder (class IPF.Note) below this one. Throws Error (kBadInput) when a
  // sub-folder of that name exists already or the name is empty. All or nothing: when it throws
  // (a damaged parent table, a failed write, ...) the store is as it was before the call, and a
  // later commit writes nothing of it. Text that is not valid UTF-8 is stored with each bad
  // sequence as U+FFFD, never refused.
  Folder addChild(std::string_view name, std::string_view containerClass = "IPF.Note");
  // Writes a message into this folder and returns its node id. `messageFlags`, when given, is
  // the PR_MESSAGE_FLAGS value to store (the has-attachment bit always follows the attachments).
  // Taken by value: move the model in to keep large bodies from being held twice. All or
  // nothing, like addChild: a message that throws leaves no node, row, count or name behind.
  // A write that fails (disk full) is undone with it; the store stays usable when the failure
  // was not lasting, and the messages added before it can still be committed.
  ndb::Nid addMessage(MessageModel message, std::optional<std::int32_t> messageFlags = std::nullopt);
  // Node ids of the messages, in contents-table order.
  std::vector<ndb::Nid> messages() const;
  Bytes entryId() const;

 private:
  friend class Store;
  friend class StoreState;
  Folder(StoreState* state, ndb::Nid nid) : state_(state), nid_(nid) {}
  StoreState* state_;
  ndb::Nid nid_;
};

// A writable open of a store protected by a password, refused (kRefused) because no password or
// another one was given. The file is left as it was.
class PasswordError : public Error {
 public:
  PasswordError(const std::string& what, bool given) : Error(ErrorKind::kRefused, what), given_(given) {}
  // False when no password was given (ask for one), true when the given one did not match.
  bool passwordWasGiven() const { return given_; }

 private:
  bool given_;
};

class Store {
 public:
  // Writes a new, empty store at `path` (replacing nothing: throws when a non-empty file exists;
  // an empty file is taken as the place for the new store) with a fresh random provider UID and
  // the folders every store has.
  static std::unique_ptr<Store> create(const std::string& path, std::string_view displayName);
  // Opens an existing store. Throws Error naming the file and the reason when it is not one
  // (kind kCorrupt; kNotFound or kIo when it cannot be opened). Writable opens refuse (kRefused),
  // leaving the file as it was: 32-bit (ANSI) stores, stores another writer has open ("the
  // store is in use"), and stores protected by a password unless `password` is theirs
  // (PasswordError). Reading needs no password, as for Outlook's own
  // format: the password only asks a client to prompt, it encrypts nothing.
  //
  // A writable open also refuses (kCorrupt, naming the file and the damage, with the advice to
  // repair a copy with Outlook's Inbox Repair Tool) a store damaged where adding would build on
  // it: the header, any B-tree page, allocation maps that mark used space free, and any block of
  // the folders, their tables and the store's fixed nodes. Such a file is left as it was.
  static std::unique_ptr<Store> open(const std::string& path, bool writable,
                                     const std::optional<std::string>& password = std::nullopt);
  // Opens the store at `path` for adding, creating it with `displayName` when the file does not
  // exist or is empty.
  static std::unique_ptr<Store> openOrCreate(const std::string& path, std::string_view displayName,
                                             const std::optional<std::string>& password = std::nullopt);
  // True when `password` is the one whose checksum a store records (PR_PST_PASSWORD): the
  // format's CRC-32 of its bytes. Outlook's bytes for characters beyond ASCII are not
  // documented; the UTF-8 bytes and, where every character has one, the Latin-1 bytes count.
  static bool passwordMatches(std::string_view password, std::uint32_t recorded);
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  std::string displayName() const;
  // The entry id naming the store itself.
  Bytes entryId() const;
  bool writable() const;
  // True when this object made the file (create(), or openOrCreate() on a missing or empty file).
  // Only such a store gets the default folders and their designations: a store that existed is
  // someone's own, and its special folders are left as its owner's Outlook set them.
  bool isNew() const;

  Folder ipmRoot();     // "Top of Personal Folders": the root of the visible tree
  // The folder with node id `nid`, as a caller that keeps folders by id finds it again.
  Folder folder(ndb::Nid nid);
  // The default folder of `kind` (6 = Inbox, 5 = Sent Items, ...) found through the entry id the
  // store records for it. Throws Error when the kind is unknown (kBadInput) or no such folder is
  // recorded (kNotFound).
  Folder defaultFolder(int kind);
  std::optional<Folder> findDefaultFolder(int kind);
  // Creates the default folders that are missing (under the IPM root) and records them.
  void validateIpmTree();
  // The folder at `path`: components separated by "\", relative to the IPM root. A leading
  // "\\<display name>" names the IPM root itself. Throws Error (kNotFound) with the message
  // Folder "<name>" does not exist, naming the first component that is missing.
  Folder folderByPath(std::string_view path);
  // A stored message (top-level node) read back; attachment data stays in the store and is
  // read on demand while the store is open.
  MessageModel readMessage(ndb::Nid nid);

  // Makes everything written so far durable; the file is a complete store afterwards.
  void commit();
  // Commits and closes. Further use of the store or its folders throws.
  void close();
  // Closes without committing: whatever was added since the last commit is dropped and the file
  // keeps its last commit. A store nothing was added to since it was opened is left byte for
  // byte as it was (also one whose allocation maps were rebuilt in memory). Further use throws.
  void discard();

 private:
  explicit Store(std::unique_ptr<StoreState> state);
  std::unique_ptr<StoreState> state_;
};

}  // namespace mailfold::pst
