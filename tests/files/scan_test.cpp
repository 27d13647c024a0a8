#include "files/scan.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <functional>
#include <optional>
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

class Recorder : public ScanObserver {
 public:
  void FileQueued(std::int32_t queued) override {
    counts.push_back(queued);
    if (stopAfter && queued >= *stopAfter) stop = true;
  }
  bool ShouldStop() override { return stop; }

  std::vector<std::int32_t> counts;
  std::optional<std::int32_t> stopAfter;
  bool stop = false;
};

class FolderTreeScan : public ::testing::Test {
 protected:
  void SetUp() override { root_ = dir_.str() + "/"; }
  ScanResult scan(const std::string& folder, const std::string& mask) { return ScanFolderTree(folder, mask, recorder_); }

  TempDir dir_;
  std::string root_;
  Recorder recorder_;
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

  const auto result = scan(dir_.str(), "*.*");  // without its trailing separator
  EXPECT_EQ(result.root, root_);
  EXPECT_EQ(result.folders, (Strings{root_ + "A", root_ + "B", root_ + "A/A1"}));
  EXPECT_EQ(result.files, (Strings{root_ + "r1", root_ + "r2", root_ + "A/a1", root_ + "A/A1/x", root_ + "B/b1"}));
  EXPECT_EQ(recorder_.counts, (std::vector<std::int32_t>{1, 2, 3, 4, 5}));
  EXPECT_TRUE(result.errors.empty());
  EXPECT_FALSE(result.stoppedEarly);
}

TEST_F(FolderTreeScan, AnEmptyOrMissingFolderAddsNothingAndAMissingOneIsAnError) {
  MakeFolder(root_ + "empty");
  auto result = scan(root_ + "empty", "*.eml");
  EXPECT_TRUE(result.files.empty());
  EXPECT_TRUE(result.folders.empty());
  EXPECT_TRUE(result.errors.empty());

  // An empty path is not the root "/".
  result = scan("", "*.eml");
  EXPECT_EQ(result.root, "/");
  EXPECT_TRUE(result.files.empty());
  ASSERT_EQ(result.errors.size(), 1u);
  EXPECT_EQ(result.errors[0].code, 3);

  result = scan(root_ + "missing", "*.eml");
  EXPECT_TRUE(result.files.empty());
  ASSERT_EQ(result.errors.size(), 1u);
  EXPECT_EQ(result.errors[0].folder, root_ + "missing/");
  EXPECT_EQ(result.errors[0].code, 3);
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

  auto result = scan(root_, "*.eml");
  EXPECT_EQ(result.folders, Strings{root_ + "old.eml"});
  EXPECT_EQ(result.files,
            (Strings{root_ + ".hidden.eml", root_ + "LOUD.EML", root_ + "locked.eml", root_ + "old.eml/inner.eml"}));

  result = scan(root_, "*.*");
  EXPECT_EQ(result.files.size(), 6u);
  EXPECT_NE(std::find(result.files.begin(), result.files.end(), root_ + "README"), result.files.end());
  for (const std::string& path : result.files) EXPECT_NE(path.back(), '.') << path;  // never "." or ".."
}

TEST_F(FolderTreeScan, StopsWhenItsObserverAsks) {
  for (const char* name : {"a.eml", "b.eml", "c.eml"}) MakeFile(root_ + name);
  MakeFolder(root_ + "sub");
  MakeFile(root_ + "sub/d.eml");
  recorder_.stopAfter = 2;
  const auto result = scan(root_, "*.eml");
  EXPECT_TRUE(result.stoppedEarly);
  EXPECT_EQ(result.files, (Strings{root_ + "a.eml", root_ + "b.eml"}));
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

  const auto result = scan(root_, "*.eml");
  EXPECT_EQ(result.folders, (Strings{root_ + "A", root_ + "B", root_ + "A/self", root_ + "A/toB", root_ + "A/up"}));
  EXPECT_EQ(result.files, (Strings{root_ + "r.eml", root_ + "A/a.eml", root_ + "A/toB/b.eml", root_ + "B/b.eml"}));
}

TEST_F(FolderTreeScan, ADanglingLinkIsQueuedAsAFileNotListedAsAFolder) {
  MakeLink(root_ + "gone", root_ + "lost.eml");
  const auto result = scan(root_, "*.*");
  EXPECT_TRUE(result.folders.empty());
  EXPECT_EQ(result.files, Strings{root_ + "lost.eml"});
}

TEST_F(FolderTreeScan, NamesThatAreNotUtf8AreKeptByteForByte) {
  const std::string folderName = "\xff\xfe-box";
  const std::string fileName = "caf\xe9.eml";
  MakeFolder(root_ + folderName);
  MakeFile(root_ + folderName + "/" + fileName, "body");
  const auto result = scan(root_, "*.eml");
  EXPECT_EQ(result.folders, Strings{root_ + folderName});
  ASSERT_EQ(result.files, Strings{root_ + folderName + "/" + fileName});
  const int fd = ::open(result.files[0].c_str(), O_RDONLY);
  EXPECT_GE(fd, 0) << "the queued path must open the file";
  if (fd >= 0) ::close(fd);
}

TEST_F(FolderTreeScan, AnUnreadableSubFolderIsAnErrorAndDoesNotStopItsSiblings) {
  const auto report = RunUnprivileged([](const std::string& work) {
    MakeFolder(work + "/A");
    MakeFile(work + "/A/hidden-away.eml");
    MakeFolder(work + "/B");
    MakeFile(work + "/B/b.eml");
    MakeFile(work + "/r.eml");
    ::chmod((work + "/A").c_str(), 0);
    Recorder recorder;
    const auto result = ScanFolderTree(work, "*.eml", recorder);
    std::ostringstream out;
    for (const std::string& path : result.folders) out << "folder " << path.substr(work.size()) << "\n";
    for (const std::string& path : result.files) out << "file " << path.substr(work.size()) << "\n";
    for (const auto& error : result.errors) out << "error " << error.folder.substr(work.size()) << " " << error.code << "\n";
    return out.str();
  });
  ASSERT_TRUE(report.has_value());
  EXPECT_EQ(*report, "folder /A\nfolder /B\nfile /r.eml\nfile /B/b.eml\nerror /A/ 5\n");
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

  const auto result = scan(root_, "*.eml");
  const Strings& folders = result.folders;
  const Strings& files = result.files;
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
  // The folders whose listing no longer fits are errors of the scan, not silent gaps.
  ASSERT_FALSE(result.errors.empty());
  EXPECT_EQ(result.errors.front().code, 206);

  const int top = ::open(dir_.str().c_str(), O_RDONLY | O_DIRECTORY);
  RemoveDeepTree(top, "dd");
  ::close(top);
}

}  // namespace
}  // namespace mailfold::files
