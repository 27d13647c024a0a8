#include "app/frm_multiple.h"

#include <algorithm>

#include <wx/panel.h>
#include <wx/statbmp.h>
#include <wx/statbox.h>

#include "app/help_links.h"
#include "app/image_list.h"
#include "app/wizard.h"
#include "app/wx_style.h"

namespace mailfold::app {

namespace {
constexpr int kWidth = Twips(10590);      // 706
constexpr int kHeight = Twips(7080);      // 472
constexpr int kListWidth = Twips(9615);   // 641
constexpr int kListHeight = Twips(3135);  // 209
constexpr int kUserColumn = Twips(3000);  // 200
constexpr int kPathColumn = Twips(6600);  // 440
constexpr int kFooterHeight = 56;
}  // namespace

FrmMultiple::FrmMultiple(Wizard& wizard, std::shared_ptr<MultipleModel> model)
    : wxFrame(nullptr, wxID_ANY, "Multiple Folder Conversion Mode", wxDefaultPosition, wxDefaultSize,
              wxDEFAULT_FRAME_STYLE & ~(wxRESIZE_BORDER | wxMAXIMIZE_BOX), "frmMultiple"),
      wizard_(wizard),
      model_(std::move(model)),
      imageList1_(MakeImageList1()) {
  SetClientSize(kWidth, kHeight);
  auto* body = new wxPanel(this, wxID_ANY, wxPoint(0, 0), wxSize(kWidth, kHeight));
  body->SetFont(Tahoma(8.25));

  wxPanel* header = Band(body, kWhite, 0, 0, kWidth, 56);
  Label(header, "lblTitle", "Multiple Folder Conversion", 15, 6, Tahoma(14.25, true), kTitleGrey);
  Label(header, "Label2", "Convert one by one all folders to respective Outlook .pst files", 17, 34, Tahoma(8.25));

  new wxStaticBitmap(body, wxID_ANY, DrawListImage(ListImage::Folder), wxPoint(15, 69), wxSize(16, 16));
  auto* label3 =
      Label(body, "Label3", "Select top folder having all sub-folders inside it containing .eml files", 38, 69, Tahoma(9));
  lblSelectRootFolder_ =
      HelpLink(body, "lblSelectRootFolder", label3->GetRect().GetRight() + 4, 70,
               [this] { wizard_.shell().OpenDocument(wizard_.HelpAddress(kSelectRootFolderFragment)); });
  cmdAddFolder_ = new wxButton(body, wxID_ANY, "Select...", wxPoint(kWidth - 125, 63), wxSize(110, 28), 0,
                               wxDefaultValidator, "CmdAddFolder");

  auto* frame1 = new wxStaticBox(body, wxID_ANY, " Select Folders", wxPoint(15, 96), wxSize(kWidth - 30, 260), 0,
                                 "Frame1");
  frame1->SetFont(Tahoma(9, true));
  chkSelectAll_ = new wxCheckBox(body, wxID_ANY, kCheckAllCaption, wxPoint(30, 118), wxSize(150, -1), 0,
                                 wxDefaultValidator, "chkSelectAll");
  lv_ = new wxListCtrl(body, wxID_ANY, wxPoint(30, 142), wxSize(kListWidth, kListHeight),
                       wxLC_REPORT | wxLC_SINGLE_SEL | wxBORDER_SUNKEN, wxDefaultValidator, "lv");
  lv_->SetFont(Tahoma(9));
  lv_->EnableCheckBoxes(true);
  lv_->SetImageList(imageList1_.get(), wxIMAGE_LIST_SMALL);
  lv_->InsertColumn(0, "User", wxLIST_FORMAT_LEFT, kUserColumn);
  lv_->InsertColumn(1, "Mailbox Folder", wxLIST_FORMAT_LEFT, kPathColumn);

  lblListStatus_ = Label(body, "lblListStatus", "", 17, 360, Tahoma(8.25), kDarkRed);
  lblListStatus_->Hide();

  Label(body, "Label1", "Output Folder:", 15, 384, Tahoma(8.25));
  txtOutputFolder_ = new wxTextCtrl(body, wxID_ANY, ToWx(model_->OutputFolderText()), wxPoint(105, 379),
                                    wxSize(kWidth - 240, 26), wxTE_READONLY, wxDefaultValidator, "txtOutputFolder");
  txtOutputFolder_->SetFont(Tahoma(9));
  cmdChange_ = new wxButton(body, wxID_ANY, "Change...", wxPoint(kWidth - 125, 378), wxSize(110, 28), 0,
                            wxDefaultValidator, "cmdChange");

  wxPanel* footer = Band(body, kWhite, 0, kHeight - kFooterHeight, kWidth, kFooterHeight);
  cmdBack_ = new wxButton(footer, wxID_ANY, "< Bac&k", wxPoint(15, 12), wxSize(110, 32), 0, wxDefaultValidator,
                          "cmdBack");
  cmdNext_ = new wxButton(footer, wxID_ANY, "&Next >", wxPoint(kWidth - 125, 12), wxSize(110, 32), 0,
                          wxDefaultValidator, "CmdNext");

  chkSelectAll_->SetValue(model_->SelectAllChecked());
  chkSelectAll_->Enable(model_->SelectAllEnabled());

  model_->SetObserver(this);

  cmdAddFolder_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { model_->PickRoot(); });
  chkSelectAll_->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent& event) { model_->SetSelectAll(event.IsChecked()); });
  auto onRowCheck = [this](wxListEvent& event) {
    if (!settingChecks_) model_->SetRowChecked(static_cast<int>(event.GetIndex()), lv_->IsItemChecked(event.GetIndex()));
  };
  lv_->Bind(wxEVT_LIST_ITEM_CHECKED, onRowCheck);
  lv_->Bind(wxEVT_LIST_ITEM_UNCHECKED, onRowCheck);
  // The generic list draws its rows on an inner window, which is the one that sees the mouse.
  lv_->Bind(wxEVT_MOTION, &FrmMultiple::OnListMotion, this);
  for (wxWindow* child : lv_->GetChildren()) child->Bind(wxEVT_MOTION, &FrmMultiple::OnListMotion, this);

  cmdChange_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { model_->ChangeOutputFolder(); });
  cmdBack_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { wizard_.ShowStartAgain(); });
  cmdNext_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
    if (model_->ConfirmNext()) wizard_.OpenConversion(this);
  });
  Bind(wxEVT_CLOSE_WINDOW, &FrmMultiple::OnClose, this);

  CentreOnScreen();
}

FrmMultiple::~FrmMultiple() {
  model_->SetObserver(nullptr);
  lv_->SetImageList(nullptr, wxIMAGE_LIST_SMALL);
}

void FrmMultiple::RowsCleared() {
  lv_->DeleteAllItems();
  lv_->Refresh();
  lv_->Update();
}

void FrmMultiple::RowAdded(int index) {
  const ListRow& row = model_->Rows()[index];
  const long item = lv_->InsertItem(index, ToWx(row.name), ImageIndex(ListImage::Person));
  lv_->SetItem(item, 1, ToWx(row.path), ImageIndex(ListImage::Folder));
  settingChecks_ = true;
  lv_->CheckItem(item, row.checked);
  settingChecks_ = false;
  StripeRow(index);
  // Drawn by the fill's next yield; forcing a paint here made every row cost a full redraw.
  lv_->Refresh();
}

void FrmMultiple::RowCheckChanged(int index) {
  if (index >= lv_->GetItemCount()) return;
  settingChecks_ = true;
  lv_->CheckItem(index, model_->Rows()[index].checked);
  settingChecks_ = false;
}

void FrmMultiple::StripeRow(int index) {
  // Rows 1, 3, 5, ... (index 0, 2, 4, ...) white, the others light yellow.
  lv_->SetItemBackgroundColour(index, index % 2 == 0 ? kWhite : kLightYellow);
}

void FrmMultiple::StripesDue() {
  for (int i = 0; i < lv_->GetItemCount(); ++i) StripeRow(i);
  lv_->Refresh();
}

void FrmMultiple::SelectAllChanged() {
  chkSelectAll_->SetValue(model_->SelectAllChecked());
  chkSelectAll_->SetLabel(ToWx(model_->SelectAllCaption()));
  chkSelectAll_->Enable(model_->SelectAllEnabled() && !model_->Busy());
}

void FrmMultiple::OutputFolderChanged() { txtOutputFolder_->ChangeValue(ToWx(model_->OutputFolderText())); }

void FrmMultiple::ListStatusChanged() {
  lblListStatus_->SetLabel(ToWx(model_->ListStatus()));
  lblListStatus_->SetSize(lblListStatus_->GetBestSize());
  lblListStatus_->Show(!model_->ListStatus().empty());
}

void FrmMultiple::BusyChanged() {
  // While the list fills or a walk runs, nothing may start a second one.
  const bool idle = !model_->Busy();
  cmdAddFolder_->Enable(idle);
  cmdNext_->Enable(idle);
  chkSelectAll_->Enable(idle && model_->SelectAllEnabled());
}

void FrmMultiple::MarkRowTakenUp(int index) {
  if (index < 0 || index >= lv_->GetItemCount()) return;
  lv_->SetItemTextColour(index, kTakenUpGreen);
  lv_->SetItemFont(index, Tahoma(9, true));
}

wxString FrmMultiple::ToolTipAt(const wxPoint& pointInList) const {
  // Only cell rectangles are used: hit tests count from the row area on some platforms and from
  // the whole list on others, cell rectangles from the whole list everywhere.
  const long count = lv_->GetItemCount();
  const long top = std::max(0L, lv_->GetTopItem());
  const long last = std::min(count, top + lv_->GetCountPerPage() + 2);
  for (long item = top; item < last && item < static_cast<long>(model_->Rows().size()); ++item) {
    wxRect pathCell;
    if (lv_->GetSubItemRect(item, 1, pathCell) && pathCell.Contains(pointInList))
      return ToWx(model_->Rows()[item].path);
  }
  return {};
}

void FrmMultiple::OnListMotion(wxMouseEvent& event) {
  event.Skip();
  auto* window = dynamic_cast<wxWindow*>(event.GetEventObject());
  if (!window) return;
  wxPoint inList = event.GetPosition();
  if (window != lv_) inList += window->GetPosition();  // the list's inner row or header window
  const wxString tip = ToolTipAt(inList);
  if (tip.empty()) {
    window->UnsetToolTip();
  } else if (window->GetToolTipText() != tip) {
    window->SetToolTip(tip);
  }
}

void FrmMultiple::OnClose(wxCloseEvent& event) {
  // The screen lives as long as the process: closing it by its close box goes back to the
  // start screen, like Back, instead of leaving the process without a window.
  if (wizard_.Exiting() || !event.CanVeto()) {
    event.Skip();
    return;
  }
  event.Veto();
  wizard_.ShowStartAgain();
}

}  // namespace mailfold::app
