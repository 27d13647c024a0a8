// Properties Outlook keeps on received Internet mail that the importer writes and the store's
// own tag list does not name: the conversation-id switch, the paperclip override.
#pragma once

#include <cstdint>

#include "pst/messaging/property_tags.h"

namespace mailfold::mime {

// ---- Conversation ----
// True: Outlook takes the conversation id from the GUID of PR_CONVERSATION_INDEX; false or
// absent: from a hash of the conversation topic, which joins unrelated mail of equal subject.
inline constexpr pst::PropTag kPrConversationIndexTracking = pst::makeTag(0x3016, pst::kPtBoolean);

// PidLidSmartNoAttach (PSETID_Common, LID 0x8514, boolean): true hides the paperclip of a
// message whose attachment table is not empty, when every attachment is hidden.
inline const pst::NamedPropertyKey kSmartNoAttach{pst::kPsetidCommon, std::uint32_t{0x8514}};

}  // namespace mailfold::mime
