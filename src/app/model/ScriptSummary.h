#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "script/ScriptRun.h"

namespace vandrel::app {

// How one device came out of a script run in the window.
struct ScriptDeviceResult {
    std::string Device;  // the Device cell of its row; empty for a session without a row
    std::string Ip;
    script::RunOutcome Outcome;
    std::vector<std::string> LastLines;  // the last lines the device sent, oldest first
};

// The last count lines of text in what a device sent: CR, LF and CR LF end lines, other
// control bytes are dropped, blanks at line ends cut and empty lines skipped.
std::vector<std::string> LastLines(std::string_view received, std::size_t count);

// The summary of a run: "3 devices: 2 passed, 1 failed", then a line per device in the given
// order ("VD-100 198.18.0.11: passed", "...: failed at line 4 (expect "x"): reason"), a failed
// one followed by its last lines, each indented with "    | ".
std::string ScriptSummaryText(const std::vector<ScriptDeviceResult>& results);

}  // namespace vandrel::app
