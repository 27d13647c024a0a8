// Property tags of the message store object and of folders, and the node ids a store always has.
#pragma once

#include "pst/messaging/message_model.h"
#include "pst/ndb/node.h"

namespace mailfold::pst {

// ---- Message store object ----
inline constexpr PropTag kPrStoreRecordKey = makeTag(0x0FFA, kPtBinary);
inline constexpr PropTag kPrStoreEntryId = makeTag(0x0FFB, kPtBinary);
inline constexpr PropTag kPrReplVersionHistory = makeTag(0x0E34, kPtBinary);
inline constexpr PropTag kPrReplFlags = makeTag(0x0E38, kPtInt32);
inline constexpr PropTag kPrStoreSupportMask = makeTag(0x340D, kPtInt32);
inline constexpr PropTag kPrValidFolderMask = makeTag(0x35DF, kPtInt32);
inline constexpr PropTag kPrIpmSubtreeEntryId = makeTag(0x35E0, kPtBinary);
inline constexpr PropTag kPrIpmOutboxEntryId = makeTag(0x35E2, kPtBinary);
inline constexpr PropTag kPrIpmWastebasketEntryId = makeTag(0x35E3, kPtBinary);
inline constexpr PropTag kPrIpmSentMailEntryId = makeTag(0x35E4, kPtBinary);
inline constexpr PropTag kPrViewsEntryId = makeTag(0x35E5, kPtBinary);
inline constexpr PropTag kPrCommonViewsEntryId = makeTag(0x35E6, kPtBinary);
inline constexpr PropTag kPrFinderEntryId = makeTag(0x35E7, kPtBinary);
inline constexpr PropTag kPrPstLrNoRestrictions = makeTag(0x6633, kPtBoolean);
inline constexpr PropTag kPrPstPassword = makeTag(0x67FF, kPtInt32);
inline constexpr PropTag kPrPstSubtreeContainer = makeTag(0x66FA, kPtInt32);
inline constexpr PropTag kPrPstHiddenFlags = makeTag(0x66FC, kPtInt32);

// PR_VALID_FOLDER_MASK bits: which of the store's special-folder entry ids are valid.
inline constexpr std::int32_t kFolderIpmSubtreeValid = 0x01;
inline constexpr std::int32_t kFolderIpmInboxValid = 0x02;
inline constexpr std::int32_t kFolderIpmOutboxValid = 0x04;
inline constexpr std::int32_t kFolderIpmWastebasketValid = 0x08;
inline constexpr std::int32_t kFolderIpmSentMailValid = 0x10;
inline constexpr std::int32_t kFolderViewsValid = 0x20;
inline constexpr std::int32_t kFolderCommonViewsValid = 0x40;
inline constexpr std::int32_t kFolderFinderValid = 0x80;

// ---- Folder objects ----
inline constexpr PropTag kPrContentCount = makeTag(0x3602, kPtInt32);
inline constexpr PropTag kPrContentUnreadCount = makeTag(0x3603, kPtInt32);
inline constexpr PropTag kPrSubfolders = makeTag(0x360A, kPtBoolean);
inline constexpr PropTag kPrContainerClass = makeTag(0x3613, kPtUnicode);
inline constexpr PropTag kPrComment = makeTag(0x3004, kPtUnicode);
inline constexpr PropTag kPrPstHiddenCount = makeTag(0x6635, kPtInt32);
inline constexpr PropTag kPrPstHiddenUnread = makeTag(0x6636, kPtInt32);
inline constexpr PropTag kPrFolderType = makeTag(0x3601, kPtInt32);
// Special-folder links recorded on the Inbox (and read there first by Outlook).
inline constexpr PropTag kPrIpmAppointmentEntryId = makeTag(0x36D0, kPtBinary);
inline constexpr PropTag kPrIpmContactEntryId = makeTag(0x36D1, kPtBinary);
inline constexpr PropTag kPrIpmJournalEntryId = makeTag(0x36D2, kPtBinary);
inline constexpr PropTag kPrIpmNoteEntryId = makeTag(0x36D3, kPtBinary);
inline constexpr PropTag kPrIpmTaskEntryId = makeTag(0x36D4, kPtBinary);
inline constexpr PropTag kPrIpmDraftsEntryId = makeTag(0x36D7, kPtBinary);
inline constexpr PropTag kPrAdditionalRenEntryIds = makeTag(0x36D8, kPtMvBinary);
// Index of Junk E-mail in PR_ADDITIONAL_REN_ENTRYIDS (after Conflicts, Sync Issues, Local
// Failures, Server Failures).
inline constexpr std::size_t kAdditionalRenJunkIndex = 4;

// ---- Receive folder table rows ----
inline constexpr PropTag kPrReceiveFolderNid = makeTag(0x6605, kPtInt32);

// ---- Node ids every store has ----
inline constexpr ndb::Nid kNidMessageStore = 0x21;
inline constexpr ndb::Nid kNidNameToIdMap = 0x61;
inline constexpr ndb::Nid kNidRootFolder = 0x122;
inline constexpr ndb::Nid kNidSearchManagementQueue = 0x1E1;
inline constexpr ndb::Nid kNidSearchActivityList = 0x201;
inline constexpr ndb::Nid kNidSearchDomainObject = 0x261;

}  // namespace mailfold::pst
