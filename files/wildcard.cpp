#include "files/wildcard.h"

#include <cstddef>

namespace mailfold::files {

namespace {

char FoldAsciiCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Classic greedy matcher with one backtrack point for the last "*": linear in practice and
// never recursive, so hostile patterns such as "*a*a*a*a*b" cannot blow up.
bool MatchGlob(std::string_view pattern, std::string_view name) {
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t starAt = std::string_view::npos;
  std::size_t resumeName = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starAt = p++;
      resumeName = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || FoldAsciiCase(pattern[p]) == FoldAsciiCase(name[n]))) {
      ++p;
      ++n;
    } else if (starAt != std::string_view::npos) {
      p = starAt + 1;
      n = ++resumeName;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

bool HasWildcards(std::string_view pattern) { return pattern.find_first_of("*?") != std::string_view::npos; }

bool MatchesWildcard(std::string_view pattern, std::string_view name) {
  if (!HasWildcards(pattern)) return pattern == name;
  if (MatchGlob(pattern, name)) return true;
  // "stem.*" also matches "stem" itself.
  if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*") {
    return MatchGlob(pattern.substr(0, pattern.size() - 2), name);
  }
  return false;
}

}  // namespace mailfold::files
