// Where the help lives: local HTML pages installed with the program (share/doc/mailfold/help),
// or the docs/help folder of a source tree when the program runs from its build folder.
#pragma once

#include <string>
#include <vector>

namespace mailfold::app {

inline constexpr const char* kSingleFolderFragment = "#single-folder";
inline constexpr const char* kMultipleFoldersFragment = "#multiple-folders";
inline constexpr const char* kSelectFolderFragment = "#select-folder";
inline constexpr const char* kSelectRootFolderFragment = "#select-root-folder";

inline constexpr const char* kHelpPageName = "help.html";
inline constexpr const char* kProductPageName = "index.html";

// The first of `candidates` that holds the help page; empty when none does.
std::string FindHelpFolder(const std::vector<std::string>& candidates);

// The folders searched for the help, in order: beside an installed program
// (<prefix>/share/doc/mailfold/help for <prefix>/bin/mailfold), then the source tree the
// program was built from.
std::vector<std::string> HelpFolderCandidates(const std::string& executablePath);

// "file://" address of a page in `helpFolder` (percent-encoded), followed by `fragment`.
// Empty when `helpFolder` is empty, so that the link opens nothing.
std::string PageAddress(const std::string& helpFolder, const std::string& page, const std::string& fragment = "");

// Percent-encodes a local path for a file URL: unreserved characters and "/" stay.
std::string EncodeFileUrlPath(const std::string& path);

}  // namespace mailfold::app
