#include "engine/store_paths.h"

#include <algorithm>
#include <cctype>

#include "mime/text_decoding.h"

namespace mailfold::engine {

std::string StoreSafeName(std::string_view name) {
  return ReplaceAll(mime::validUtf8(name), "\\", kBackslashStandIn);
}

std::string BackslashFormOf(std::string_view posixPath) {
  // Name by name: each name that is not UTF-8 is read on its own (as windows-1252).
  std::string form;
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = posixPath.find('/', start);
    form += StoreSafeName(posixPath.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start));
    if (slash == std::string_view::npos) return form;
    form += '\\';
    start = slash + 1;
  }
}

std::string WithoutRoot(std::string_view path, std::string_view root) {
  if (!root.empty() && path.substr(0, root.size()) == root) return std::string(path.substr(root.size()));
  return std::string(path);
}

std::string FileNameOf(std::string_view path, char separator) {
  const auto pos = path.rfind(separator);
  return std::string(pos == std::string_view::npos ? path : path.substr(pos + 1));
}

std::string ParentPathOf(std::string_view path, char separator) {
  const auto pos = path.rfind(separator);
  return pos == std::string_view::npos ? std::string() : std::string(path.substr(0, pos + 1));
}

bool IsMessageFile(std::string_view posixPath) {
  std::string name = FileNameOf(posixPath, '/');
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return name == "eml~1" || (name.size() >= 4 && name.compare(name.size() - 4, 4, ".eml") == 0);
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(text);
  std::string result;
  std::size_t start = 0;
  for (std::size_t pos; (pos = text.find(from, start)) != std::string_view::npos; start = pos + from.size()) {
    result.append(text.substr(start, pos - start));
    result.append(to);
  }
  result.append(text.substr(start));
  return result;
}

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

std::string TrimBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

}  // namespace mailfold::engine
