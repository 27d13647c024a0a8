#include "files/platform.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "support/temp_dir.h"
#include "tree_builder.h"

namespace mailfold::files {
namespace {

using namespace mailfold::test;  // tree builders and TempDir

TEST(ErrnoTranslation, KeepsUnmappedCodesAndMarksAMissingOne) {
  EXPECT_EQ(WindowsErrorFromErrno(EAGAIN), EAGAIN);
  EXPECT_EQ(WindowsErrorFromErrno(0), -1);
  SetLastFileError(7);
  EXPECT_EQ(RecordFileError(0), -1);
  EXPECT_EQ(LastFileError(), -1);
}

TEST(GetAttributes, DescribesEachKindOfEntry) {
  TempDir dir;
  const std::string root = dir.str() + "/";
  MakeFile(root + "plain.eml");
  MakeFile(root + ".hidden");
  MakeFile(root + "locked");
  ::chmod((root + "locked").c_str(), 0444);
  MakeFolder(root + "sub");
  mailfold::test::MakeLink(root + "sub", root + "link-to-sub");
  ASSERT_EQ(::mkfifo((root + "pipe").c_str(), 0644), 0);

  SetLastFileError(99);
  EXPECT_EQ(GetAttributes(root + "plain.eml"), kAttrNormal);
  EXPECT_EQ(LastFileError(), 0);
  EXPECT_EQ(GetAttributes(root + ".hidden"), kAttrHidden);
  EXPECT_EQ(GetAttributes(root + "locked"), kAttrReadOnly);
  EXPECT_EQ(GetAttributes(root + "sub"), kAttrFolder);
  EXPECT_EQ(GetAttributes(root + "sub/"), kAttrFolder);
  EXPECT_EQ(GetAttributes(root + "link-to-sub"), kAttrFolder);
  EXPECT_EQ(GetAttributes(root + "pipe"), kAttrDevice);
  EXPECT_EQ(GetAttributes(root + "sub/."), kAttrFolder);  // "." is not hidden
}

TEST(GetAttributes, FailsWithTheWindowsCodes) {
  TempDir dir;
  MakeFile(dir.str() + "/file");
  EXPECT_EQ(GetAttributes(dir.str() + "/missing"), kInvalidAttributes);
  EXPECT_EQ(LastFileError(), 2);
  EXPECT_EQ(GetAttributes(dir.str() + "/no-folder/missing"), kInvalidAttributes);
  EXPECT_EQ(LastFileError(), 3);
  EXPECT_EQ(GetAttributes(dir.str() + "/file/inside"), kInvalidAttributes);
  EXPECT_EQ(LastFileError(), 3);
}

TEST(GetAttributes, RefusesPathsTheSystemCannotTakeAsGiven) {
  TempDir dir;
  MakeFile(dir.str() + "/a");
  EXPECT_EQ(GetAttributes(dir.str() + "/" + std::string(5000, 'n')), kInvalidAttributes);
  EXPECT_EQ(LastFileError(), 206);
  // The longest path the system takes still works; one byte more is refused.
  std::string longest = dir.str();
  while (longest.size() + 2 <= kMaxPathBytes - 1) longest += "/.";
  if (longest.size() < kMaxPathBytes - 1) longest += "/";
  ASSERT_EQ(longest.size(), kMaxPathBytes - 1);
  EXPECT_EQ(GetAttributes(longest), kAttrFolder);
  EXPECT_EQ(GetAttributes(longest + "/"), kInvalidAttributes);
  EXPECT_EQ(LastFileError(), 206);
  // The bytes before the NUL name a real file; it must not be what gets looked at.
  EXPECT_EQ(GetAttributes(dir.str() + "/a" + std::string(1, '\0') + "b"), kInvalidAttributes);
  EXPECT_EQ(LastFileError(), 123);
}

TEST(SetAttributes, SwitchesTheOwnersWritePermission) {
  TempDir dir;
  const std::string file = dir.str() + "/f";
  MakeFile(file);
  ASSERT_EQ(SetAttributes(file, kAttrReadOnly), 0);
  EXPECT_EQ(ModeOf(file) & 0222, 0u);
  EXPECT_EQ(GetAttributes(file), kAttrReadOnly);
  ASSERT_EQ(SetAttributes(file, kAttrNormal), 0);
  EXPECT_EQ(ModeOf(file), 0644u);
  EXPECT_EQ(LastFileError(), 0);
  // Hidden and folder bits follow the name and the kind; asking for them changes nothing else.
  EXPECT_EQ(SetAttributes(file, kAttrHidden | kAttrFolder), 0);
  EXPECT_EQ(ModeOf(file), 0644u);
}

TEST(SetAttributes, ReportsFailures) {
  TempDir dir;
  EXPECT_EQ(SetAttributes(dir.str() + "/missing", kAttrNormal), 2);
  EXPECT_EQ(LastFileError(), 2);
  MakeFile(dir.str() + "/f");
  EXPECT_EQ(SetAttributes(dir.str() + "/f", kInvalidAttributes), 87);
}

}  // namespace
}  // namespace mailfold::files
