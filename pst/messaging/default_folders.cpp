#include "pst/messaging/default_folders.h"

#include <array>

#include "pst/messaging/store_tags.h"

namespace mailfold::pst {
namespace {

constexpr std::array<DefaultFolderInfo, 11> kFolders{{
    {DefaultFolder::kDeletedItems, "Deleted Items", "", FolderRecord::kStoreProperty, kPrIpmWastebasketEntryId, 0},
    {DefaultFolder::kInbox, "Inbox", "IPF.Note", FolderRecord::kReceiveFolder, 0, 0},
    {DefaultFolder::kOutbox, "Outbox", "IPF.Note", FolderRecord::kStoreProperty, kPrIpmOutboxEntryId, 0},
    {DefaultFolder::kSentItems, "Sent Items", "IPF.Note", FolderRecord::kStoreProperty, kPrIpmSentMailEntryId, 0},
    {DefaultFolder::kDrafts, "Drafts", "IPF.Note", FolderRecord::kInboxProperty, kPrIpmDraftsEntryId, 0},
    {DefaultFolder::kCalendar, "Calendar", "IPF.Appointment", FolderRecord::kInboxProperty, kPrIpmAppointmentEntryId, 0},
    {DefaultFolder::kContacts, "Contacts", "IPF.Contact", FolderRecord::kInboxProperty, kPrIpmContactEntryId, 0},
    {DefaultFolder::kJournal, "Journal", "IPF.Journal", FolderRecord::kInboxProperty, kPrIpmJournalEntryId, 0},
    {DefaultFolder::kNotes, "Notes", "IPF.StickyNote", FolderRecord::kInboxProperty, kPrIpmNoteEntryId, 0},
    {DefaultFolder::kTasks, "Tasks", "IPF.Task", FolderRecord::kInboxProperty, kPrIpmTaskEntryId, 0},
    {DefaultFolder::kJunk, "Junk E-mail", "IPF.Note", FolderRecord::kInboxAdditionalRen, kPrAdditionalRenEntryIds,
     kAdditionalRenJunkIndex},
}};

}  // namespace

std::span<const DefaultFolderInfo> defaultFolders() { return kFolders; }

std::optional<DefaultFolderInfo> defaultFolderInfo(int kind) {
  for (const auto& f : kFolders)
    if (static_cast<int>(f.kind) == kind) return f;
  return std::nullopt;
}

}  // namespace mailfold::pst
