#include "app/frm_single.h"

#include <wx/panel.h>
#include <wx/statbmp.h>

#include "app/help_links.h"
#include "app/image_list.h"
#include "app/wizard.h"
#include "app/wx_style.h"

namespace mailfold::app {

namespace {
constexpr int kWidth = Twips(8685);   // 579
constexpr int kHeight = Twips(3750);  // 250
constexpr int kFooterHeight = 56;
}  // namespace

FrmSingle::FrmSingle(Wizard& wizard, wxWindow* owner)
    : wxDialog(owner, wxID_ANY, "Single Folder Conversion Mode", wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxCLOSE_BOX | wxSYSTEM_MENU, "frmSingle"),
      wizard_(wizard) {
  SetClientSize(kWidth, kHeight);
  auto* body = new wxPanel(this, wxID_ANY, wxPoint(0, 0), wxSize(kWidth, kHeight));
  body->SetFont(Tahoma(8.25));

  wxPanel* header = Band(body, kWhite, 0, 0, kWidth, 56);
  Label(header, "lblTitle", "Single Folder Conversion", 15, 6, Tahoma(14.25, true), kTitleGrey);
  Label(header, "Label1", "Convert single folder of .eml messages to respective Outlook .pst file", 17, 34,
        Tahoma(8.25));

  wxPanel* note = Band(body, kLightYellow, 0, 62, kWidth, 26);
  new wxStaticBitmap(note, wxID_ANY, DrawNoteIcon(), wxPoint(15, 5), wxSize(16, 16));
  Label(note, "Label2", "Make sure, folder you are trying to select is not hidden", 38, 6, Tahoma(8.25));

  new wxStaticBitmap(body, wxID_ANY, DrawListImage(ListImage::Folder), wxPoint(15, 104), wxSize(16, 16));
  auto* label3 = Label(body, "Label3", "Select folder having all .eml message files", 38, 104, Tahoma(9));
  lblSingleMailbox_ = HelpLink(body, "lblSingleMailbox", label3->GetRect().GetRight() + 4, 105,
                               [this] { wizard_.shell().OpenDocument(wizard_.HelpAddress(kSelectFolderFragment)); });

  txtSourceMailbox_ = new wxTextCtrl(body, wxID_ANY, wxEmptyString, wxPoint(15, 128), wxSize(kWidth - 145, 26),
                                     wxTE_READONLY, wxDefaultValidator, "txtSourceMailbox");
  txtSourceMailbox_->SetFont(Tahoma(9));
  cmdAddFolder_ = new wxButton(body, wxID_ANY, "Select...", wxPoint(kWidth - 120, 127), wxSize(105, 28), 0,
                               wxDefaultValidator, "CmdAddFolder");

  wxPanel* footer = Band(body, kWhite, 0, kHeight - kFooterHeight, kWidth, kFooterHeight);
  cmdNext_ = new wxButton(footer, wxID_ANY, "&Next >", wxPoint(kWidth - 125, 12), wxSize(110, 32), 0,
                          wxDefaultValidator, "CmdNext");
  cmdNext_->Disable();

  cmdAddFolder_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
    if (!model_.PickSource(wizard_.shell())) return;
    cmdNext_->Enable(model_.NextEnabled());
    txtSourceMailbox_->ChangeValue(ToWx(model_.SourcePath()));
  });
  cmdNext_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
    if (model_.CanOpenConversion()) wizard_.OpenConversion(nullptr);
  });
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) {
    if (IsModal()) EndModal(wxID_CANCEL);
    else Hide();
  });

  CentreOnParent();
}

}  // namespace mailfold::app
