// windows-1252 to UTF-8: the code page of the 8-bit strings that 32-bit (ANSI) stores written on
// western Windows hold, and the importer's fallback for mail text that is not UTF-8.
//
// Header only: the importer uses it too, without linking the store engine.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "pst/ltp/utf16.h"

namespace mailfold::pst::ltp {

// The five bytes the code page leaves undefined map to the C1 controls of the same value, so
// that nothing is dropped.
inline std::string windows1252ToUtf8(std::string_view bytes) {
  static constexpr std::uint16_t kHigh[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (const unsigned char c : bytes) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      appendUtf8(out, c < 0xA0 ? kHigh[c - 0x80] : c);
    }
  }
  return out;
}

}  // namespace mailfold::pst::ltp
