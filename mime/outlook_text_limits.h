// Limits Outlook puts on the text of a mail item, applied where the importer sets the text so
// that what a user sees after conversion is what Outlook would have stored.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mailfold::mime {

// Outlook keeps at most 255 characters of a subject (and of a conversation topic); the whole
// line stays in the transport headers. Counted in UTF-16 units (pst::ltp::utf8PrefixInUtf16Units).
inline constexpr std::size_t kMaxSubjectUnits = 255;

// A text body ends at its first U+0000: Outlook stores and shows nothing after it.
std::string_view upToFirstNul(std::string_view text);

}  // namespace mailfold::mime
