#include "app/help_links.h"

#include <filesystem>
#include <system_error>

namespace mailfold::app {

namespace fs = std::filesystem;

std::string FindHelpFolder(const std::vector<std::string>& candidates) {
  for (const auto& folder : candidates) {
    std::error_code ec;
    if (!folder.empty() && fs::is_regular_file(fs::path(folder) / kHelpPageName, ec)) return folder;
  }
  return {};
}

std::vector<std::string> HelpFolderCandidates(const std::string& executablePath) {
  std::vector<std::string> candidates;
  if (!executablePath.empty()) {
    const fs::path bin = fs::path(executablePath).parent_path();
#ifdef _WIN32
    // The zip and the installer put the help beside the programs.
    candidates.push_back((bin / "help").string());
#endif
    candidates.push_back((bin.parent_path() / "share" / "doc" / "mailfold" / "help").string());
  }
#ifdef MAILFOLD_SOURCE_HELP_DIR
  candidates.push_back(MAILFOLD_SOURCE_HELP_DIR);
#endif
  return candidates;
}

std::string EncodeFileUrlPath(const std::string& path) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                       c == '_' || c == '.' || c == '~' || c == '/';
    if (plain) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 0x0F];
    }
  }
  return out;
}

std::string PageAddress(const std::string& helpFolder, const std::string& page, const std::string& fragment) {
  if (helpFolder.empty()) return {};
  std::error_code ec;
  fs::path full = fs::absolute(fs::path(helpFolder) / page, ec);
  if (ec) full = fs::path(helpFolder) / page;
#ifdef _WIN32
  // file:///C:/Program%20Files/...: "/" separators, the drive's colon kept as it is.
  const std::string generic = full.lexically_normal().generic_string();
  if (generic.size() >= 2 && generic[1] == ':')
    return "file:///" + generic.substr(0, 2) + EncodeFileUrlPath(generic.substr(2)) + fragment;
  return "file:" + EncodeFileUrlPath(generic) + fragment;  // \\server\share -> file://server/share
#else
  return "file://" + EncodeFileUrlPath(full.lexically_normal().string()) + fragment;
#endif
}

}  // namespace mailfold::app
