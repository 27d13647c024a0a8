#include "app/frm_start.h"

#include <algorithm>

#include <wx/panel.h>
#include <wx/statbox.h>

#include "app/help_links.h"
#include "app/image_list.h"
#include "app/wizard.h"
#include "app/wx_style.h"

namespace mailfold::app {

namespace {
constexpr int kWidth = Twips(9270);   // 618
constexpr int kHeight = Twips(7080);  // 472
constexpr int kBandHeight = 60;
}  // namespace

FrmStart::FrmStart(Wizard& wizard, StartModel& model)
    : wxFrame(nullptr, wxID_ANY, "QUORVA Mailfold v6.3", wxDefaultPosition, wxDefaultSize,
              wxDEFAULT_FRAME_STYLE & ~(wxRESIZE_BORDER | wxMAXIMIZE_BOX), "frmStart"),
      wizard_(wizard),
      model_(model) {
  SetIcon(wxIcon([] {
    wxIcon icon;
    icon.CopyFromBitmap(DrawProgramIcon());
    return icon;
  }()));
  SetClientSize(kWidth, kHeight);
  auto* body = new wxPanel(this, wxID_ANY, wxPoint(0, 0), wxSize(kWidth, kHeight));
  body->SetFont(Tahoma(8.25));

  wxPanel* header = Band(body, kWhite, 0, 0, kWidth, kBandHeight);
  Label(header, "lblTitle", "QUORVA Mailfold", 20, 18, Tahoma(14.25, true), kDarkRed);

  Label(body, "Label3",
        "Mailfold supports conversion of .eml email messages to Outlook supported .pst files. Supports Outlook "
        "Version 2016 (32 Bit), 2013 (32 Bit), 2010 (32 Bit), 2007, 2003 for conversion.",
        20, 72, Verdana(8.25), wxNullColour, kWidth - 40);

  auto* frame1 = new wxStaticBox(body, wxID_ANY, " I want to convert ", wxPoint(20, 118), wxSize(kWidth - 40, 270),
                                 0, "Frame1");
  frame1->SetFont(Tahoma(9, true));

  optSingle_ = new wxRadioButton(body, wxID_ANY, "Single EML Folder", wxPoint(40, 148), wxDefaultSize, wxRB_GROUP,
                                 wxDefaultValidator, "OptSingle");
  lblSingleHelp_ = HelpLink(body, "lblSingleHelp", 0, 0,
                            [this] { wizard_.shell().OpenDocument(wizard_.HelpAddress(kSingleFolderFragment)); });
  Label(body, "Label2",
        "This option allows you to select a single folder having .eml messages and convert it to respective .pst "
        "file. To convert multiple folders, you need to select individual folders one after another.",
        60, 176, Tahoma(8.25), wxNullColour, kWidth - 110);

  optMultiple_ = new wxRadioButton(body, wxID_ANY, "Multiple Folders", wxPoint(40, 250), wxDefaultSize, 0,
                                   wxDefaultValidator, "OptMultiple");
  lblMultipleHelp_ = HelpLink(body, "lblMultipleHelp", 0, 0,
                              [this] { wizard_.shell().OpenDocument(wizard_.HelpAddress(kMultipleFoldersFragment)); });
  Label(body, "Label4",
        "This option allows you to select multiple folders and then convert them to respective Outlook .pst files. "
        "To convert multiple mailbox folders, you just need to to select top folder having all mailbox folders "
        "inside it.",
        60, 278, Tahoma(8.25), wxNullColour, kWidth - 110);

  wxPanel* footer = Band(body, kWhite, 0, kHeight - kBandHeight, kWidth, kBandHeight);
  cmdHelp_ = new wxButton(footer, wxID_ANY, "&Help Manual", wxPoint(20, 14), wxSize(110, 32), 0, wxDefaultValidator,
                          "CmdHelp");
  cmdNext_ = new wxButton(footer, wxID_ANY, "&Next >", wxPoint(kWidth - 130, 14), wxSize(110, 32), 0,
                          wxDefaultValidator, "CmdNext");

  optSingle_->SetValue(true);
  ShowModeFonts();

  optSingle_->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) {
    model_.SelectSingle();
    ShowModeFonts();
  });
  optMultiple_->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) {
    model_.SelectMultiple();
    ShowModeFonts();
  });
  cmdNext_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { wizard_.StartNext(); });
  cmdHelp_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { wizard_.shell().OpenDocument(wizard_.ProductAddress()); });
  Bind(wxEVT_CLOSE_WINDOW, &FrmStart::OnClose, this);

  CentreOnScreen();
}

void FrmStart::ShowModeFonts() {
  optSingle_->SetValue(model_.SingleBold());
  optMultiple_->SetValue(model_.MultipleBold());
  optSingle_->SetFont(Tahoma(8.25, model_.SingleBold()));
  optMultiple_->SetFont(Tahoma(8.25, model_.MultipleBold()));
  // The captions change width with their weight; the help links stay just right of them.
  for (auto [option, link] : {std::pair{optSingle_, lblSingleHelp_}, std::pair{optMultiple_, lblMultipleHelp_}}) {
    // Box and spacing beside the caption, then the caption in its present weight.
    const wxSize caption = TextSize(option->GetLabel(), option->GetFont());
    option->SetSize(caption.x + 28, std::max(caption.y, option->GetSize().y));
    const wxRect box = option->GetRect();
    link->Move(box.GetRight() + 4, box.y + (box.height - link->GetSize().y) / 2);
  }
}

void FrmStart::OnClose(wxCloseEvent& event) {
  if (wizard_.Exiting()) {
    event.Skip();  // the process is ending: let the window go
    return;
  }
  if (!event.CanVeto()) {  // the session is ending: there is nothing left to ask
    wizard_.EndProcess();
    return;
  }
  event.Veto();
  if (StartModel::ConfirmExit(wizard_.shell())) wizard_.EndProcess();
}

}  // namespace mailfold::app
