// Where tests find the shared samples and the built programs.
#pragma once

#include <filesystem>
#include <string>

namespace mailfold::test {

// The shared folder with Outlook-made stores and real messages. Absent in a user's fresh clone:
// tests that need it skip with a message saying so.
inline std::filesystem::path sharedDir() { return std::filesystem::path(MAILFOLD_SHARED_DIR); }
inline bool haveShared() { return std::filesystem::is_directory(sharedDir() / "samples"); }
inline std::filesystem::path sourceDir() { return std::filesystem::path(MAILFOLD_SOURCE_DIR); }
inline std::filesystem::path binDir() { return std::filesystem::path(MAILFOLD_BIN_DIR); }

}  // namespace mailfold::test

#define MAILFOLD_REQUIRE_SHARED()                                                              \
  do {                                                                                          \
    if (!::mailfold::test::haveShared())                                                        \
      GTEST_SKIP() << "shared samples not found at " << ::mailfold::test::sharedDir().string() \
                   << " (they come with the development checkout, not with a plain clone)";    \
  } while (0)
