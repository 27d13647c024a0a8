// Opens frmMigateAll, the conversion screen, for the selection screens: a new screen for each
// opening, modal, over the given store component and dialog service.
#pragma once

#include <functional>

#include "app/conversion_launcher.h"
#include "engine/store_port.h"
#include "run/dialog_service.h"

namespace mailfold::run {
class FrmMigateAll;
}

namespace mailfold::app {

class MigrateAllLauncher : public ConversionLauncher {
 public:
  MigrateAllLauncher(engine::StoreOpener& stores, run::DialogService& dialogs)
      : stores_(stores), dialogs_(dialogs) {}

  void ShowConversionScreen(wxWindow* owner, run::Selection& selection) override;

  // Runs with each screen just before it is shown modally (tests drive it from here).
  std::function<void(run::FrmMigateAll&)> onOpen;

 private:
  engine::StoreOpener& stores_;
  run::DialogService& dialogs_;
};

}  // namespace mailfold::app
