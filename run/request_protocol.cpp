#include "run/request_protocol.h"

namespace mailfold::run {

void RequestProtocol::SkipPressed() { requests_.RequestSkip(); }

void RequestProtocol::StopPressed() {
  if (requests_.SkipRequested()) CloseRequested();
  requests_.RequestStop();
}

void RequestProtocol::CloseRequested() {
  requests_.RequestClose();
  view_.Close();
}

}  // namespace mailfold::run
