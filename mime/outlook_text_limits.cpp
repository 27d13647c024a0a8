#include "mime/outlook_text_limits.h"

namespace mailfold::mime {

std::string capUtf16Units(std::string_view utf8, std::size_t maxUnits) {
  std::size_t units = 0;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    if ((byte & 0xC0) == 0x80) continue;  // inside a character
    // A four-byte sequence is a character outside the BMP: a surrogate pair in UTF-16.
    units += byte >= 0xF0 ? 2 : 1;
    if (units > maxUnits) return std::string(utf8.substr(0, i));
  }
  return std::string(utf8);
}

std::string_view upToFirstNul(std::string_view text) {
  // U+0000 is the only character whose UTF-8 form holds a zero byte.
  return text.substr(0, text.find('\0'));
}

}  // namespace mailfold::mime
