// The default folders a mail store offers (Inbox, Sent Items, ...): their kinds, the names and
// container classes new ones get, and where the store records each one.
//
// A default folder is always found through the entry id recorded for it, never by its name:
// stores made by a German Outlook call the Inbox "Posteingang".
#pragma once

#include <optional>
#include <span>
#include <string>

#include "pst/messaging/message_model.h"

namespace mailfold::pst {

// The numbers Outlook's object model gives these folders (GetDefaultFolder's argument).
enum class DefaultFolder : int {
  kDeletedItems = 3,
  kOutbox = 4,
  kSentItems = 5,
  kInbox = 6,
  kCalendar = 9,
  kContacts = 10,
  kJournal = 11,
  kNotes = 12,
  kTasks = 13,
  kDrafts = 16,
  kJunk = 23,
};

// Where a store records the entry id of a default folder.
enum class FolderRecord {
  kStoreProperty,        // a property of the message store object (Outbox, Sent Items, Deleted Items)
  kReceiveFolder,        // the receive folder table's default row (the Inbox)
  kInboxProperty,        // a property of the Inbox (Calendar, Contacts, Journal, Notes, Tasks, Drafts)
  kInboxAdditionalRen,   // an element of the Inbox's PR_ADDITIONAL_REN_ENTRYIDS (Junk E-mail)
};

struct DefaultFolderInfo {
  DefaultFolder kind;
  const char* name;            // the name a new one gets (English, like a new Outlook store)
  const char* containerClass;  // PR_CONTAINER_CLASS, empty for none
  FolderRecord record;
  PropTag tag;                 // the property for kStoreProperty / kInboxProperty / kInboxAdditionalRen
  std::size_t renIndex;        // element index for kInboxAdditionalRen
};

// Every default folder, in the order a new store creates them (Deleted Items first: every store has it).
std::span<const DefaultFolderInfo> defaultFolders();
// nullopt for a number that names no default folder.
std::optional<DefaultFolderInfo> defaultFolderInfo(int kind);

}  // namespace mailfold::pst
