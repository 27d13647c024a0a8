// Limits Outlook puts on the text of a mail item, applied where the importer sets the text so
// that what a user sees after conversion is what Outlook would have stored.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mailfold::mime {

// Outlook keeps at most 255 characters of a subject (and of a conversation topic); the whole
// line stays in the transport headers.
inline constexpr std::size_t kMaxSubjectUnits = 255;

// The longest start of `utf8` that is at most `maxUnits` UTF-16 code units (the characters
// Outlook counts): a character outside the BMP counts two and is never cut in half.
std::string capUtf16Units(std::string_view utf8, std::size_t maxUnits);

// A text body ends at its first U+0000: Outlook stores and shows nothing after it.
std::string_view upToFirstNul(std::string_view text);

}  // namespace mailfold::mime
