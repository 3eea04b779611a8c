#pragma once

#include <chrono>
#include <iosfwd>

#include "app/cli/ScanOptions.h"
#include "app/model/StringGrid.h"

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

// The search of a scan: sends it on every interface, collects the replies by the table's rules
// for wait and puts them into grid (a device table). What was searched, invalid replies and
// errors go to err. Returns ScanFound, ScanNoneFound or ScanError (grid then unchanged).
int DiscoverDevices(std::chrono::milliseconds wait, StringGrid& grid, std::ostream& err);

}  // namespace vandrel::app
