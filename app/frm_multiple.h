// frmMultiple, the multiple-folder screen: a root folder, its sub-folders as a striped check-box
// list, the output folder, and Next to the conversion screen. Created once, then shown and
// hidden; the rules live in MultipleModel, this is the window over it.
#pragma once

#include <memory>

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/frame.h>
#include <wx/stattext.h>
#include <wx/generic/stattextg.h>
#include <wx/listctrl.h>
#include <wx/textctrl.h>

#include "app/multiple_model.h"

namespace mailfold::app {

class Wizard;

class FrmMultiple : public wxFrame, private MultipleModelObserver {
 public:
  // The model is shared with the wizard, so that a walk in progress outlives the window if the
  // window is deleted during one of the walk's yields (the process ending).
  FrmMultiple(Wizard& wizard, std::shared_ptr<MultipleModel> model);

  const MultipleModel& Model() const { return *model_; }
  ~FrmMultiple() override;

  wxListCtrl* Lv() const { return lv_; }
  wxCheckBox* ChkSelectAll() const { return chkSelectAll_; }
  wxTextCtrl* TxtOutputFolder() const { return txtOutputFolder_; }
  wxButton* CmdAddFolder() const { return cmdAddFolder_; }
  wxButton* CmdChange() const { return cmdChange_; }
  wxButton* CmdBack() const { return cmdBack_; }
  wxButton* CmdNext() const { return cmdNext_; }
  wxGenericStaticText* LblSelectRootFolder() const { return lblSelectRootFolder_; }
  wxStaticText* LblListStatus() const { return lblListStatus_; }

  // The row the run has taken up: dark green, bold.
  void MarkRowTakenUp(int index);
  // The tool tip the list shows at a point of its client area: the full path over a row's
  // column 2, nothing elsewhere.
  wxString ToolTipAt(const wxPoint& pointInList) const;

 private:
  void RowsCleared() override;
  void RowAdded(int index) override;
  void RowCheckChanged(int index) override;
  void StripesDue() override;
  void SelectAllChanged() override;
  void OutputFolderChanged() override;
  void ListStatusChanged() override;
  void BusyChanged() override;

  void StripeRow(int index);
  void OnListMotion(wxMouseEvent& event);
  void OnClose(wxCloseEvent& event);

  Wizard& wizard_;
  std::shared_ptr<MultipleModel> model_;
  std::unique_ptr<wxImageList> imageList1_;
  wxListCtrl* lv_ = nullptr;
  wxCheckBox* chkSelectAll_ = nullptr;
  wxTextCtrl* txtOutputFolder_ = nullptr;
  wxButton* cmdAddFolder_ = nullptr;
  wxButton* cmdChange_ = nullptr;
  wxButton* cmdBack_ = nullptr;
  wxButton* cmdNext_ = nullptr;
  wxGenericStaticText* lblSelectRootFolder_ = nullptr;
  wxStaticText* lblListStatus_ = nullptr;
  // Set while the window itself changes check marks, so that the list's events are not taken
  // for the user's.
  bool settingChecks_ = false;
};

}  // namespace mailfold::app
