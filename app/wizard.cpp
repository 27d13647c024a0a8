#include "app/wizard.h"

#include <wx/app.h>

#include "app/desktop_folder.h"
#include "app/frm_multiple.h"
#include "app/frm_single.h"
#include "app/frm_start.h"
#include "app/help_links.h"
#include "app/multiple_model.h"
#include "app/wx_style.h"

namespace mailfold::app {

Wizard::Wizard(Shell& shell, ConversionLauncher& launcher, Options options)
    : shell_(shell), launcher_(launcher), options_(std::move(options)) {
  if (!options_.desktopFolder) options_.desktopFolder = DesktopFolder;
  if (!options_.endProcess) options_.endProcess = [] {
    if (wxTheApp) wxTheApp->ExitMainLoop();
  };
}

Wizard::~Wizard() {
  // The screens call back into the wizard; none may outlive it.
  exiting_ = true;
  if (multiple_) multiple_->Destroy();
  if (start_) start_->Destroy();
}

void Wizard::Start() {
  if (!start_) start_ = new FrmStart(*this, startModel_);
  start_->Show();
}

std::string Wizard::HelpAddress(const std::string& fragment) const {
  return PageAddress(options_.helpFolder, kHelpPageName, fragment);
}

std::string Wizard::ProductAddress() const { return PageAddress(options_.helpFolder, kProductPageName); }

void Wizard::StartNext() {
  if (exiting_ || !start_) return;
  if (startModel_.Next() == NextScreen::SingleFolder) {
    if (single_) return;  // already open
    FrmSingle screen(*this, start_);
    single_ = &screen;
    screen.ShowModal();
    single_ = nullptr;
    return;
  }
  if (!multiple_) {
    multipleModel_ = std::make_shared<MultipleModel>(shell_, options_.desktopFolder(), [this] { return Yield(); });
    multiple_ = new FrmMultiple(*this, multipleModel_);
  }
  multiple_->Show();
  multiple_->Raise();
  start_->Hide();
}

void Wizard::ShowStartAgain() {
  if (exiting_) return;
  if (start_) start_->Show();
  if (multiple_) multiple_->Hide();
}

void Wizard::OpenConversion(wxWindow* owner) {
  if (exiting_) return;
  launcher_.ShowConversionScreen(owner, *this);
}

void Wizard::EndProcess() {
  if (exiting_) return;
  exiting_ = true;
  if (multiple_) {
    multiple_->Hide();
    multiple_->Destroy();
    multiple_ = nullptr;
  }
  if (start_) {
    start_->Hide();
    start_->Destroy();
    start_ = nullptr;
  }
  options_.endProcess();
}

bool Wizard::Yield() {
  if (exiting_) return false;
  if (wxTheApp) wxTheApp->Yield(true);
  return !exiting_;
}

engine::ConversionMode Wizard::Mode() const {
  return start_ && start_->OptSingle()->GetValue() ? engine::ConversionMode::SingleFolder
                                                   : engine::ConversionMode::MultipleFolders;
}

// The path box and the output box show exactly what their models hold; the models are read so
// that a path passes on byte for byte, whatever the toolkit makes of it for display.
std::string Wizard::SourcePath() const { return single_ ? single_->Model().SourcePath() : ""; }

int Wizard::RowCount() const { return multiple_ ? static_cast<int>(multiple_->Model().Rows().size()) : 0; }

run::FolderRow Wizard::Row(int index) const {
  if (!multiple_ || index < 0 || index >= RowCount()) return {};
  const ListRow& row = multiple_->Model().Rows()[index];
  return {row.checked, row.name, row.path};
}

void Wizard::MarkRowTakenUp(int index) {
  if (multiple_) multiple_->MarkRowTakenUp(index);
}

std::string Wizard::OutputFolder() const {
  return multiple_ ? multiple_->Model().OutputFolderText() : "";
}

}  // namespace mailfold::app
