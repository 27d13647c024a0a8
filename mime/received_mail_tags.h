// Properties Outlook keeps on received Internet mail that the importer writes and the store's
// own tag list does not name.
#pragma once

#include <cstdint>

#include "pst/messaging/property_tags.h"

namespace mailfold::mime {

// PidLidSmartNoAttach (PSETID_Common, LID 0x8514, boolean): true hides the paperclip of a
// message whose attachment table is not empty, when every attachment is hidden.
inline const pst::NamedPropertyKey kSmartNoAttach{pst::kPsetidCommon, std::uint32_t{0x8514}};

}  // namespace mailfold::mime
