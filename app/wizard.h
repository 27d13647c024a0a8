// The wizard: the start screen and the selection screens, how they lead into one another, the
// hand-over to the conversion screen, and the end of the process. It is also what the run
// driver reads the selection from when the user presses Start: the screens' controls as they
// are at that moment.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/conversion_launcher.h"
#include "app/shell.h"
#include "app/start_model.h"
#include "run/selection.h"

namespace mailfold::app {

class FrmStart;
class FrmSingle;
class FrmMultiple;
class MultipleModel;

class Wizard : private run::Selection {
 public:
  struct Options {
    std::string helpFolder;                                // empty: help links open nothing
    std::function<std::string()> desktopFolder;            // default: DesktopFolder()
    std::function<void()> endProcess;                      // default: leave the main loop
  };

  Wizard(Shell& shell, ConversionLauncher& launcher, Options options);
  ~Wizard() override;
  Wizard(const Wizard&) = delete;
  Wizard& operator=(const Wizard&) = delete;

  // Creates and shows the start screen.
  void Start();

  Shell& shell() { return shell_; }
  std::string HelpAddress(const std::string& fragment) const;
  std::string ProductAddress() const;

  // The start screen's Next: the single-folder screen modally over it (returns when that
  // screen has closed), or the multiple-folder screen instead of it.
  void StartNext();
  // The multiple-folder screen's Back (and its close box): the start screen comes back.
  void ShowStartAgain();
  // The selection screens' Next: the conversion screen, modal to `owner` (null: to the whole
  // application).
  void OpenConversion(wxWindow* owner);
  // The exit confirmation's Yes: every screen goes, whatever its state, and the process ends.
  void EndProcess();
  bool Exiting() const { return exiting_; }
  // One pass of the window system for the screens' long walks; false once the process ends.
  bool Yield();

  StartModel& StartState() { return startModel_; }
  FrmStart* StartScreen() const { return start_; }
  // The open single-folder screen, null when none is open.
  FrmSingle* SingleScreen() const { return single_; }
  // The multiple-folder screen once created, null before.
  FrmMultiple* MultipleScreen() const { return multiple_; }
  run::Selection& Selection() { return *this; }

 private:
  // run::Selection: read from the screens' controls when Start is pressed.
  engine::ConversionMode Mode() const override;
  std::string SourcePath() const override;
  int RowCount() const override;
  run::FolderRow Row(int index) const override;
  void MarkRowTakenUp(int index) override;
  std::string OutputFolder() const override;

  Shell& shell_;
  ConversionLauncher& launcher_;
  Options options_;
  StartModel startModel_;
  FrmStart* start_ = nullptr;
  FrmSingle* single_ = nullptr;
  FrmMultiple* multiple_ = nullptr;
  std::shared_ptr<MultipleModel> multipleModel_;
  bool exiting_ = false;
};

}  // namespace mailfold::app
