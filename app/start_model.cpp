#include "app/start_model.h"

namespace mailfold::app {

bool StartModel::ConfirmExit(Shell& shell) {
  return shell.ShowMessage(kExitQuestion, kApplicationTitle, engine::MessageIcon::Question,
                           engine::MessageButtons::YesNo) == engine::MessageAnswer::Yes;
}

}  // namespace mailfold::app
