#include "wx_environment.h"

#include <wx/app.h>
#include <wx/init.h>

namespace mailfold::test {
namespace {

bool started = false;

class WxEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    wxApp::SetInstance(new wxApp);
    int argc = 1;
    static char name[] = "test_run_gui";
    static char* argv[] = {name, nullptr};
    started = wxEntryStart(argc, argv) && wxTheApp && wxTheApp->CallOnInit();
  }
  void TearDown() override {
    if (started) {
      wxTheApp->OnExit();
      wxEntryCleanup();
    }
    started = false;
  }
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new WxEnvironment);

}  // namespace

bool WxStarted() { return started; }

}  // namespace mailfold::test
