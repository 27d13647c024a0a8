#include "mime/alternative_naming.h"

#include <cctype>

namespace mailfold::mime::detail {

std::string alternativeDisplayName(const std::string& mimeType, const std::string& knownExtension) {
  const std::size_t slash = mimeType.find('/');
  const std::string type = mimeType.substr(0, slash);
  std::string stem;
  for (char c : slash == std::string::npos ? std::string() : mimeType.substr(slash + 1)) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x80 && (std::isalnum(u) || c == '-' || c == '_' || c == '+' || c == '.')) stem += c;
    if (stem.size() == 64) break;
  }
  if (stem.empty()) stem = "alternative";
  std::string extension = knownExtension;
  if (extension == ".dat" && type == "text") extension = stem.find("html") != std::string::npos ? ".htm" : ".txt";
  return stem + extension;
}

}  // namespace mailfold::mime::detail
