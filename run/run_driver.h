// The run driver behind "Start Conversion": has each source folder of the plan scanned and
// converted into its store file, one after the other, and tells its listener how the run went.
// It runs on whatever thread calls Run: the wx screen gives it a worker thread, the headless
// converter its main thread.
#pragma once

#include "engine/file_services.h"
#include "engine/folder_conversion.h"
#include "engine/message_reader.h"
#include "engine/run_requests.h"
#include "engine/store_port.h"
#include "run/run_events.h"
#include "run/run_summary.h"
#include "run/selection.h"

namespace mailfold::run {

class RunDriver {
 public:
  explicit RunDriver(engine::StoreOpener& stores, engine::FileServices files = engine::FileServices::System(),
                     engine::FolderConversion::Clock clock = engine::FolderConversion::LocalTime,
                     engine::MessageReader reader = engine::ReadMessageFile)
      : stores_(stores), files_(std::move(files)), clock_(std::move(clock)), reader_(std::move(reader)) {}

  // Works through `plan`, telling and asking `listener`, and reading `requests` at its test
  // points; ends with listener.RunFinished. Throws only what a listener throws.
  RunSummary Run(const RunPlan& plan, RunListener& listener, engine::RunRequests& requests);

 private:
  engine::StoreOpener& stores_;
  engine::FileServices files_;
  engine::FolderConversion::Clock clock_;
  engine::MessageReader reader_;
};

}  // namespace mailfold::run
