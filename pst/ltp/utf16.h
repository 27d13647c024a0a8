// UTF-8 (the text of property values and of the message model) to and from UTF-16LE (the
// store's text), with one rule for damaged text in both directions: every unit that cannot be
// converted becomes U+FFFD and the conversion goes on. Nothing is dropped without a trace and
// one bad byte never costs a whole value (or the message holding it): mail in the wild has
// malformed UTF-8, and stores written by other programs hold unpaired surrogates.
//
// Header only: the importer uses it too, without linking the store engine.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

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

namespace utf16_detail {

inline void putUnit(Bytes& out, std::uint16_t u) {
  out.push_back(static_cast<std::uint8_t>(u & 0xFF));
  out.push_back(static_cast<std::uint8_t>(u >> 8));
}

inline void putCodePoint(Bytes& out, std::uint32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    putUnit(out, static_cast<std::uint16_t>(0xD800 + (cp >> 10)));
    putUnit(out, static_cast<std::uint16_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    putUnit(out, static_cast<std::uint16_t>(cp));
  }
}

inline bool isHighSurrogate(std::uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
inline bool isLowSurrogate(std::uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace utf16_detail

// The code point at `s[i]` and the bytes it takes. Every byte that does not start a well-formed
// sequence (a stray continuation byte, a truncated, overlong or surrogate sequence, a value beyond
// U+10FFFF, a lead byte F5-FF) is U+FFFD taking one byte; the next byte is read afresh.
inline std::pair<std::uint32_t, std::size_t> decodeUtf8At(std::string_view s, std::size_t i) {
  const auto c = static_cast<std::uint8_t>(s[i]);
  if (c < 0x80) return {c, 1};
  std::size_t len = 1;
  if ((c >> 5) == 0x6) {
    len = 2;
  } else if ((c >> 4) == 0xE) {
    len = 3;
  } else if ((c >> 3) == 0x1E) {
    len = 4;
  } else {
    return {kReplacementCharacter, 1};
  }
  if (i + len > s.size()) return {kReplacementCharacter, 1};
  std::uint32_t v = c & (0x7F >> len);
  for (std::size_t k = 1; k < len; ++k) {
    const auto cc = static_cast<std::uint8_t>(s[i + k]);
    if ((cc & 0xC0) != 0x80) return {kReplacementCharacter, 1};
    v = (v << 6) | (cc & 0x3F);
  }
  static constexpr std::uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (v < kMin[len] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return {kReplacementCharacter, 1};
  return {v, len};
}

inline Bytes utf8ToUtf16le(std::string_view s) {
  Bytes out;
  out.reserve(s.size() * 2);
  for (std::size_t i = 0; i < s.size();) {
    const auto [cp, len] = decodeUtf8At(s, i);
    utf16_detail::putCodePoint(out, cp);
    i += len;
  }
  return out;
}

// The longest start of `utf8` that takes at most `units` UTF-16 code units (Outlook's measure of
// a text's length) once converted, never ending inside a character. Damaged bytes count as the
// U+FFFD each becomes.
inline std::string utf8PrefixInUtf16Units(std::string_view utf8, std::size_t units) {
  std::size_t counted = 0, i = 0;
  while (i < utf8.size()) {
    const auto [cp, len] = decodeUtf8At(utf8, i);
    counted += cp >= 0x10000 ? 2 : 1;  // outside the BMP: a surrogate pair
    if (counted > units) break;
    i += len;
  }
  return std::string(utf8.substr(0, i));
}

// Unpaired surrogates become U+FFFD, and so does a trailing odd byte.
inline std::string utf16leToUtf8(ByteView in) {
  const std::size_t units = in.size() / 2;
  std::string out;
  out.reserve(in.size());
  for (std::size_t i = 0; i < units; ++i) {
    std::uint32_t u = load<std::uint16_t>(in.data() + 2 * i);
    if (utf16_detail::isHighSurrogate(u) && i + 1 < units) {
      const std::uint32_t lo = load<std::uint16_t>(in.data() + 2 * (i + 1));
      if (utf16_detail::isLowSurrogate(lo)) {
        appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
        ++i;
        continue;
      }
    }
    if (utf16_detail::isHighSurrogate(u) || utf16_detail::isLowSurrogate(u)) u = kReplacementCharacter;
    appendUtf8(out, u);
  }
  if (in.size() % 2 != 0) appendUtf8(out, kReplacementCharacter);
  return out;
}

// True when the bytes are UTF-16LE as written: an even length and no unpaired surrogate.
// Readers use it to tell UTF-16 from the 8-bit text some writers store in its place.
inline bool isWellFormedUtf16le(ByteView in) {
  if (in.size() % 2 != 0) return false;
  const std::size_t units = in.size() / 2;
  for (std::size_t i = 0; i < units; ++i) {
    const std::uint32_t u = load<std::uint16_t>(in.data() + 2 * i);
    if (utf16_detail::isLowSurrogate(u)) return false;
    if (utf16_detail::isHighSurrogate(u)) {
      if (i + 1 >= units || !utf16_detail::isLowSurrogate(load<std::uint16_t>(in.data() + 2 * (i + 1)))) return false;
      ++i;
    }
  }
  return true;
}

}  // namespace mailfold::pst::ltp
