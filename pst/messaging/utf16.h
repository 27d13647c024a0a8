// UTF-8 (the message model's text) to and from UTF-16LE (the store's text).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "pst/bytes.h"

namespace mailfold::pst {

// Appends one code point (below 0x110000, not a surrogate: callers check) as UTF-8.
inline void appendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Invalid UTF-8 sequences become U+FFFD: text is never dropped or cut short.
Bytes utf8ToUtf16le(std::string_view utf8);
// The longest start of `utf8` that takes at most `units` UTF-16 code units (Outlook's measure of
// a text's length), never ending inside a character.
inline std::string utf8PrefixInUtf16Units(std::string_view utf8, std::size_t units) {
  std::size_t counted = 0;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<std::uint8_t>(utf8[i]);
    if ((byte & 0xC0) == 0x80) continue;  // inside a character
    // A four-byte sequence is a character outside the BMP: a surrogate pair in UTF-16.
    counted += byte >= 0xF0 ? 2 : 1;
    if (counted > units) return std::string(utf8.substr(0, i));
  }
  return std::string(utf8);
}
// nullopt when the bytes are not valid UTF-16LE (odd length, unpaired surrogate).
std::optional<std::string> utf16leToUtf8(ByteView utf16);
// As above, but unpaired surrogates become U+FFFD and a trailing odd byte is dropped.
std::string utf16leToUtf8Lossy(ByteView utf16);

}  // namespace mailfold::pst
