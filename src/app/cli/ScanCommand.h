#pragma once

#include <iosfwd>

#include "app/cli/ScanOptions.h"

namespace vandrel::app {

// Exit codes of a scan.
inline constexpr int ScanFound = 0;
inline constexpr int ScanNoneFound = 1;
inline constexpr int ScanError = 2;

// Runs "vandrel --scan ..." (CommandLine.h reads the options) without a window or a display: binds
// the discovery endpoint on port 33300, sends the search on every interface, collects replies by
// the table's rules until the timeout and prints the table. What was searched, invalid replies and
// errors go to err. Returns ScanFound, ScanNoneFound or ScanError.
int RunScanCommand(const ScanOptions& options, std::ostream& out, std::ostream& err);

}  // namespace vandrel::app
