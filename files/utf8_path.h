// std::filesystem paths from and to the UTF-8 strings the layers pass around. On Windows a path
// made from a plain std::string is read in the C runtime's locale, not as UTF-8, so names beyond
// ASCII would be garbled; there the conversion goes through char8_t. On POSIX the bytes pass
// through unchanged, as everywhere else in the file services.
#pragma once

#include <filesystem>
#include <string>

namespace mailfold::files {

inline std::filesystem::path PathFromUtf8(const std::string& text) {
#ifdef _WIN32
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
#else
  return std::filesystem::path(text);
#endif
}

// The path as UTF-8; on Windows with "/" separators (the form the engine splits at).
inline std::string Utf8FromPath(const std::filesystem::path& path) {
#ifdef _WIN32
  const std::u8string text = path.generic_u8string();
  return std::string(text.begin(), text.end());
#else
  return path.string();
#endif
}

}  // namespace mailfold::files
