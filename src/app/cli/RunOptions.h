#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "app/cli/ScanOptions.h"

namespace vandrel::app {

// The options of a headless run (vandrel --run SCRIPT ..., CommandLine.h reads them).
struct RunOptions {
    std::string Script;
    // The devices: addresses from --host (in order), or the file of --hosts, or a scan.
    std::vector<std::string> Hosts;
    std::string HostsFile;
    bool Scan = false;
    std::string VariablesFile;
    int Parallel = 8;
    // Empty: no session logs.
    std::string LogDir;
    // Empty: no report file.
    std::string Report;
    // The limit of one device's whole session, from the connect to the script's end.
    std::chrono::milliseconds SessionTimeout{300000};
    // How long a scan collects replies: always --scan's default.
    std::chrono::milliseconds ScanWait = ScanOptions{}.Timeout;
};

inline constexpr int kMaxParallel = 256;

// N of --parallel: a whole number from 1 to 256. False (parallel unchanged) for anything else.
bool ParseParallel(const std::string& text, int& parallel);

}  // namespace vandrel::app
