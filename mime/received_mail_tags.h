// Properties Outlook keeps on received Internet mail that the importer writes and the store's
// own tag list does not name: who received the message, the conversation-id switch, the
// paperclip override, the message locale.
#pragma once

#include <cstdint>

#include "pst/messaging/property_tags.h"

namespace mailfold::mime {

// ---- The mailbox the message was delivered to (and the one it was delivered for) ----
inline constexpr pst::PropTag kPrReceivedByEntryId = pst::makeTag(0x003F, pst::kPtBinary);
inline constexpr pst::PropTag kPrReceivedByName = pst::makeTag(0x0040, pst::kPtUnicode);
inline constexpr pst::PropTag kPrReceivedBySearchKey = pst::makeTag(0x0051, pst::kPtBinary);
inline constexpr pst::PropTag kPrReceivedByAddrType = pst::makeTag(0x0075, pst::kPtUnicode);
inline constexpr pst::PropTag kPrReceivedByEmailAddress = pst::makeTag(0x0076, pst::kPtUnicode);
inline constexpr pst::PropTag kPrRcvdRepresentingEntryId = pst::makeTag(0x0043, pst::kPtBinary);
inline constexpr pst::PropTag kPrRcvdRepresentingName = pst::makeTag(0x0044, pst::kPtUnicode);
inline constexpr pst::PropTag kPrRcvdRepresentingSearchKey = pst::makeTag(0x0052, pst::kPtBinary);
inline constexpr pst::PropTag kPrRcvdRepresentingAddrType = pst::makeTag(0x0077, pst::kPtUnicode);
inline constexpr pst::PropTag kPrRcvdRepresentingEmailAddress = pst::makeTag(0x0078, pst::kPtUnicode);
// The received-by mailbox is among the To (Cc) recipients.
inline constexpr pst::PropTag kPrMessageToMe = pst::makeTag(0x0057, pst::kPtBoolean);
inline constexpr pst::PropTag kPrMessageCcMe = pst::makeTag(0x0058, pst::kPtBoolean);

// ---- Conversation ----
// True: Outlook takes the conversation id from the GUID of PR_CONVERSATION_INDEX; false or
// absent: from a hash of the conversation topic, which joins unrelated mail of equal subject.
inline constexpr pst::PropTag kPrConversationIndexTracking = pst::makeTag(0x3016, pst::kPtBoolean);

// ---- Locale of the item (what Outlook writes for an English-language profile) ----
inline constexpr std::int32_t kLocaleEnglishUs = 1033;
inline constexpr std::int32_t kCodePageWestern = 1252;

// PidLidSmartNoAttach (PSETID_Common, LID 0x8514, boolean): true hides the paperclip of a
// message whose attachment table is not empty, when every attachment is hidden.
inline const pst::NamedPropertyKey kSmartNoAttach{pst::kPsetidCommon, std::uint32_t{0x8514}};

}  // namespace mailfold::mime
