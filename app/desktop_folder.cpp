#include "app/desktop_folder.h"

#ifdef _WIN32
#include <shlobj.h>
#include <windows.h>

#include "files/platform.h"
#else
#include <pwd.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace mailfold::app {

namespace fs = std::filesystem;

namespace {

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

std::string WithoutTrailingSeparator(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool IsFolder(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_directory(path, ec);
}

}  // namespace

std::string DesktopEntryOf(const std::string& userDirsText, const std::string& home) {
  std::istringstream lines(userDirsText);
  std::string line, value;
  const std::string key = "XDG_DESKTOP_DIR=";
  while (std::getline(lines, line)) {
    line = Trimmed(line);
    if (line.rfind(key, 0) != 0) continue;
    std::string raw = Trimmed(line.substr(key.size()));
    if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"') raw = raw.substr(1, raw.size() - 2);
    // The file allows only "$HOME/..." or absolute paths; a later line wins, as in the shell.
    if (raw.rfind("$HOME", 0) == 0) {
      if (home.empty()) continue;
      raw = home + raw.substr(5);
    } else if (raw.empty() || raw.front() != '/') {
      continue;
    }
    value = raw;
  }
  return value;
}

std::string DesktopFolderFor(const std::string& home, const std::string& configHome) {
  std::string configured;
  const std::string configFolder = !configHome.empty() ? configHome : (home.empty() ? "" : home + "/.config");
  if (!configFolder.empty()) {
    std::ifstream in(configFolder + "/user-dirs.dirs");
    if (in) {
      std::stringstream text;
      text << in.rdbuf();
      configured = DesktopEntryOf(text.str(), home);
    }
  }
  if (configured.empty() && !home.empty()) configured = home + "/Desktop";
  if (IsFolder(configured)) return WithoutTrailingSeparator(configured);
  return home.empty() ? std::string() : WithoutTrailingSeparator(home);
}

#ifdef _WIN32
// The shell's own answer (the Desktop known folder, wherever the user or a policy moved it).
std::string DesktopFolder() {
  wchar_t* path = nullptr;
  std::string desktop;
  if (::SHGetKnownFolderPath(FOLDERID_Desktop, KF_FLAG_DEFAULT, nullptr, &path) == S_OK) desktop = files::Utf8FromWide(path);
  ::CoTaskMemFree(path);
  std::replace(desktop.begin(), desktop.end(), '\\', '/');  // the engine splits paths at "/"
  return desktop;
}
#else
std::string DesktopFolder() {
  std::string home;
  if (const char* value = std::getenv("HOME"); value && *value) {
    home = value;
  } else if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) {
    home = entry->pw_dir;
  }
  const char* configHome = std::getenv("XDG_CONFIG_HOME");
  return DesktopFolderFor(home, configHome ? configHome : "");
}

#endif

}  // namespace mailfold::app
