#include "files/directory_search.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "files/platform.h"
#include "support/temp_dir.h"
#include "tree_builder.h"

namespace mailfold::files {
namespace {

using namespace mailfold::test;  // tree builders and TempDir

std::vector<std::string> ListNames(const std::string& spec) {
  std::vector<std::string> names;
  FindRecord record;
  if (FindFirstEntry(spec, record) != kNoSearch) {
    do names.push_back(record.name);
    while (FindNextEntry(record));
  }
  CloseSearch(record);
  return names;
}

class DirectorySearch : public ::testing::Test {
 protected:
  void SetUp() override { root_ = dir_.str() + "/"; }
  TempDir dir_;
  std::string root_;
};

TEST_F(DirectorySearch, ListsDotsFirstThenNamesInByteOrder) {
  for (const char* name : {"b.eml", "B.eml", "a.eml", "\xff-raw", "_x", "sub"}) MakeFile(root_ + name);
  const std::vector<std::string> expected = {".", "..", "B.eml", "_x", "a.eml", "b.eml", "sub", "\xff-raw"};
  EXPECT_EQ(ListNames(root_ + "*"), expected);
  EXPECT_EQ(ListNames(root_ + "*.EML"), (std::vector<std::string>{"B.eml", "a.eml", "b.eml"}));
}

TEST_F(DirectorySearch, TheRootFolderHasNoDotEntries) {
  const std::vector<std::string> names = ListNames("/*");
  ASSERT_FALSE(names.empty());
  for (const std::string& name : names) EXPECT_TRUE(name != "." && name != "..") << name;
}

TEST_F(DirectorySearch, NothingMatchingGivesFileNotFound) {
  MakeFile(root_ + "a.txt");
  FindRecord record;
  EXPECT_EQ(FindFirstEntry(root_ + "*.eml", record), kNoSearch);
  EXPECT_TRUE(record.error);
  EXPECT_EQ(record.errorCode, 2);
  EXPECT_EQ(LastFileError(), 2);
  EXPECT_FALSE(record.hasEntry);
  EXPECT_EQ(record.handle, kNoSearch);
  EXPECT_TRUE(CloseSearch(record));
}

TEST_F(DirectorySearch, MissingOrUnusableFolderGivesPathNotFound) {
  MakeFile(root_ + "file");
  FindRecord record;
  EXPECT_EQ(FindFirstEntry(root_ + "missing/*", record), kNoSearch);
  EXPECT_EQ(record.errorCode, 3);
  EXPECT_EQ(FindFirstEntry(root_ + "file/*", record), kNoSearch);
  EXPECT_EQ(record.errorCode, 3);
  EXPECT_EQ(FindFirstEntry(root_ + std::string(5000, 'x') + "/*", record), kNoSearch);
  EXPECT_EQ(record.errorCode, 206);
  EXPECT_EQ(LastFileError(), 206);
}

TEST_F(DirectorySearch, RunningOutEndsTheSearchWithoutError) {
  MakeFile(root_ + "only.eml");
  FindRecord record;
  const std::int32_t handle = FindFirstEntry(root_ + "*.eml", record);
  ASSERT_NE(handle, kNoSearch);
  EXPECT_NE(handle, 0);
  EXPECT_EQ(record.handle, handle);
  EXPECT_TRUE(record.hasEntry);
  EXPECT_EQ(record.name, "only.eml");
  SetLastFileError(42);
  EXPECT_FALSE(FindNextEntry(record));
  EXPECT_FALSE(record.error);
  EXPECT_EQ(record.errorCode, 0);
  EXPECT_EQ(LastFileError(), 0);
  EXPECT_FALSE(record.hasEntry);
  EXPECT_EQ(record.handle, 0);
  EXPECT_TRUE(CloseSearch(record));
  EXPECT_EQ(record.handle, kNoSearch);
}

TEST_F(DirectorySearch, NextWithoutASearchFailsAndSaysSo) {
  FindRecord record;
  EXPECT_FALSE(FindNextEntry(record));
  EXPECT_TRUE(record.error);
  EXPECT_EQ(record.errorCode, 6);
  EXPECT_EQ(LastFileError(), 6);  // the failure stays visible after the search is ended
  EXPECT_EQ(record.handle, 0);
}

TEST_F(DirectorySearch, ARecordCanBeReusedForAnotherSearch) {
  MakeFile(root_ + "a.eml");
  MakeFile(root_ + "b.eml");
  MakeFile(root_ + "c.txt");
  FindRecord record;
  ASSERT_NE(FindFirstEntry(root_ + "*.eml", record), kNoSearch);  // left unfinished
  ASSERT_NE(FindFirstEntry(root_ + "*.txt", record), kNoSearch);
  EXPECT_EQ(record.name, "c.txt");
  EXPECT_FALSE(FindNextEntry(record));
}

TEST_F(DirectorySearch, ASpecNamingOneEntryFindsThatEntry) {
  MakeFile(root_ + "a.eml");
  MakeFile(root_ + "A.EML.bak");
  EXPECT_EQ(ListNames(root_ + "a.eml"), std::vector<std::string>{"a.eml"});
  EXPECT_TRUE(ListNames(root_ + "A.EML").empty());
  EXPECT_TRUE(ListNames(root_).empty());  // a folder spec with its "/" names no entry
}

TEST_F(DirectorySearch, PathKindAndParentFolder) {
  EXPECT_EQ(PathKindOf("//server/share/*"), kNetworkPath);
  EXPECT_EQ(ParentFolderOfSpec("//server/share/*", kNetworkPath), "//server/share/");
  EXPECT_EQ(PathKindOf("//server"), kNetworkPath);
  EXPECT_EQ(ParentFolderOfSpec("//server", kNetworkPath), "");
  EXPECT_EQ(ParentFolderOfSpec("//server/", kNetworkPath), "");
  EXPECT_EQ(PathKindOf("/data/*.eml"), kLocalPath);
  EXPECT_EQ(ParentFolderOfSpec("/data/*.eml", kLocalPath), "/data/");
  EXPECT_EQ(ParentFolderOfSpec("/data/", kLocalPath), "/");
  EXPECT_EQ(ParentFolderOfSpec("*.eml", kLocalPath), "");
  EXPECT_EQ(ParentFolderOfSpec("/", kLocalPath), "");
  EXPECT_EQ(PathKindOf("FTP://host/dir/*"), kRemoteAddress);
  EXPECT_EQ(PathKindOf("ftp:/"), kLocalPath);

  FindRecord record;
  record.error = true;
  EXPECT_EQ(FindFirstEntry("FtP://host/*", record), kNoSearch);
  EXPECT_EQ(record.pathKind, kRemoteAddress);
  EXPECT_FALSE(record.error);
  EXPECT_EQ(record.errorCode, 0);
  EXPECT_FALSE(record.hasEntry);
}

TEST_F(DirectorySearch, ExtensionIsTheTextAfterTheLastDot) {
  EXPECT_EQ(ExtensionOf("."), "");
  EXPECT_EQ(ExtensionOf(".."), "");
  EXPECT_EQ(ExtensionOf("archive.tar.gz"), "gz");
  EXPECT_EQ(ExtensionOf(".profile"), "profile");
  EXPECT_EQ(ExtensionOf("README"), "");
  EXPECT_EQ(ExtensionOf("trailing."), "");
}

TEST_F(DirectorySearch, DescribesFilesAndFolders) {
  MakeFile(root_ + "msg.eml", std::string(1234, 'm'));
  MakeFolder(root_ + "sub.d");
  MakeFile(root_ + ".hidden");
  ::chmod((root_ + "msg.eml").c_str(), 0444);
  const struct timespec times[2] = {{1000000000, 0}, {1000000000, 999}};  // 2001-09-09 01:46:40 UTC
  ASSERT_EQ(::utimensat(AT_FDCWD, (root_ + "msg.eml").c_str(), times, 0), 0);

  FindRecord record;
  ASSERT_NE(FindFirstEntry(root_ + "*.eml", record), kNoSearch);
  EXPECT_EQ(record.searchSpec, root_ + "*.eml");
  EXPECT_EQ(record.pathKind, kLocalPath);
  EXPECT_EQ(record.parentFolder, root_);
  EXPECT_EQ(record.fullPath, root_ + "msg.eml");
  EXPECT_EQ(record.alias, "msg.eml");
  EXPECT_EQ(record.extension, "eml");
  EXPECT_EQ(record.attributes, kAttrReadOnly);
  EXPECT_TRUE(record.isFile);
  EXPECT_FALSE(record.isFolder);
  EXPECT_EQ(record.size, 1234u);
  EXPECT_EQ(record.onDiskSize, 1234u);
  const std::uint64_t expectedTicks = (1000000000ULL + 11644473600ULL) * 10000000ULL + 9;
  EXPECT_EQ(record.lastWritten.rawCount, expectedTicks);
  EXPECT_FALSE(record.lastWritten.error);
  EXPECT_DOUBLE_EQ(record.lastWritten.dateValue, 37143.0 + 6400.0 / 86400.0);
  EXPECT_EQ(record.lastAccessed.rawCount, expectedTicks - 9);
  EXPECT_GT(record.created.rawCount, 0u);
  CloseSearch(record);

  ASSERT_NE(FindFirstEntry(root_ + "sub.d", record), kNoSearch);
  EXPECT_EQ(record.attributes, kAttrFolder);
  EXPECT_TRUE(record.isFolder);
  EXPECT_EQ(record.size, 0u);
  EXPECT_EQ(record.onDiskSize, 0u);
  ASSERT_NE(FindFirstEntry(root_ + ".h*", record), kNoSearch);
  EXPECT_EQ(record.attributes, kAttrHidden);
  CloseSearch(record);
}

TEST_F(DirectorySearch, SizesBeyondFourGigabytesAreExact) {
  const std::string path = root_ + "big.eml";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  const bool sized = ::ftruncate(fd, 5000000000LL) == 0;  // sparse: takes no disk space
  ::close(fd);
  if (!sized) GTEST_SKIP() << "the temporary file system cannot hold a 5 GB sparse file";
  FindRecord record;
  ASSERT_NE(FindFirstEntry(path, record), kNoSearch);
  EXPECT_EQ(record.size, 5000000000ULL);
  EXPECT_EQ(record.onDiskSize, 5000000000ULL);
  CloseSearch(record);
}

TEST_F(DirectorySearch, AnEntryWithoutReadableStatusIsStillDescribed) {
  mailfold::test::MakeLink(root_ + "gone", root_ + "dangling.eml");
  FindRecord record;
  ASSERT_NE(FindFirstEntry(root_ + "*.eml", record), kNoSearch);
  EXPECT_EQ(record.name, "dangling.eml");
  EXPECT_TRUE(record.isFile);
  EXPECT_EQ(record.attributes, kAttrNormal);
  CloseSearch(record);
}

TEST(CombineDWords, JoinsTheHalvesAsUnsignedNumbers) {
  EXPECT_EQ(CombineDWords(705032704, 1), 5000000000ULL);
  EXPECT_EQ(CombineDWords(-1, 0), 4294967295ULL);
  EXPECT_EQ(CombineDWords(-1, -1), 18446744073709551615ULL);
  EXPECT_EQ(CombineDWords(0, -2147483647 - 1), 9223372036854775808ULL);
}

TEST(DateValue, CountsDaysFromTheEndOf1899WithTimeAsFraction) {
  double value = 123.0;
  const std::uint64_t ticksPerDay = 864000000000ULL;
  const std::uint64_t zeroDay = 109205 * ticksPerDay;  // 30 December 1899
  ASSERT_TRUE(DateValueFromFileTime(zeroDay, value));
  EXPECT_DOUBLE_EQ(value, 0.0);
  ASSERT_TRUE(DateValueFromFileTime(zeroDay + ticksPerDay / 2 + 9999999, value));  // milliseconds dropped
  EXPECT_DOUBLE_EQ(value, 0.5);
  ASSERT_TRUE(DateValueFromFileTime(zeroDay - ticksPerDay + ticksPerDay / 4, value));  // 29 Dec 06:00
  EXPECT_DOUBLE_EQ(value, -1.25);
  ASSERT_TRUE(DateValueFromFileTime(0, value));  // 1 January 1601
  EXPECT_DOUBLE_EQ(value, -109205.0);
}

TEST(DateValue, DatesBeyondTheYear9999AreAnError) {
  // 1 January 10000 is 3,067,671 days after 1 January 1601.
  const std::uint64_t year10000 = 3067671ULL * 864000000000ULL;
  double value = 7.0;
  EXPECT_TRUE(DateValueFromFileTime(year10000 - 1, value));
  EXPECT_FALSE(DateValueFromFileTime(year10000, value));

  FileTimeInfo info;
  info.dateValue = 7.0;
  FillFileTimeInfo(timespec{-11644473601LL, 0}, info);  // a second before 1601
  EXPECT_TRUE(info.error);
  EXPECT_EQ(info.dateValue, 7.0);
}

}  // namespace
}  // namespace mailfold::files
