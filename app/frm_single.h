// frmSingle, the single-folder screen: one source folder, then Next to the conversion screen.
// Shown modally over the start screen; created for each opening, its state goes when it closes.
#pragma once

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/stattext.h>
#include <wx/generic/stattextg.h>
#include <wx/textctrl.h>

#include "app/single_model.h"

namespace mailfold::app {

class Wizard;

class FrmSingle : public wxDialog {
 public:
  FrmSingle(Wizard& wizard, wxWindow* owner);

  const SingleModel& Model() const { return model_; }
  wxTextCtrl* TxtSourceMailbox() const { return txtSourceMailbox_; }
  wxButton* CmdAddFolder() const { return cmdAddFolder_; }
  wxButton* CmdNext() const { return cmdNext_; }
  wxGenericStaticText* LblSingleMailbox() const { return lblSingleMailbox_; }

 private:
  Wizard& wizard_;
  SingleModel model_;
  wxTextCtrl* txtSourceMailbox_ = nullptr;
  wxButton* cmdAddFolder_ = nullptr;
  wxButton* cmdNext_ = nullptr;
  wxGenericStaticText* lblSingleMailbox_ = nullptr;
};

}  // namespace mailfold::app
