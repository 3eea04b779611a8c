#pragma once

#include <string>
#include <vector>

#include "script/ScriptVariables.h"

namespace vandrel::app {

enum class DeviceOutcome { Passed, Failed, NotRun };

// What happened on one device of a headless run.
struct DeviceResult {
    script::DeviceIdentity Device;
    DeviceOutcome Outcome = DeviceOutcome::NotRun;
    int Line = 0;         // the failed command's line; 0 when none failed
    std::string Command;  // the failed command as written
    std::string Reason;   // why the device failed
    double Seconds = 0;   // from the connect to the session's end
    std::string Log;      // the session log file, empty without one
};

// "passed", "failed" or "not run".
const char* OutcomeText(DeviceOutcome outcome);

// The console line of a finished device: address, S/N, outcome and seconds, then for a
// failure the line, the command and the reason. Control bytes are shown as \xNN.
std::string DeviceResultLine(const DeviceResult& result);

// "20 devices: 19 passed, 1 failed, 12.3 s" (", 3 not run" before the time when any were not).
std::string RunSummaryLine(const std::vector<DeviceResult>& results, double seconds);

// {"devices": [{"Device", "S/N", "IP", "Mac", "outcome", "line", "command", "reason", "seconds",
// "log"}, ...], "passed", "failed", "not run", "seconds"} as UTF-8: the device's fields are
// 8-bit text as the table holds it, control characters are written as \u00NN.
std::string RunReportJson(const std::vector<DeviceResult>& results, double seconds);

// The same as a CSV table with a header row, one device a record, made safe to open in a
// spreadsheet as File > Export Table is.
std::string RunReportCsv(const std::vector<DeviceResult>& results);

// Writes the report, as CSV when path ends in .csv (any case), else as JSON, replacing an
// existing file only once the new one is complete. Returns 0 or the errno of the failure.
int WriteRunReport(const std::string& path, const std::vector<DeviceResult>& results,
                   double seconds);

}  // namespace vandrel::app
