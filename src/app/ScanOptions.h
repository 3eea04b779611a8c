#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace vandrel::app {

// The command line of a scan without the window:
//   vandrel --scan [--timeout SECONDS] [--format table|csv|json]
enum class ScanFormat { Table, Csv, Json };

struct ScanOptions {
    // How long replies are collected after the request went out.
    std::chrono::milliseconds Timeout{2000};
    ScanFormat Format = ScanFormat::Table;
    bool Help = false;
    // Not empty: the command line is unusable, and this says why.
    std::string Error;
};

// Whether the arguments (after the program name) ask for a scan instead of the window.
bool IsScanCommand(const std::vector<std::string>& args);

// Reads the arguments after the program name. Values follow their option as the next word
// or after "="; SECONDS is a decimal number above 0 and at most 3600 with up to three
// digits after the point.
ScanOptions ParseScanOptions(const std::vector<std::string>& args);

std::string ScanUsage();

}  // namespace vandrel::app
