#include "mime/outlook_text_limits.h"

namespace mailfold::mime {

std::string_view upToFirstNul(std::string_view text) {
  // U+0000 is the only character whose UTF-8 form holds a zero byte.
  return text.substr(0, text.find('\0'));
}

}  // namespace mailfold::mime
