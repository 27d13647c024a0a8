// UTF-8 (the message model's text) to and from UTF-16LE (the store's text).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "pst/bytes.h"

namespace mailfold::pst {

// Invalid UTF-8 sequences become U+FFFD: text is never dropped or cut short.
Bytes utf8ToUtf16le(std::string_view utf8);
// nullopt when the bytes are not valid UTF-16LE (odd length, unpaired surrogate).
std::optional<std::string> utf16leToUtf8(ByteView utf16);
// As above, but unpaired surrogates become U+FFFD and a trailing odd byte is dropped.
std::string utf16leToUtf8Lossy(ByteView utf16);

}  // namespace mailfold::pst
