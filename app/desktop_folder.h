// The current user's desktop folder, the default output folder of the multiple-folder screen.
#pragma once

#include <string>

namespace mailfold::app {

// Reads it the way xdg-user-dir does: XDG_DESKTOP_DIR from user-dirs.dirs in the configuration
// folder ($XDG_CONFIG_HOME, else ~/.config), with $HOME expanded, else ~/Desktop. When that
// folder does not exist the home folder is used. The result has no trailing separator (except
// for "/"); empty only when there is no home folder either.
std::string DesktopFolder();

// The same rule over given inputs, for tests: `home` and `configHome` as the environment would
// give them (empty when unset).
std::string DesktopFolderFor(const std::string& home, const std::string& configHome);

// The value of XDG_DESKTOP_DIR in the text of a user-dirs.dirs file, with "$HOME" expanded;
// empty when the file does not set it.
std::string DesktopEntryOf(const std::string& userDirsText, const std::string& home);

}  // namespace mailfold::app
