#include <wx/log.h>
#include <wx/utils.h>

#include "app/shell.h"
#include "app/wx_style.h"

namespace mailfold::app {

void BrowserDocumentOpener::Open(const std::string& address) {
  if (address.empty()) return;
  wxLogNull quiet;  // a page that cannot be opened is not reported
  wxLaunchDefaultBrowser(ToWx(address), wxBROWSER_NOBUSYCURSOR);
}

}  // namespace mailfold::app
