#pragma once

#include <QStringList>

#include <string>

#include "app/cli/RunOptions.h"
#include "app/cli/ScanOptions.h"

namespace vandrel::app {

// The program's command line:
//   vandrel                  the window
//   vandrel --help | -h      the options
//   vandrel --version | -v   the version, from the executable's version block
//   vandrel --scan [--timeout SECONDS] [--format table|csv|json]
//                            a search without the window, which needs no display
//   vandrel --run SCRIPT (--host ADDRESS... | --hosts FILE | --scan) [--vars FILE.csv]
//           [--parallel N] [--log-dir DIR] [--report FILE] [--timeout SECONDS]
//                            a session script on many devices, without the window
struct CommandLine {
    bool Help = false;
    bool Version = false;
    // Also set by --run --scan, where the scan only names the devices.
    bool Scan = false;
    ScanOptions Options;
    bool Run = false;
    RunOptions RunSettings;
    // Not empty: the command line is unusable, and this says why.
    std::string Error;
    // The error is about options Qt takes as its own (-platform, -style, ...), whose values
    // then follow as arguments; it stands only if they are still there once Qt has them.
    bool ToolkitOptions = false;
};

// Reads the whole command line, program name first. Help and version are answered even when
// the rest is unusable. It may run before Qt has taken its own options from the command
// line (see ToolkitOptions).
CommandLine ParseCommandLine(const QStringList& arguments);

// The text of --help: every option, the scan's formats and exit status.
std::string CommandLineHelp();

}  // namespace vandrel::app
