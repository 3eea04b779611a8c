#include "app/model/ScriptSummary.h"

#include <algorithm>

namespace vandrel::app {

namespace {

void CutTrailingBlanks(std::string& line) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) {
        line.pop_back();
    }
}

}  // namespace

std::vector<std::string> LastLines(std::string_view received, std::size_t count) {
    std::vector<std::string> lines;
    std::string line;
    const auto endLine = [&] {
        CutTrailingBlanks(line);
        if (!line.empty()) {
            lines.push_back(std::move(line));
        }
        line.clear();
    };
    for (const char c : received) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r' || c == '\n') {
            endLine();
        } else if (byte >= 0x20 && byte != 0x7F) {
            line += c;
        } else if (c == '\t') {
            line += ' ';
        }
    }
    endLine();
    if (lines.size() > count) {
        lines.erase(lines.begin(), lines.end() - static_cast<std::ptrdiff_t>(count));
    }
    return lines;
}

std::string ScriptSummaryText(const std::vector<ScriptDeviceResult>& results) {
    const auto passed = static_cast<std::size_t>(std::count_if(
        results.begin(), results.end(), [](const auto& r) { return r.Outcome.Passed; }));
    std::string text = std::to_string(results.size()) +
                       (results.size() == 1 ? " device: " : " devices: ") + std::to_string(passed) +
                       " passed, " + std::to_string(results.size() - passed) + " failed\n";
    for (const ScriptDeviceResult& result : results) {
        text += "\n" + (result.Device.empty() ? result.Ip : result.Device + " " + result.Ip) + ": ";
        const script::RunOutcome& outcome = result.Outcome;
        if (outcome.Passed) {
            text += "passed\n";
            continue;
        }
        text += "failed";
        if (outcome.Line > 0) {
            text += " at line " + std::to_string(outcome.Line) + " (" + outcome.Command + ")";
        }
        text += ": " + outcome.Reason + "\n";
        for (const std::string& line : result.LastLines) {
            text += "    | " + line + "\n";
        }
    }
    return text;
}

}  // namespace vandrel::app
