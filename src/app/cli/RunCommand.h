#pragma once

#include <iosfwd>

#include "app/cli/RunOptions.h"

namespace vandrel::app {

// Exit codes of a headless run.
inline constexpr int RunAllPassed = 0;
inline constexpr int RunAnyFailed = 1;
inline constexpr int RunError = 2;

// Runs "vandrel --run ..." (CommandLine.h reads the options) without a window or a display.
// Everything is checked before anything is sent: the script, the variables file, that every
// variable has a value, the log folder and the devices (an error goes to err, RunError). Then
// the script runs on the devices, options.Parallel at a time, in the Qt event loop of the
// application object that must exist; each finished device is a line on out, a summary ends
// the run, and the report is written. SIGINT and SIGTERM stop the run: the sessions that are
// going are closed, the devices not started are reported as not run.
// Returns RunAllPassed, RunAnyFailed or RunError.
int RunRunCommand(const RunOptions& options, std::ostream& out, std::ostream& err);

}  // namespace vandrel::app
