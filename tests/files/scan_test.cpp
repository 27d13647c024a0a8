#include "files/scan.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "files/platform.h"
#include "support/temp_dir.h"
#include "tree_builder.h"

namespace mailfold::files {
namespace {

using namespace mailfold::test;  // tree builders and TempDir
using Strings = std::vector<std::string>;

class RecordingScreen : public ScanScreen {
 public:
  void yield() override {
    ++yields;
    if (onYield) onYield();
  }
  bool deleteSourceChecked() override { return deleteChecked; }
  void setQueuedStatus(const std::string& text) override { statuses.push_back(text); }

  int yields = 0;
  bool deleteChecked = false;
  Strings statuses;
  std::function<void()> onYield;
};

Strings ValuesOf(const ProcessList& list) {
  const auto current = list.current();
  return current ? current->values() : Strings{};
}

Strings KeysOf(const ProcessList& list) {
  const auto current = list.current();
  return current ? current->keys() : Strings{};
}

class FolderTreeScan : public ::testing::Test {
 protected:
  void SetUp() override {
    colFiles().discard();
    colFolders().discard();
    root_ = dir_.str() + "/";
  }
  void TearDown() override {
    colFiles().discard();
    colFolders().discard();
  }
  // Scans with the run driver's start values: file counter 1, folder counter as left.
  void scan(std::string folder, const std::string& mask) {
    fileCounter_ = 1;
    ScanFolderTree(folder, mask, fileCounter_, folderCounter_, screen_);
  }

  TempDir dir_;
  std::string root_;
  std::int32_t fileCounter_ = 1;
  std::int32_t folderCounter_ = 0;
  RecordingScreen screen_;
};

TEST_F(FolderTreeScan, ListsParentsBeforeChildrenAndFilesFolderByFolder) {
  MakeFile(root_ + "r1");
  MakeFile(root_ + "r2");
  MakeFolder(root_ + "A");
  MakeFile(root_ + "A/a1");
  MakeFolder(root_ + "A/A1");
  MakeFile(root_ + "A/A1/x");
  MakeFolder(root_ + "B");
  MakeFile(root_ + "B/b1");

  std::string folder = dir_.str();  // without its trailing separator
  ScanFolderTree(folder, "*.*", fileCounter_, folderCounter_, screen_);

  EXPECT_EQ(folder, root_);
  EXPECT_EQ(ValuesOf(colFolders()), (Strings{root_ + "A", root_ + "B", root_ + "A/A1"}));
  EXPECT_EQ(KeysOf(colFolders()), (Strings{"Z0", "Z1", "Z2"}));
  EXPECT_EQ(ValuesOf(colFiles()), (Strings{root_ + "r1", root_ + "r2", root_ + "A/a1", root_ + "A/A1/x", root_ + "B/b1"}));
  EXPECT_EQ(KeysOf(colFiles()), (Strings{"K1", "K2", "K3", "K4", "K5"}));
  EXPECT_EQ(fileCounter_, 6);
  EXPECT_EQ(folderCounter_, 3);
}

TEST_F(FolderTreeScan, AnEmptyOrMissingFolderAddsNothing) {
  MakeFolder(root_ + "empty");
  scan(root_ + "empty", "*.eml");
  EXPECT_FALSE(colFiles().current());
  EXPECT_FALSE(colFolders().current());
  EXPECT_EQ(fileCounter_, 1);
  EXPECT_EQ(folderCounter_, 0);

  std::string noFolder;
  ScanFolderTree(noFolder, "*.eml", fileCounter_, folderCounter_, screen_);
  EXPECT_EQ(noFolder, "/");
  EXPECT_FALSE(colFiles().current());
  EXPECT_FALSE(colFolders().current());

  scan(root_ + "missing", "*.eml");
  EXPECT_FALSE(colFiles().current());
  EXPECT_FALSE(colFolders().current());
  EXPECT_EQ(fileCounter_, 1);
  EXPECT_EQ(LastFileError(), 3);
}

TEST_F(FolderTreeScan, TheMaskSelectsFilesAndOnlyTheFolderBitDecides) {
  MakeFolder(root_ + "old.eml");
  MakeFile(root_ + "old.eml/inner.eml");
  MakeFile(root_ + "LOUD.EML");
  MakeFile(root_ + ".hidden.eml");
  MakeFile(root_ + "locked.eml");
  ::chmod((root_ + "locked.eml").c_str(), 0444);
  MakeFile(root_ + "notes.txt");
  MakeFile(root_ + "README");

  scan(root_, "*.eml");
  EXPECT_EQ(ValuesOf(colFolders()), Strings{root_ + "old.eml"});
  EXPECT_EQ(ValuesOf(colFiles()),
            (Strings{root_ + ".hidden.eml", root_ + "LOUD.EML", root_ + "locked.eml", root_ + "old.eml/inner.eml"}));

  colFiles().discard();
  colFolders().discard();
  scan(root_, "*.*");
  const Strings all = ValuesOf(colFiles());
  EXPECT_EQ(all.size(), 6u);
  EXPECT_NE(std::find(all.begin(), all.end(), root_ + "README"), all.end());
  for (const std::string& path : all) EXPECT_NE(path.back(), '.') << path;  // never "." or ".."
}

TEST_F(FolderTreeScan, KeysFollowTheCountersAcrossScans) {
  MakeFolder(root_ + "one");
  MakeFolder(root_ + "one/sub");
  for (const char* name : {"a.eml", "b.eml", "c.eml"}) MakeFile(root_ + "one/" + name);
  MakeFolder(root_ + "two");
  MakeFolder(root_ + "two/sub");

  scan(root_ + "one", "*.eml");
  EXPECT_EQ(KeysOf(colFiles()), (Strings{"K1", "K2", "K3"}));
  EXPECT_EQ(fileCounter_, 4);

  // Folder keys keep rising, so colFolders may outlive a scan without a clash.
  colFiles().discard();
  scan(root_ + "two", "*.eml");
  EXPECT_EQ(KeysOf(colFolders()), (Strings{"Z0", "Z1"}));
  EXPECT_EQ(ValuesOf(colFolders()), (Strings{root_ + "one/sub", root_ + "two/sub"}));

  // colFiles kept while the file counter starts again: the repeated key is an error.
  scan(root_ + "one", "*.eml");
  EXPECT_THROW(scan(root_ + "one", "*.eml"), DuplicateKeyError);
}

TEST_F(FolderTreeScan, CountersRefuseToPassTheLargestValue) {
  MakeFile(root_ + "a.eml");
  std::string folder = root_;
  std::int32_t files = INT32_MAX;
  std::int32_t folders = 0;
  EXPECT_THROW(ScanFolderTree(folder, "*.eml", files, folders, screen_), std::overflow_error);
  EXPECT_EQ(KeysOf(colFiles()), Strings{"K2147483647"});

  MakeFolder(root_ + "sub");
  colFiles().discard();
  files = 1;
  folders = INT32_MAX;
  EXPECT_THROW(ScanFolderTree(folder, "*.eml", files, folders, screen_), std::overflow_error);
  EXPECT_EQ(KeysOf(colFolders()), Strings{"Z2147483647"});
}

TEST_F(FolderTreeScan, ShowsTheQueuedCountUnlessSourcesAreDeleted) {
  MakeFile(root_ + "a.eml");
  MakeFile(root_ + "b.eml");
  scan(root_, "*.eml");
  EXPECT_EQ(screen_.statuses,
            (Strings{"1 Messages Queued for Conversion.", "2 Messages Queued for Conversion."}));

  colFiles().discard();
  screen_.statuses.clear();
  screen_.deleteChecked = true;
  scan(root_, "*.eml");
  EXPECT_TRUE(screen_.statuses.empty());
  EXPECT_EQ(ValuesOf(colFiles()).size(), 2u);
}

TEST_F(FolderTreeScan, YieldsAtEachStepAndSurvivesADiscardInAYield) {
  MakeFile(root_ + "a.eml");
  scan(root_, "*.eml");
  // Start 1; folder pass over ".", "..", "a.eml" (one more before its attribute read) 4;
  // file pass: start 1, entry 1, queued 1.
  EXPECT_EQ(screen_.yields, 8);

  MakeFile(root_ + "b.eml");
  MakeFile(root_ + "c.eml");
  colFiles().discard();
  std::shared_ptr<const KeyedList> discarded;
  screen_.onYield = [&discarded] {
    // A handler that throws the list away mid-scan, as the conversion screen's load step does.
    if (auto list = colFiles().current(); !discarded && list && list->size() == 1) {
      discarded = list;
      colFiles().discard();
    }
  };
  scan(root_, "*.eml");
  ASSERT_TRUE(discarded);
  EXPECT_EQ(discarded->values(), Strings{root_ + "a.eml"});
  EXPECT_EQ(ValuesOf(colFiles()), (Strings{root_ + "b.eml", root_ + "c.eml"}));
  EXPECT_EQ(KeysOf(colFiles()), (Strings{"K2", "K3"}));
  EXPECT_EQ(fileCounter_, 4);
}

TEST_F(FolderTreeScan, EndsOnLinkLoopsAndStillFollowsOtherLinks) {
  MakeFolder(root_ + "A");
  MakeFile(root_ + "A/a.eml");
  MakeLink("..", root_ + "A/up");        // back to the scanned root
  MakeLink(".", root_ + "A/self");       // to itself
  MakeFolder(root_ + "B");
  MakeFile(root_ + "B/b.eml");
  MakeLink("../B", root_ + "A/toB");     // a second way into B, not a loop
  MakeFile(root_ + "r.eml");

  scan(root_, "*.eml");
  EXPECT_EQ(ValuesOf(colFolders()),
            (Strings{root_ + "A", root_ + "B", root_ + "A/self", root_ + "A/toB", root_ + "A/up"}));
  EXPECT_EQ(ValuesOf(colFiles()),
            (Strings{root_ + "r.eml", root_ + "A/a.eml", root_ + "A/toB/b.eml", root_ + "B/b.eml"}));
}

TEST_F(FolderTreeScan, ADanglingLinkIsQueuedAsAFileNotListedAsAFolder) {
  MakeLink(root_ + "gone", root_ + "lost.eml");
  scan(root_, "*.*");
  EXPECT_FALSE(colFolders().current());
  EXPECT_EQ(ValuesOf(colFiles()), Strings{root_ + "lost.eml"});
}

TEST_F(FolderTreeScan, NamesThatAreNotUtf8AreKeptByteForByte) {
  const std::string folderName = "\xff\xfe-box";
  const std::string fileName = "caf\xe9.eml";
  MakeFolder(root_ + folderName);
  MakeFile(root_ + folderName + "/" + fileName, "body");
  scan(root_, "*.eml");
  EXPECT_EQ(ValuesOf(colFolders()), Strings{root_ + folderName});
  const Strings files = ValuesOf(colFiles());
  ASSERT_EQ(files, Strings{root_ + folderName + "/" + fileName});
  const int fd = ::open(files[0].c_str(), O_RDONLY);
  EXPECT_GE(fd, 0) << "the queued path must open the file";
  if (fd >= 0) ::close(fd);
}

TEST_F(FolderTreeScan, AnUnreadableSubFolderDoesNotStopItsSiblings) {
  const auto report = RunUnprivileged([](const std::string& work) {
    colFiles().discard();
    colFolders().discard();
    MakeFolder(work + "/A");
    MakeFile(work + "/A/hidden-away.eml");
    MakeFolder(work + "/B");
    MakeFile(work + "/B/b.eml");
    MakeFile(work + "/r.eml");
    ::chmod((work + "/A").c_str(), 0);
    RecordingScreen screen;
    std::string folder = work;
    std::int32_t files = 1;
    std::int32_t folders = 0;
    ScanFolderTree(folder, "*.eml", files, folders, screen);
    std::ostringstream out;
    for (const std::string& path : ValuesOf(colFolders())) out << "folder " << path.substr(work.size()) << "\n";
    for (const std::string& path : ValuesOf(colFiles())) out << "file " << path.substr(work.size()) << "\n";
    return out.str();
  });
  ASSERT_TRUE(report.has_value());
  EXPECT_EQ(*report, "folder /A\nfolder /B\nfile /r.eml\nfile /B/b.eml\n");
}

// Removes a tree deeper than the longest path, working relative to open folders.
void RemoveDeepTree(int parentFd, const char* name) {
  const int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
  if (fd >= 0) {
    ::unlinkat(fd, "m.eml", 0);
    RemoveDeepTree(fd, "dd");
    ::close(fd);
  }
  ::unlinkat(parentFd, name, AT_REMOVEDIR);
}

TEST_F(FolderTreeScan, ATreeDeeperThanTheLongestPathEndsCleanly) {
  // Every level holds a folder "dd" and a file "m.eml"; past about 1350 levels the paths no
  // longer fit in 4096 bytes.
  constexpr int kDepth = 1500;
  int fd = ::open(dir_.str().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  for (int level = 0; level < kDepth; ++level) {
    ASSERT_EQ(::mkdirat(fd, "dd", 0755), 0);
    const int next = ::openat(fd, "dd", O_RDONLY | O_DIRECTORY);
    ::close(fd);
    ASSERT_GE(next, 0);
    fd = next;
    const int file = ::openat(fd, "m.eml", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(file, 0);
    ::close(file);
  }
  ::close(fd);

  scan(root_, "*.eml");
  const Strings folders = ValuesOf(colFolders());
  const Strings files = ValuesOf(colFiles());
  // A folder is listed when its parent can be listed ("*" appended); its file is queued when the
  // folder's own "*.eml" search fits.
  std::size_t expectedFolders = 0;
  std::size_t expectedFiles = 0;
  for (int level = 0; level <= kDepth; ++level) {
    const std::size_t folderLength = root_.size() + 3 * static_cast<std::size_t>(level);
    if (level < kDepth && folderLength + 1 < kMaxPathBytes) ++expectedFolders;
    if (level > 0 && folderLength + 5 < kMaxPathBytes) ++expectedFiles;
  }
  EXPECT_LT(expectedFiles, static_cast<std::size_t>(kDepth));
  EXPECT_EQ(folders.size(), expectedFolders);
  EXPECT_EQ(files.size(), expectedFiles);
  for (const std::string& path : files) EXPECT_EQ(::access(path.c_str(), F_OK), 0);

  const int top = ::open(dir_.str().c_str(), O_RDONLY | O_DIRECTORY);
  RemoveDeepTree(top, "dd");
  ::close(top);
}

TEST(KeyedLists, ComeIntoBeingOnFirstAdditionAndOutliveADiscardForTheirHolders) {
  ProcessList list;
  EXPECT_FALSE(list.current());
  list.add("K1", "first");
  const auto held = list.current();
  list.discard();
  EXPECT_FALSE(list.current());
  EXPECT_EQ(held->values(), Strings{"first"});
  list.add("K1", "again");  // a new list: the old key is free again
  EXPECT_EQ(list.current()->values(), Strings{"again"});
  EXPECT_THROW(list.add("K1", "clash"), DuplicateKeyError);
  EXPECT_EQ(list.current()->values(), Strings{"again"});
  EXPECT_TRUE(list.current()->containsKey("K1"));
}

}  // namespace
}  // namespace mailfold::files
