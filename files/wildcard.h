// File-name patterns in the Windows wildcard syntax, matched in memory because a POSIX directory
// listing has no patterns of its own.
//
//   "*"  any run of characters, the empty run included
//   "?"  exactly one character (byte)
//   ASCII letters match without regard to case; every other byte matches only itself, so names
//   that are not valid UTF-8 are compared byte for byte.
//   A pattern ending in ".*" also matches the name without that ending, as on Windows: "*.*"
//   matches every name, including names without a dot, and "readme.*" matches "readme".
//
// A pattern without "*" or "?" names one entry and matches only that exact name, byte for byte:
// POSIX file systems tell case apart, so "A.EML" must not find "a.eml".
#pragma once

#include <string_view>

namespace mailfold::files {

bool HasWildcards(std::string_view pattern);

bool MatchesWildcard(std::string_view pattern, std::string_view name);

}  // namespace mailfold::files
