#include "mime/extended_parameter.h"

#include <map>

#include "mime/text_decoding.h"

namespace mailfold::mime::detail {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// %XX escapes to their bytes; a '%' not followed by two hex digits stays as it is.
std::string percentDecoded(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

struct Section {
  std::string value;
  bool extended = false;
};

}  // namespace

std::optional<std::string> extendedParameter(std::string_view field, std::string_view name) {
  std::map<unsigned, Section> sections;  // by section number; a single `name*` is section 0
  bool single = false;
  std::size_t pos = field.find(';');
  while (pos != std::string_view::npos && pos < field.size()) {
    ++pos;  // past ';'
    while (pos < field.size() && isBlank(field[pos])) ++pos;
    const std::size_t equals = field.find('=', pos);
    if (equals == std::string_view::npos) break;
    std::string key = lowerAscii(field.substr(pos, equals - pos));
    while (!key.empty() && isBlank(key.back())) key.pop_back();
    pos = equals + 1;
    while (pos < field.size() && isBlank(field[pos])) ++pos;
    std::string value;
    if (pos < field.size() && field[pos] == '"') {
      for (++pos; pos < field.size() && field[pos] != '"'; ++pos) {
        if (field[pos] == '\\' && pos + 1 < field.size()) ++pos;
        value += field[pos];
      }
      if (pos < field.size()) ++pos;  // past the closing quote
      pos = field.find(';', pos);
    } else {
      const std::size_t end = field.find(';', pos);
      value = std::string(field.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos));
      while (!value.empty() && isBlank(value.back())) value.pop_back();
      pos = end;
    }
    if (key.size() <= name.size() || key.compare(0, name.size(), lowerAscii(name)) != 0 || key[name.size()] != '*')
      continue;
    std::string_view rest = std::string_view(key).substr(name.size() + 1);  // after "name*"
    if (rest.empty()) {
      single = true;
      sections[0] = {value, true};
      continue;
    }
    const bool extended = rest.back() == '*';
    if (extended) rest.remove_suffix(1);
    if (rest.empty() || rest.size() > 4 || rest.find_first_not_of("0123456789") != std::string_view::npos) continue;
    if (single) continue;
    sections[static_cast<unsigned>(std::stoul(std::string(rest)))] = {value, extended};
  }
  if (sections.empty()) return std::nullopt;
  // Only the first section says the charset (charset'language'value); sections count from 0 and
  // stop at the first missing number.
  std::string charset;
  std::string bytes;
  unsigned expected = 0;
  for (const auto& [number, section] : sections) {
    if (number != expected) break;
    ++expected;
    std::string_view value = section.value;
    if (number == 0 && section.extended) {
      const std::size_t first = value.find('\'');
      const std::size_t second = first == std::string_view::npos ? first : value.find('\'', first + 1);
      if (second != std::string_view::npos) {
        charset = std::string(value.substr(0, first));
        value = value.substr(second + 1);
      }
    }
    bytes += section.extended ? percentDecoded(value) : std::string(value);
  }
  bool anyExtended = false;
  for (const auto& [number, section] : sections) anyExtended = anyExtended || section.extended;
  if (!anyExtended) return std::nullopt;  // plain numbered sections: GMime joins those faithfully
  return decodeToUtf8(bytes, charset);
}

}  // namespace mailfold::mime::detail
