// The multiple-folder screen's state and rules, free of any window: the root, the folder list
// with its check marks, the select-all box, the output folder, and the walks over the list that
// yield to the window system once per row.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/root_listing.h"
#include "app/shell.h"

namespace mailfold::app {

inline constexpr const char* kCheckAllCaption = "Check All";
inline constexpr const char* kUncheckAllCaption = "Uncheck All";
inline constexpr const char* kNoFoldersText = "No Folders Selected !\r\nPlease Select alteast one folder to convert.";
inline constexpr const char* kNoFoldersTitle = "Select Folder(s) to Convert";

struct ListRow {
  std::string name;  // row text: the display name the conversion uses
  std::string path;  // column 2: the full path
  bool checked = false;
};

// What the screen's window hears about changes it did not ask for itself.
class MultipleModelObserver {
 public:
  virtual ~MultipleModelObserver() = default;
  virtual void RowsCleared() {}
  virtual void RowAdded(int /*index*/) {}
  virtual void RowCheckChanged(int /*index*/) {}
  virtual void StripesDue() {}
  virtual void SelectAllChanged() {}
  virtual void OutputFolderChanged() {}
  virtual void ListStatusChanged() {}
  virtual void BusyChanged() {}
};

class MultipleModel {
 public:
  // Lets the window system run pending events; false when the screen is going away and the walk
  // must end now.
  using Yield = std::function<bool()>;
  using Lister = std::function<RootListing(const std::string& root)>;

  // `outputFolder` is the default output folder (the desktop).
  MultipleModel(Shell& shell, std::string outputFolder, Yield yield = [] { return true; },
                Lister lister = ListSubFolders);

  void SetObserver(MultipleModelObserver* observer) { observer_ = observer ? observer : &fallbackObserver_; }

  // "Select...": picks the root and fills the list with its sub-folders. Ignored while a walk
  // runs. A cancelled browser changes nothing.
  void PickRoot();
  // The select-all box set to `checked` by the user. Acts only when the state changes; ignored
  // while a walk runs.
  void SetSelectAll(bool checked);
  // A row checked or unchecked by hand; the select-all box does not follow.
  void SetRowChecked(int index, bool checked);
  // "Change...": a non-empty pick becomes the output folder; a cancelled browser changes nothing.
  void ChangeOutputFolder();
  // Next: true when a checked row exists and the conversion screen should open; otherwise the
  // "No Folders Selected !" message has been shown. False as well while a walk runs.
  bool ConfirmNext();

  const std::vector<ListRow>& Rows() const { return rows_; }
  const std::string& Root() const { return root_; }
  const std::string& OutputFolderText() const { return outputFolderText_; }
  // The output folder as the conversion joins names to it: with a trailing separator once the
  // user changed it, as picked at creation.
  const std::string& OutputFolderForJoin() const { return outputFolderForJoin_; }
  bool SelectAllChecked() const { return selectAllChecked_; }
  bool SelectAllEnabled() const { return selectAllEnabled_; }
  const std::string& SelectAllCaption() const { return selectAllCaption_; }
  // Why the last root could not be listed in full; empty when it could.
  const std::string& ListStatus() const { return listStatus_; }
  bool Busy() const { return busy_; }

 private:
  class BusyScope;
  // The select-all action itself; false when a yield asked to stop.
  bool ApplySelectAll(bool checked);
  bool YieldOnce();

  Shell& shell_;
  Yield yield_;
  Lister lister_;
  MultipleModelObserver fallbackObserver_;
  MultipleModelObserver* observer_ = &fallbackObserver_;

  std::string root_;
  std::vector<ListRow> rows_;
  std::string outputFolderText_;
  std::string outputFolderForJoin_;
  bool selectAllChecked_ = false;
  bool selectAllEnabled_ = false;
  std::string selectAllCaption_ = kCheckAllCaption;
  std::string listStatus_;
  bool busy_ = false;
};

}  // namespace mailfold::app
