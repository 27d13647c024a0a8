// Ctrl-C (SIGINT) and SIGTERM as a stop request: the first one asks the run to stop after the
// current message (the store is committed and closed); the handler then reverts to the default,
// so a second one ends the process at once.
#pragma once

namespace mailfold::convert {

void InstallStopHandlers();
// The signal that asked for a stop, or 0.
int StopSignal();

}  // namespace mailfold::convert
