// A temporary source tree, the real folder-tree scan, the fake store and the recording screen:
// what a test needs to run a folder's conversion end to end.
#pragma once

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "engine/folder_conversion.h"
#include "fake_store_component.h"
#include "files/scan.h"
#include "files/utf8_path.h"
#include "recording_screen.h"
#include "support/temp_dir.h"

namespace mailfold::test {

inline std::tm FixedTime() {  // 6 December 2026, 04:07:05
  std::tm when{};
  when.tm_mday = 6;
  when.tm_mon = 11;
  when.tm_year = 126;
  when.tm_hour = 4;
  when.tm_min = 7;
  when.tm_sec = 5;
  return when;
}
inline constexpr const char* kStamp = "6.12.26 4.7.05";

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class ConversionTest : public ::testing::Test {
 protected:
  TempDir temp;
  FakeStoreComponent stores;
  RecordingScreen screen;
  unsigned parseWorkers = engine::ParseAhead::WorkersForThisMachine();

  void SetUp() override {
    std::filesystem::create_directories(temp.path() / "out");
    screen.saveAsAnswer = files::Utf8FromPath(temp.path() / "out" / "store.pst");
  }

  // The source folder (without a final "/"), or a path below it; paths in the engine's form
  // (on Windows with "/").
  std::string Src(const std::string& relative = "") const {
    return files::Utf8FromPath(relative.empty() ? temp.path() / "src" : temp.path() / "src" / relative);
  }
  std::string Out(const std::string& relative) const { return files::Utf8FromPath(temp.path() / "out" / relative); }

  // Writes a small message (or any file) below the source folder, making its folders.
  std::string Write(const std::string& relative, const std::string& content = "Subject: test\r\n\r\nbody\r\n") {
    const auto path = temp.path() / "src" / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
    return files::Utf8FromPath(path);
  }
  void MakeFolder(const std::string& relative) { std::filesystem::create_directories(temp.path() / "src" / relative); }

  // Scans `sourcePath` as the run driver does, then converts it.
  engine::FolderOutcome Convert(const std::string& sourcePath, const std::string& folderName,
                                engine::StoreTarget target = {}) {
    struct Quiet : files::ScanObserver {
      void FileQueued(std::int32_t) override {}
      bool ShouldStop() override { return false; }
    } quiet;
    const files::ScanResult scan = files::ScanFolderTree(
        sourcePath, target.mode == engine::ConversionMode::SingleFolder ? "*.eml" : "*.*", quiet);
    engine::FolderConversion conversion(screen, screen.requests, stores, engine::FileServices::System(), FixedTime,
                                        stores.Reader());
    conversion.SetParseWorkers(parseWorkers);
    return conversion.StartMigration(
        {folderName, sourcePath, scan.files, scan.folders, {}, target, screen.DeleteSourceChecked()});
  }
  engine::FolderOutcome ConvertSource() { return Convert(Src(), "src"); }

  FakeFolder& StoreRoot(const std::string& storePath) { return *stores.Store(storePath).root; }
  FakeFolder& Folder(const std::string& storePath, const std::string& relative) {
    auto folder = StoreRoot(storePath).Find(relative);
    if (!folder) throw std::runtime_error("no store folder " + relative);
    return *folder;
  }
  std::vector<std::string> StoreFolders(const std::string& storePath) {
    std::vector<std::string> paths;
    StoreRoot(storePath).CollectPaths("", paths);
    std::sort(paths.begin(), paths.end());
    return paths;
  }
};

// Every queued message file ended in the store or as a BAD line, and the numbers agree.
inline void ExpectReconciled(const engine::FolderOutcome& outcome, std::size_t itemsInStore, const std::string& log) {
  EXPECT_TRUE(outcome.Reconciles()) << outcome.queued << " queued, " << outcome.imported << " imported, "
                                    << outcome.failed << " failed, " << outcome.skipped << " skipped, "
                                    << outcome.stopped << " stopped";
  EXPECT_EQ(static_cast<std::size_t>(outcome.imported), itemsInStore);
  std::size_t badLines = 0;
  for (std::size_t pos = 0; (pos = log.find("BAD : ", pos)) != std::string::npos; ++pos) ++badLines;
  EXPECT_EQ(static_cast<std::size_t>(outcome.failed), badLines);
  for (const auto& failed : outcome.failures)
    EXPECT_NE(log.find("BAD : " + failed.file + "\r\n    " + failed.failure.cause + "\r\n"), std::string::npos);
}

}  // namespace mailfold::test
