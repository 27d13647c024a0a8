// The store file on Windows: the writer lock, a file another program holds without sharing it,
// offsets beyond 4 GiB. Windows only (flock and pread are tested by the other files here).
#ifdef _WIN32

#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include "files/platform.h"
#include "pst/ndb/file.h"
#include "support/error_kind.h"
#include "support/temp_dir.h"

namespace mailfold::pst::ndb {
namespace {

using test::thrownKind;

TEST(Win32StoreFile, OneWriterReadersAlongsideAndAFileHeldByAnotherProgramIsInUse) {
  test::TempDir dir;
  const std::string path = dir.str() + "\\store.pst";
  auto writer = File::open(path, File::Mode::kCreate);
  const Bytes data{1, 2, 3, 4};
  writer->write(0, data);
  writer->flush();

  EXPECT_EQ(thrownKind([&] { File::open(path, File::Mode::kReadWrite); }), ErrorKind::kRefused);
  // Readers are not blocked by the writer's lock, but the checker's shared lock is refused.
  auto reader = File::open(path, File::Mode::kRead);
  EXPECT_EQ(reader->read(0, 4, "header"), data);
  EXPECT_FALSE(reader->lockShared());
  writer->close();
  EXPECT_TRUE(reader->lockShared());
  EXPECT_EQ(thrownKind([&] { File::open(path, File::Mode::kReadWrite); }), ErrorKind::kRefused);
  reader.reset();

  // Outlook opens its stores without sharing them.
  std::int32_t code = 0;
  HANDLE held = ::CreateFileW(files::SystemPath(path, code).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  try {
    File::open(path, File::Mode::kReadWrite);
    ADD_FAILURE() << "opened a file another program holds";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::kRefused);
    EXPECT_NE(std::string(e.what()).find("in use"), std::string::npos) << e.what();
  }
  ::CloseHandle(held);
  EXPECT_NE(File::open(path, File::Mode::kReadWrite), nullptr);

  EXPECT_EQ(thrownKind([&] { File::open(dir.str() + "\\missing.pst", File::Mode::kRead); }), ErrorKind::kNotFound);
  EXPECT_EQ(thrownKind([&] { File::open(dir.str(), File::Mode::kRead); }), ErrorKind::kBadInput);
}

TEST(Win32StoreFile, OffsetsBeyondFourGiB) {
  test::TempDir dir;
  const std::string path = dir.str() + "\\large.pst";
  auto file = File::open(path, File::Mode::kCreate);
  {
    // Sparse, so that the test does not write gigabytes of zeros.
    std::int32_t code = 0;
    HANDLE h = ::CreateFileW(files::SystemPath(path, code).c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD returned = 0;
    const bool sparse = ::DeviceIoControl(h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
    ::CloseHandle(h);
    if (!sparse) GTEST_SKIP() << "the file system has no sparse files";
  }
  const std::uint64_t offset = (5ull << 30) + 7;
  const Bytes data{0xAB, 0xCD};
  file->write(offset, data);
  file->flush();
  EXPECT_EQ(file->size(), offset + 2);
  EXPECT_EQ(file->read(offset, 2, "tail"), data);
  EXPECT_EQ(thrownKind([&] { file->read(offset + 1, 2, "past the end"); }), ErrorKind::kCorrupt);
  file->truncate(16);
  EXPECT_EQ(file->size(), 16u);
}

}  // namespace
}  // namespace mailfold::pst::ndb

#endif  // _WIN32
