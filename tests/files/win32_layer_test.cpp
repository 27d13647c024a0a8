// The Win32 file layer: the system's own codes and attributes, UTF-8 names through the wide
// calls, paths beyond the classic length limit, roots. Windows only (the POSIX rules are tested
// by the other files here).
#ifdef _WIN32

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "files/directory_search.h"
#include "files/existence.h"
#include "files/platform.h"
#include "support/temp_dir.h"

namespace mailfold::files {
namespace {

void MakeFile(const std::string& utf8Path) {
  std::int32_t code = 0;
  const std::wstring wide = SystemPath(utf8Path, code);
  ASSERT_EQ(code, 0) << utf8Path;
  HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << utf8Path << " error " << ::GetLastError();
  ::CloseHandle(h);
}

std::vector<std::string> Listing(const std::string& spec) {
  std::vector<std::string> names;
  FindRecord record;
  if (FindFirstEntry(spec, record) != kNoSearch) {
    do names.push_back(record.name);
    while (FindNextEntry(record));
  }
  CloseSearch(record);
  return names;
}

TEST(Win32FileLayer, CodesAttributesAndUtf8NamesAreTheSystems) {
  test::TempDir dir;
  const std::string root = dir.str() + "\\";
  const std::string name = "Gr\xC3\xB6\xC3\x9F" "e \xE2\x82\xAC.eml";  // "Größe €.eml"
  MakeFile(root + name);

  EXPECT_EQ(Listing(root + "*.eml"), std::vector<std::string>{name});
  EXPECT_TRUE(FileExists(root + name));
  EXPECT_TRUE(FolderExists(dir.str()));
  EXPECT_TRUE(FolderExists(root));

  // Missing entry in an existing folder: 2; below a missing folder: 3; forbidden characters: 123.
  EXPECT_EQ(GetAttributes(root + "missing.eml"), kInvalidAttributes);
  EXPECT_EQ(LastFileError(), win_error::kFileNotFound);
  EXPECT_EQ(GetAttributes(root + "missing\\x.eml"), kInvalidAttributes);
  EXPECT_EQ(LastFileError(), win_error::kPathNotFound);
  EXPECT_EQ(GetAttributes(root + "a<b>.eml"), kInvalidAttributes);
  EXPECT_EQ(LastFileError(), win_error::kInvalidName);
  EXPECT_EQ(GetAttributes(root + "\xFF\xFE.eml"), kInvalidAttributes);  // not UTF-8
  EXPECT_EQ(LastFileError(), win_error::kInvalidName);

  // Read-only and hidden are the system's bits, seen by the listing too; a forced delete clears
  // read-only first.
  ASSERT_EQ(SetAttributes(root + name, kAttrReadOnly | kAttrHidden), 0);
  EXPECT_EQ(GetAttributes(root + name) & (kAttrReadOnly | kAttrHidden), kAttrReadOnly | kAttrHidden);
  FindRecord record;
  ASSERT_NE(FindFirstEntry(root + name, record), kNoSearch);
  EXPECT_EQ(record.attributes & kAttrReadOnly, kAttrReadOnly);
  EXPECT_TRUE(record.isFile);
  EXPECT_FALSE(record.lastWritten.error);
  CloseSearch(record);
  EXPECT_EQ(DeleteFileForced(root + name), 0);
  EXPECT_FALSE(FileExists(root + name));
  EXPECT_EQ(DeleteFileForced(root + name), win_error::kFileNotFound);
}

TEST(Win32FileLayer, PathsBeyondTheClassicLimitAndRoots) {
  test::TempDir dir;
  // Folders nested to about 400 characters, made with the layer's own path form.
  std::string folder = dir.str();
  for (int i = 0; folder.size() < 400; ++i) {
    folder += "\\folder-with-a-long-name-" + std::to_string(i);
    std::int32_t code = 0;
    const std::wstring wide = SystemPath(folder, code);
    ASSERT_EQ(code, 0);
    ASSERT_TRUE(::CreateDirectoryW(wide.c_str(), nullptr)) << ::GetLastError();
  }
  MakeFile(folder + "\\deep.eml");
  EXPECT_TRUE(FolderExists(folder));
  EXPECT_TRUE(FileExists(folder + "\\deep.eml"));
  EXPECT_EQ(Listing(folder + "\\*.eml"), std::vector<std::string>{"deep.eml"});
  std::uint64_t device = 0, number = 0;
  EXPECT_TRUE(FolderIdentityOf(folder, device, number));
  EXPECT_EQ(DeleteFileForced(folder + "\\deep.eml"), 0);

  // The "\\?\" forms: drive paths and UNC paths, "/" and ".." resolved first.
  std::int32_t code = 0;
  const std::string tail(300, 'x');
  EXPECT_EQ(SystemPath("C:/data/../mail/" + tail, code), L"\\\\?\\C:\\mail\\" + std::wstring(300, L'x'));
  EXPECT_EQ(SystemPath("\\\\server\\share\\" + tail, code), L"\\\\?\\UNC\\server\\share\\" + std::wstring(300, L'x'));
  EXPECT_EQ(SystemPath("C:\\short", code), L"C:\\short");
  EXPECT_TRUE(SystemPath(std::string(40000, 'a'), code).empty());
  EXPECT_EQ(code, win_error::kFilenameTooLong);

  // Roots: a drive root is a folder; its search kind and parent follow the Windows forms.
  EXPECT_TRUE(FolderExists("C:\\"));
  EXPECT_TRUE(IsRootPath("C:\\"));
  EXPECT_EQ(PathKindOf("\\\\server\\share\\*.eml"), kNetworkPath);
  EXPECT_EQ(ParentFolderOfSpec("\\\\server\\share\\*.eml", kNetworkPath), "\\\\server\\share\\");
  EXPECT_EQ(ParentFolderOfSpec("C:\\mail\\*.eml", kLocalPath), "C:\\mail\\");
  EXPECT_EQ(LastPathComponent("C:\\mail\\inbox\\"), "inbox");
  EXPECT_EQ(AddBackslash("C:\\mail\\"), "C:\\mail\\");
  EXPECT_EQ(AddBackslash("C:/mail"), "C:/mail/");
}

}  // namespace
}  // namespace mailfold::files

#endif  // _WIN32
