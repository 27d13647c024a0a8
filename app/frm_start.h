// frmStart, the start screen: the conversion mode and the way into the selection screens. The
// rules live in StartModel; this is the window over it.
#pragma once

#include <wx/button.h>
#include <wx/frame.h>
#include <wx/stattext.h>
#include <wx/generic/stattextg.h>
#include <wx/radiobut.h>

#include "app/start_model.h"

namespace mailfold::app {

class Wizard;

class FrmStart : public wxFrame {
 public:
  FrmStart(Wizard& wizard, StartModel& model);

  wxRadioButton* OptSingle() const { return optSingle_; }
  wxRadioButton* OptMultiple() const { return optMultiple_; }
  wxButton* CmdNext() const { return cmdNext_; }
  wxButton* CmdHelp() const { return cmdHelp_; }
  wxGenericStaticText* LblSingleHelp() const { return lblSingleHelp_; }
  wxGenericStaticText* LblMultipleHelp() const { return lblMultipleHelp_; }

 private:
  void ShowModeFonts();
  void OnClose(wxCloseEvent& event);

  Wizard& wizard_;
  StartModel& model_;
  wxRadioButton* optSingle_ = nullptr;
  wxRadioButton* optMultiple_ = nullptr;
  wxButton* cmdNext_ = nullptr;
  wxButton* cmdHelp_ = nullptr;
  wxGenericStaticText* lblSingleHelp_ = nullptr;
  wxGenericStaticText* lblMultipleHelp_ = nullptr;
};

}  // namespace mailfold::app
