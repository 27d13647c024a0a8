// What Outlook's paperclip shows for a message model: an attachment that is not hidden, unless
// the message turns the paperclip off (PidLidSmartNoAttach).
#pragma once

#include <algorithm>

#include "pst/messaging/message_model.h"
#include "pst/messaging/property_tags.h"

namespace mailfold::test {

inline bool paperclipShows(const pst::MessageModel& message) {
  for (const pst::NamedProperty& n : message.props.named()) {
    const bool* hidesPaperclip = std::get_if<bool>(&n.value);
    if (n.key == pst::kSmartNoAttach && hidesPaperclip && *hidesPaperclip) return false;
  }
  return std::any_of(message.attachments.begin(), message.attachments.end(), [](const pst::Attachment& a) {
    const bool* hidden = a.props.getAs<bool>(pst::kPrAttachmentHidden);
    return !(hidden && *hidden);
  });
}

}  // namespace mailfold::test
