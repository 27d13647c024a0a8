#include "run/request_protocol.h"

namespace mailfold::run {

void RequestProtocol::SkipPressed() { screen_.Requests().skipFolder = true; }

void RequestProtocol::StopPressed() {
  auto& requests = screen_.Requests();
  if (requests.skipFolder) CloseRequested();
  requests.stopConversion = true;
}

void RequestProtocol::CloseRequested() {
  screen_.Requests().closedByUser = true;
  screen_.Close();
}

}  // namespace mailfold::run
