#include "app/start_model.h"

namespace mailfold::app {

bool StartModel::ConfirmExit(Shell& shell) {
  return shell.ShowMessage(kExitQuestion, kApplicationTitle, run::MessageIcon::Question,
                           run::MessageButtons::YesNo) == run::MessageAnswer::Yes;
}

}  // namespace mailfold::app
