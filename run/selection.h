// What the run driver reads from the start and selection screens when Start is pressed: the
// conversion mode, the single source folder, the rows of the multiple-folder list and the
// output folder. The wx screens implement it; tests supply their own.
#pragma once

#include <string>
#include <vector>

#include "engine/folder_conversion.h"

namespace mailfold::run {

struct FolderRow {
  bool checked = false;
  std::string name;  // display name: names the store file in multiple-folder mode
  std::string path;  // full path of the folder
};

class Selection {
 public:
  virtual ~Selection() = default;
  virtual engine::ConversionMode Mode() const = 0;
  // The single-folder screen's source folder, as typed or picked.
  virtual std::string SourcePath() const = 0;
  // The multiple-folder list, rows 0 .. RowCount() - 1 in list order.
  virtual int RowCount() const = 0;
  virtual FolderRow Row(int index) const = 0;
  // Marks a row as taken up by the run: dark green text (red 0, green 128, blue 0), shown bold.
  // The mark stays after the run.
  virtual void MarkRowTakenUp(int index) = 0;
  virtual std::string OutputFolder() const = 0;
};

// What a run works on, read from the selection once when Start is pressed, on the window thread:
// the run itself may work on another thread and must not touch the screens.
struct RunPlan {
  engine::ConversionMode mode = engine::ConversionMode::SingleFolder;
  std::string sourcePath;       // single-folder mode
  std::vector<FolderRow> rows;  // multiple-folder mode, in list order
  std::string outputFolder;
  bool deleteSources = false;

  static RunPlan Of(const Selection& selection, bool deleteSources);
};

}  // namespace mailfold::run
