// Opens frmMigateAll, the conversion screen, for the selection screens: a new screen for each
// opening, modal, over the given store component and dialog service.
#pragma once

#include <functional>

#include "app/conversion_launcher.h"
#include "engine/folder_outcome.h"
#include "engine/store_component.h"
#include "run/dialog_service.h"

namespace mailfold::run {
class FrmMigateAll;
}

namespace mailfold::app {

class MigrateAllLauncher : public ConversionLauncher {
 public:
  MigrateAllLauncher(engine::StoreSessionFactory& stores, run::DialogService& dialogs)
      : stores_(stores), dialogs_(dialogs) {}

  void ShowConversionScreen(wxWindow* owner, run::Selection& selection) override;

  // Sees each folder's outcome before the closing message is built from it: the store component
  // corrects the counts there for messages whose commit failed.
  std::function<void(engine::FolderOutcome&)> afterFolder;
  // Runs with each screen just before it is shown modally (tests drive it from here).
  std::function<void(run::FrmMigateAll&)> onOpen;

 private:
  engine::StoreSessionFactory& stores_;
  run::DialogService& dialogs_;
};

}  // namespace mailfold::app
