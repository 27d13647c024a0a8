#include "app/multiple_model.h"

#include <utility>

namespace mailfold::app {

class MultipleModel::BusyScope {
 public:
  explicit BusyScope(MultipleModel& model) : model_(model) {
    model_.busy_ = true;
    model_.observer_->BusyChanged();
  }
  ~BusyScope() {
    model_.busy_ = false;
    model_.observer_->BusyChanged();
  }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  MultipleModel& model_;
};

MultipleModel::MultipleModel(Shell& shell, std::string outputFolder, Yield yield, Lister lister)
    : shell_(shell),
      yield_(std::move(yield)),
      lister_(std::move(lister)),
      outputFolderText_(outputFolder),
      outputFolderForJoin_(std::move(outputFolder)) {}

bool MultipleModel::YieldOnce() { return !yield_ || yield_(); }

void MultipleModel::PickRoot() {
  if (busy_) return;
  const std::string picked = shell_.BrowseForFolder(kChooseSourcePrompt);
  if (picked.empty()) return;

  BusyScope busy(*this);
  root_ = RootOf(picked);
  RootListing listing = lister_(root_);

  rows_.clear();
  observer_->RowsCleared();
  listStatus_ = listing.error;
  observer_->ListStatusChanged();

  for (auto& folder : listing.folders) {
    if (!YieldOnce()) return;
    rows_.push_back({std::move(folder.name), std::move(folder.path), false});
    observer_->RowAdded(static_cast<int>(rows_.size()) - 1);
  }
  if (!rows_.empty()) observer_->StripesDue();

  if (!ApplySelectAll(false)) return;
  selectAllEnabled_ = true;
  observer_->SelectAllChanged();
}

void MultipleModel::SetSelectAll(bool checked) {
  if (busy_) {
    observer_->SelectAllChanged();  // the window shows the box as it really is
    return;
  }
  BusyScope busy(*this);
  ApplySelectAll(checked);
}

bool MultipleModel::ApplySelectAll(bool checked) {
  if (checked == selectAllChecked_) return true;
  selectAllChecked_ = checked;
  observer_->SelectAllChanged();
  // The caption changes inside the walk: an empty list keeps the caption it had.
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (!YieldOnce()) return false;
    if (i >= rows_.size()) break;  // rows cannot shrink during a walk, but never index past them
    rows_[i].checked = checked;
    observer_->RowCheckChanged(static_cast<int>(i));
    selectAllCaption_ = checked ? kUncheckAllCaption : kCheckAllCaption;
    observer_->SelectAllChanged();
  }
  return true;
}

void MultipleModel::SetRowChecked(int index, bool checked) {
  if (index < 0 || static_cast<std::size_t>(index) >= rows_.size()) return;
  rows_[index].checked = checked;
}

void MultipleModel::ChangeOutputFolder() {
  const std::string picked = shell_.BrowseForFolder(kChooseOutputPrompt);
  if (picked.empty()) return;
  outputFolderText_ = picked;
  outputFolderForJoin_ = picked.back() == '/' ? picked : picked + "/";
  observer_->OutputFolderChanged();
}

bool MultipleModel::ConfirmNext() {
  if (busy_) return false;
  bool anyChecked = false;
  {
    BusyScope busy(*this);
    for (std::size_t i = 0; i < rows_.size(); ++i) {
      if (!YieldOnce()) return false;
      if (i < rows_.size() && rows_[i].checked) {
        anyChecked = true;
        break;
      }
    }
  }
  if (!anyChecked) {
    shell_.ShowMessage(kNoFoldersText, kNoFoldersTitle, run::MessageIcon::Information,
                       run::MessageButtons::Ok);
  }
  return anyChecked;
}

}  // namespace mailfold::app
