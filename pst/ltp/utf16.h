// UTF-8 (the text of property values and of the message model) to and from UTF-16LE (the
// store's text), with one rule for damaged text in both directions: every unit that cannot be
// converted becomes U+FFFD and the conversion goes on. Nothing is dropped without a trace and
// one bad byte never costs a whole value (or the message holding it): mail in the wild has
// malformed UTF-8, and stores written by other programs hold unpaired surrogates.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "pst/bytes.h"

namespace mailfold::pst::ltp {

inline constexpr std::uint32_t kReplacementCharacter = 0xFFFD;

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

// Every byte that does not start a well-formed sequence (a stray continuation byte, a truncated,
// overlong or surrogate sequence, a value beyond U+10FFFF) becomes U+FFFD; the next byte is
// read afresh.
Bytes utf8ToUtf16le(std::string_view utf8);
// Unpaired surrogates become U+FFFD, and so does a trailing odd byte.
std::string utf16leToUtf8(ByteView utf16);
// True when the bytes are UTF-16LE as written: an even length and no unpaired surrogate.
// Readers use it to tell UTF-16 from the 8-bit text some writers store in its place.
bool isWellFormedUtf16le(ByteView utf16);

}  // namespace mailfold::pst::ltp
