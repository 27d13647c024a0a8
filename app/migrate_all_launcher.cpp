#include "app/migrate_all_launcher.h"

#include "run/frm_migrate_all.h"

namespace mailfold::app {

void MigrateAllLauncher::ShowConversionScreen(wxWindow* owner, run::Selection& selection) {
  // Created when opened and discarded when closed: every opening starts from the load step.
  run::FrmMigateAll screen(owner, selection, stores_, dialogs_);
  if (onOpen) onOpen(screen);
  screen.ShowModal();
}

}  // namespace mailfold::app
