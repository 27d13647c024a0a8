#include "files/existence.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "files/platform.h"
#include "support/temp_dir.h"
#include "tree_builder.h"

namespace mailfold::files {
namespace {

using namespace mailfold::test;  // tree builders and TempDir

class Existence : public ::testing::Test {
 protected:
  void SetUp() override { root_ = dir_.str() + "/"; }
  TempDir dir_;
  std::string root_;
};

TEST_F(Existence, FileExistsForFilesOnly) {
  MakeFile(root_ + "msg.eml");
  MakeFile(root_ + ".hidden.eml");
  MakeFile(root_ + "locked.eml");
  ::chmod((root_ + "locked.eml").c_str(), 0444);
  MakeFolder(root_ + "folder");
  MakeLink(root_ + "gone", root_ + "dangling");

  EXPECT_TRUE(FileExists(root_ + "msg.eml"));
  EXPECT_TRUE(FileExists(root_ + ".hidden.eml"));
  EXPECT_TRUE(FileExists(root_ + "locked.eml"));
  EXPECT_TRUE(FileExists(root_ + "dangling"));  // its folder lists it, though it leads nowhere
  EXPECT_FALSE(FileExists(root_ + "folder"));
  EXPECT_FALSE(FileExists(root_ + "folder/"));
  EXPECT_FALSE(FileExists(root_ + "MSG.EML"));
  SetLastFileError(5);
  EXPECT_FALSE(FileExists(root_ + "missing.eml.meta"));
  EXPECT_EQ(LastFileError(), 0);
  EXPECT_FALSE(FileExists(""));
  EXPECT_FALSE(FileExists(root_ + "*.eml"));  // a pattern is no file name, even when it matches
  EXPECT_FALSE(FileExists(root_ + "msg.eml?"));
  MakeFile(root_ + "odd*name?.eml");
  EXPECT_TRUE(FileExists(root_ + "odd*name?.eml"));
}

TEST_F(Existence, FileExistsFindsAFileWhoseStatusCannotBeRead) {
  // A folder that may be listed but not searched: the file's own status is out of reach, its
  // name is not.
  const auto answer = RunUnprivileged([](const std::string& work) {
    MakeFolder(work + "/listable");
    MakeFile(work + "/listable/msg.eml");
    ::chmod((work + "/listable").c_str(), 0444);
    const std::string path = work + "/listable/msg.eml";
    const bool direct = GetAttributes(path) != kInvalidAttributes;
    return std::string(direct ? "direct " : "listed ") + (FileExists(path) ? "exists" : "missing");
  });
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(*answer, "listed exists");
}

TEST_F(Existence, FolderExistsWithAnyTrailingSeparatorAndBlanks) {
  MakeFolder(root_ + "empty");
  MakeFile(root_ + "file");
  for (const std::string& form : {root_ + "empty", root_ + "empty/", "  " + root_ + "empty  ", " " + root_ + "empty/ "}) {
    SetLastFileError(9);
    EXPECT_TRUE(FolderExists(form)) << "'" << form << "'";
    EXPECT_EQ(LastFileError(), 0);
  }
  for (const std::string& form : {root_ + "missing", root_ + "missing/", root_ + "file", root_ + "file/"}) {
    SetLastFileError(9);
    EXPECT_FALSE(FolderExists(form)) << "'" << form << "'";
    EXPECT_EQ(LastFileError(), 0);
  }
  EXPECT_TRUE(FolderExists("/"));
}

TEST_F(Existence, ABlankPathIsNoFolder) {
  EXPECT_FALSE(FolderExists(""));
  EXPECT_FALSE(FolderExists("   "));
}

TEST_F(Existence, FolderExistsForAFolderThatCannotBeListed) {
  const auto answer = RunUnprivileged([](const std::string& work) {
    MakeFolder(work + "/closed");
    ::chmod((work + "/closed").c_str(), 0);
    return std::string(FolderExists(work + "/closed/") ? "yes" : "no");
  });
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(*answer, "yes");
}

TEST_F(Existence, DeleteFileForcedRemovesReadOnlyFiles) {
  MakeFile(root_ + "locked.eml");
  ::chmod((root_ + "locked.eml").c_str(), 0444);
  SetLastFileError(9);
  EXPECT_EQ(DeleteFileForced(root_ + "locked.eml"), 0);
  EXPECT_EQ(LastFileError(), 0);
  EXPECT_FALSE(EntryExists(root_ + "locked.eml"));
  // A path with its trailing separator takes the folder form, which deletes what it names.
  MakeFile(root_ + "plain");
  EXPECT_EQ(DeleteFileForced(root_ + "plain/"), 0);
  EXPECT_FALSE(EntryExists(root_ + "plain"));
}

TEST_F(Existence, DeleteFileForcedReportsMissingFiles) {
  EXPECT_EQ(DeleteFileForced(root_ + "missing.eml"), 2);
  EXPECT_EQ(LastFileError(), 2);
  EXPECT_EQ(DeleteFileForced(root_ + "missing/x.eml"), 3);
  EXPECT_EQ(LastFileError(), 3);
  EXPECT_EQ(DeleteFileForced(root_ + "a" + std::string(1, '\0') + "b"), 123);
}

TEST_F(Existence, DeleteFileForcedNeverTouchesFolders) {
  MakeFolder(root_ + "keep");
  ::chmod((root_ + "keep").c_str(), 0555);
  EXPECT_EQ(DeleteFileForced(root_ + "keep"), 5);
  EXPECT_EQ(LastFileError(), 5);
  EXPECT_EQ(DeleteFileForced(root_ + "keep/"), 5);
  EXPECT_TRUE(EntryExists(root_ + "keep"));
  EXPECT_EQ(ModeOf(root_ + "keep"), 0555u);
}

TEST_F(Existence, DeleteFileForcedOnTheRootRefuses) {
  EXPECT_EQ(DeleteFileForced("/"), -1);
  EXPECT_EQ(LastFileError(), -1);
  EXPECT_EQ(DeleteFileForced("//"), -1);
}

TEST_F(Existence, DeleteFileForcedOnALinkLeavesItsTargetAlone) {
  MakeFile(root_ + "target.eml");
  ::chmod((root_ + "target.eml").c_str(), 0444);
  MakeLink(root_ + "target.eml", root_ + "link.eml");
  EXPECT_EQ(DeleteFileForced(root_ + "link.eml"), 0);
  EXPECT_FALSE(EntryExists(root_ + "link.eml"));
  EXPECT_EQ(ModeOf(root_ + "target.eml"), 0444u);
}

TEST_F(Existence, DeleteFileForcedLeavesProtectedFilesWhereTheyAre) {
  const auto answer = RunUnprivileged([](const std::string& work) {
    MakeFolder(work + "/sealed");
    MakeFile(work + "/sealed/msg.eml");
    ::chmod((work + "/sealed").c_str(), 0555);
    const std::int32_t code = DeleteFileForced(work + "/sealed/msg.eml");
    return std::to_string(code) + " " + std::to_string(LastFileError()) + " " +
           (EntryExists(work + "/sealed/msg.eml") ? "kept" : "gone");
  });
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(*answer, "5 5 kept");
}

TEST(AddBackslash, TrimsBlanksAndEnsuresOneTrailingSeparator) {
  EXPECT_EQ(AddBackslash(""), "/");
  EXPECT_EQ(AddBackslash("   "), "/");
  EXPECT_EQ(AddBackslash("/data"), "/data/");
  EXPECT_EQ(AddBackslash("/data/"), "/data/");
  EXPECT_EQ(AddBackslash("  /data  "), "/data/");
  EXPECT_EQ(AddBackslash("/"), "/");
  EXPECT_EQ(AddBackslash("C:\\"), "C:\\/");  // "\" is a name character here
}

TEST(IsRootPath, KnowsThePosixRootAndTheWindowsForms) {
  EXPECT_TRUE(IsRootPath("/"));
  EXPECT_TRUE(IsRootPath(" / "));
  EXPECT_TRUE(IsRootPath("//"));
  EXPECT_FALSE(IsRootPath("/data"));
  EXPECT_FALSE(IsRootPath("/data/"));
  EXPECT_TRUE(IsRootPath("C:\\"));
  EXPECT_TRUE(IsRootPath("C:"));
  EXPECT_TRUE(IsRootPath("C:/"));
  EXPECT_FALSE(IsRootPath("C:\\data"));
  EXPECT_FALSE(IsRootPath("C:\\data\\"));
  EXPECT_TRUE(IsRootPath("\\\\server"));
  EXPECT_TRUE(IsRootPath("\\\\server\\"));
  EXPECT_FALSE(IsRootPath("\\\\server\\share"));
  EXPECT_FALSE(IsRootPath("\\\\server\\share\\"));
  EXPECT_TRUE(IsRootPath("//server/"));
  EXPECT_FALSE(IsRootPath("//server/share"));
  EXPECT_FALSE(IsRootPath(""));
  EXPECT_FALSE(IsRootPath("   "));
  EXPECT_FALSE(IsRootPath("\\"));
  EXPECT_FALSE(IsRootPath("data"));
}

}  // namespace
}  // namespace mailfold::files
