// What the run driver reads as the user's selection, taken from the command line: the single
// source folder, or the immediate sub-folders of a root with the ones to convert checked.
#pragma once

#include <string>
#include <vector>

#include "run/selection.h"

namespace mailfold::convert {

class CommandLineSelection : public run::Selection {
 public:
  // Single-folder mode.
  static CommandLineSelection Single(std::string sourcePath);
  // Multiple-folder mode: every immediate sub-folder of `root`, sorted by name; with `names`
  // given, only those are checked. Throws std::runtime_error when `root` cannot be listed or a
  // name is not one of its sub-folders.
  static CommandLineSelection Multiple(const std::string& root, const std::vector<std::string>& names,
                                       std::string outputFolder);

  engine::ConversionMode Mode() const override { return mode_; }
  std::string SourcePath() const override { return source_; }
  int RowCount() const override { return static_cast<int>(rows_.size()); }
  run::FolderRow Row(int index) const override { return rows_.at(static_cast<std::size_t>(index)); }
  void MarkRowTakenUp(int) override {}
  std::string OutputFolder() const override { return outputFolder_; }

 private:
  engine::ConversionMode mode_ = engine::ConversionMode::SingleFolder;
  std::string source_;
  std::vector<run::FolderRow> rows_;
  std::string outputFolder_;
};

// An absolute form of a folder path typed by the user, without final "/" (except the root "/"),
// so that display names and the "BAD : " lines of the log name real, complete paths.
std::string NormalizeFolderPath(const std::string& path);

}  // namespace mailfold::convert
