// The default output folder and the help addresses.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/desktop_folder.h"
#include "app/help_links.h"
#include "support/temp_dir.h"

namespace mailfold::test {
namespace {

namespace fs = std::filesystem;

TEST(DesktopFolder, TheConfiguredDesktopWinsThenDesktopThenHome) {
  TempDir home;
  const std::string h = home.str();
  // No configuration and no Desktop folder: the home folder.
  EXPECT_EQ(app::DesktopFolderFor(h, ""), h);
  // ~/Desktop when it exists.
  fs::create_directories(home.path() / "Desktop");
  EXPECT_EQ(app::DesktopFolderFor(h, ""), h + "/Desktop");
  // The configured folder (localised name, $HOME expanded, trailing "/" dropped).
  fs::create_directories(home.path() / ".config");
  fs::create_directories(home.path() / "Schreibtisch");
  std::ofstream(home.path() / ".config" / "user-dirs.dirs")
      << "# written by xdg-user-dirs-update\nXDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n"
      << "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch/\"\n";
  EXPECT_EQ(app::DesktopFolderFor(h, ""), h + "/Schreibtisch");
  // XDG_CONFIG_HOME moves the configuration file.
  TempDir config;
  std::ofstream(config.path() / "user-dirs.dirs") << "XDG_DESKTOP_DIR=\"" << h << "\"\n";
  EXPECT_EQ(app::DesktopFolderFor(h, config.str()), h);
  // A configured desktop that does not exist: the home folder.
  std::ofstream(config.path() / "user-dirs.dirs") << "XDG_DESKTOP_DIR=\"$HOME/Gone\"\n";
  EXPECT_EQ(app::DesktopFolderFor(h, config.str()), h);
  // Without any home folder there is nothing to offer.
  EXPECT_EQ(app::DesktopFolderFor("", config.str()), "");
}

TEST(DesktopFolder, EntriesAreReadAsTheShellWouldAndOddOnesAreIgnored) {
  EXPECT_EQ(app::DesktopEntryOf("XDG_DESKTOP_DIR=\"$HOME/Desk\"", "/home/u"), "/home/u/Desk");
  EXPECT_EQ(app::DesktopEntryOf("  XDG_DESKTOP_DIR=\"/abs/desk\"  \r\n", "/home/u"), "/abs/desk");
  EXPECT_EQ(app::DesktopEntryOf("XDG_DESKTOP_DIR=\"relative\"", "/home/u"), "");
  EXPECT_EQ(app::DesktopEntryOf("#XDG_DESKTOP_DIR=\"/x\"\nXDG_DOCUMENTS_DIR=\"/y\"", "/home/u"), "");
  EXPECT_EQ(app::DesktopEntryOf("XDG_DESKTOP_DIR=\"/a\"\nXDG_DESKTOP_DIR=\"/b\"", "/home/u"), "/b");
  EXPECT_EQ(app::DesktopEntryOf("XDG_DESKTOP_DIR=\"$HOME/Desk\"", ""), "");
}

TEST(HelpLinks, AddressesAreFileUrlsWithTheFragmentAndEmptyWithoutHelp) {
  EXPECT_EQ(app::PageAddress("", "help.html", "#single-folder"), "");
  EXPECT_EQ(app::PageAddress("/usr/share/doc/mailfold/help", "help.html", "#select-folder"),
            "file:///usr/share/doc/mailfold/help/help.html#select-folder");
  EXPECT_EQ(app::PageAddress("/opt/My Help/ü", "index.html"), "file:///opt/My%20Help/%C3%BC/index.html");
  EXPECT_EQ(app::EncodeFileUrlPath("/a#b?c%d"), "/a%23b%3Fc%25d");
}

TEST(HelpLinks, TheInstalledHelpBesideTheProgramComesFirst) {
  TempDir prefix;
  fs::create_directories(prefix.path() / "bin");
  const fs::path help = prefix.path() / "share" / "doc" / "mailfold" / "help";
  const auto candidates = app::HelpFolderCandidates((prefix.path() / "bin" / "mailfold").string());
  ASSERT_FALSE(candidates.empty());
  EXPECT_EQ(fs::path(candidates[0]), help);
  EXPECT_EQ(app::FindHelpFolder({candidates[0]}), "");  // not there yet
  fs::create_directories(help);
  std::ofstream(help / "help.html") << "<html></html>";
  EXPECT_EQ(app::FindHelpFolder(candidates), help.string());
}

TEST(HelpLinks, TheShippedPagesHoldEveryFragmentTheScreensOpen) {
  const fs::path folder = fs::path(MAILFOLD_SOURCE_DIR) / "docs" / "help";
  std::ifstream in(folder / "help.html");
  ASSERT_TRUE(in) << folder;
  const std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (const char* fragment : {app::kSingleFolderFragment, app::kMultipleFoldersFragment,
                               app::kSelectFolderFragment, app::kSelectRootFolderFragment}) {
    EXPECT_NE(page.find(std::string("id=\"") + (fragment + 1) + "\""), std::string::npos) << fragment;
  }
  EXPECT_TRUE(fs::is_regular_file(folder / "index.html"));
}

}  // namespace
}  // namespace mailfold::test
