#pragma once

#include <chrono>
#include <string>

namespace vandrel::app {

// The options of a scan without the window (vandrel --scan, CommandLine.h reads them).
enum class ScanFormat { Table, Csv, Json };

struct ScanOptions {
    // How long replies are collected after the request went out.
    std::chrono::milliseconds Timeout{2000};
    ScanFormat Format = ScanFormat::Table;
};

// SECONDS of --timeout: a decimal number above 0 and at most 3600 with up to three digits
// after the point. False (timeout unchanged) for anything else.
bool ParseScanTimeout(const std::string& text, std::chrono::milliseconds& timeout);
// FORMAT of --format: table, csv or json. False (format unchanged) for anything else.
bool ParseScanFormat(const std::string& text, ScanFormat& format);

}  // namespace vandrel::app
