// The process start: a wx application whose only start-up work is showing the start screen.
#include <wx/app.h>
#include <wx/stdpaths.h>

#include <memory>

#include "app/desktop_folder.h"
#include "app/help_links.h"
#include "app/migrate_all_launcher.h"
#include "app/shell.h"
#include "app/wizard.h"
#include "app/wx_style.h"
#include "engine/pst_store_port.h"
#include "run/wx_dialog_service.h"

namespace {

class MailfoldApp : public wxApp {
 public:
  bool OnInit() override {
    SetAppName("mailfold");
    SetAppDisplayName(mailfold::app::kApplicationTitle);
    const std::string executable = mailfold::app::FromWx(wxStandardPaths::Get().GetExecutablePath());
    mailfold::app::Wizard::Options options;
    options.helpFolder = mailfold::app::FindHelpFolder(mailfold::app::HelpFolderCandidates(executable));
    wizard_ = std::make_unique<mailfold::app::Wizard>(shell_, launcher_, std::move(options));
    wizard_->Start();
    return true;
  }
  int OnExit() override {
    wizard_.reset();
    return wxApp::OnExit();
  }

 private:
  mailfold::run::WxDialogService dialogs_;
  mailfold::app::BrowserDocumentOpener documents_;
  mailfold::app::Shell shell_{dialogs_, documents_};
  mailfold::engine::PstStoreOpener stores_;
  mailfold::app::MigrateAllLauncher launcher_{stores_, dialogs_};
  std::unique_ptr<mailfold::app::Wizard> wizard_;
};

}  // namespace

wxIMPLEMENT_APP(MailfoldApp);
