#include "files/wildcard.h"

#include <gtest/gtest.h>

#include <string>

namespace mailfold::files {
namespace {

struct Case {
  const char* pattern;
  std::string name;
  bool matches;
};

TEST(Wildcard, MatchesLikeTheWindowsListing) {
  const Case cases[] = {
      {"*", "anything.eml", true},
      {"*", ".", true},
      {"*", "", true},
      {"*.eml", "msg.eml", true},
      {"*.eml", "MSG.EML", true},              // letters without regard to case
      {"*.EML", "msg.eml", true},
      {"*.eml", "msg.emlx", false},
      {"*.eml", "eml", false},
      {"*.eml", ".eml", true},
      {"*.eml", "a.b.eml", true},
      {"*.eml", ".", false},
      {"*.eml", "..", false},
      {"*.*", "README", true},                 // names without a dot too
      {"*.*", "a.b", true},
      {"*.*", ".", true},
      {"*.*", "..", true},
      {"readme.*", "readme", true},
      {"readme.*", "README.txt", true},
      {"readme.*", "readmes", false},
      {"?.eml", "a.eml", true},
      {"?.eml", "ab.eml", false},
      {"?.eml", ".eml", false},
      {"a*b*c", "aXXbYYc", true},
      {"a*b*c", "aXXbYY", false},
      {"*a*a*a*a*a*b", std::string(200, 'a'), false},  // backtracking stays linear
      {"caf\xc9.eml", "caf\xe9.eml", false},    // only ASCII letters fold
      {"*\xff*", std::string("x\xffy"), true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchesWildcard(c.pattern, c.name), c.matches) << "pattern " << c.pattern << " name " << c.name;
  }
}

TEST(Wildcard, PatternWithoutWildcardsNamesOneEntryExactly) {
  EXPECT_TRUE(MatchesWildcard("a.eml", "a.eml"));
  EXPECT_FALSE(MatchesWildcard("a.eml", "A.EML"));  // case-sensitive file systems keep both apart
  EXPECT_FALSE(MatchesWildcard("a.eml", "a.eml2"));
  EXPECT_FALSE(HasWildcards("a.eml"));
  EXPECT_TRUE(HasWildcards("a?.eml"));
  EXPECT_TRUE(HasWildcards("*"));
}

}  // namespace
}  // namespace mailfold::files
