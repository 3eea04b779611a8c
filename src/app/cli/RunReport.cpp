#include "app/cli/RunReport.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "app/cli/ScanOutput.h"
#include "app/model/ReplaceFile.h"
#include "app/model/TableExport.h"

namespace vandrel::app {

namespace {

std::string Seconds(double seconds, const char* format) {
    char text[32];
    std::snprintf(text, sizeof text, format, seconds);
    return text;
}

// Script lines, reasons and paths are taken as UTF-8 where they are, as 8-bit text otherwise.
std::string AsUtf8(const std::string& bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        const std::size_t length = byte < 0x80           ? 1
                                   : (byte >> 5) == 0x6  ? 2
                                   : (byte >> 4) == 0xE  ? 3
                                   : (byte >> 3) == 0x1E ? 4
                                                         : 0;
        if (length == 0 || i + length > bytes.size()) {
            return Latin1ToUtf8(bytes);
        }
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) {
                return Latin1ToUtf8(bytes);
            }
        }
        i += length;
    }
    return bytes;
}

std::string JsonUtf8(const std::string& bytes) {
    return JsonString(AsUtf8(bytes));
}

// A text of the program's own for a CSV cell: controls as \xNN, no formula.
std::string CsvUtf8(const std::string& bytes) {
    std::string text;
    for (const char c : AsUtf8(bytes)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '\\') {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", byte);
            text += escape;
        } else {
            text += c;
        }
    }
    if (!text.empty() && std::string_view("=+-@").find(text.front()) != std::string_view::npos) {
        text.insert(0, 1, '\'');
    }
    return CsvField(text);
}

std::string Shown(const std::string& bytes) {
    return bytes.empty() ? "-" : EscapedUtf8(bytes, nullptr);
}

int Count(const std::vector<DeviceResult>& results, DeviceOutcome outcome) {
    return static_cast<int>(
        std::count_if(results.begin(), results.end(),
                      [&](const DeviceResult& r) { return r.Outcome == outcome; }));
}

bool EndsWithCsv(const std::string& path) {
    if (path.size() < 4) {
        return false;
    }
    std::string end = path.substr(path.size() - 4);
    std::transform(end.begin(), end.end(), end.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return end == ".csv";
}

}  // namespace

const char* OutcomeText(DeviceOutcome outcome) {
    switch (outcome) {
        case DeviceOutcome::Passed:
            return "passed";
        case DeviceOutcome::Failed:
            return "failed";
        case DeviceOutcome::NotRun:
            break;
    }
    return "not run";
}

std::string DeviceResultLine(const DeviceResult& result) {
    std::string line = Shown(result.Device.Ip) + "  " + Shown(result.Device.SerialNumber) + "  " +
                       OutcomeText(result.Outcome);
    if (result.Outcome == DeviceOutcome::NotRun) {
        return line;
    }
    line += "  " + Seconds(result.Seconds, "%.2f") + " s";
    if (result.Outcome == DeviceOutcome::Failed) {
        line += "  ";
        if (result.Line > 0) {
            line += "line " + std::to_string(result.Line) + " " +
                    EscapedUtf8(AsUtf8(result.Command), nullptr) + ": ";
        }
        line += EscapedUtf8(AsUtf8(result.Reason), nullptr);
    }
    return line;
}

std::string RunSummaryLine(const std::vector<DeviceResult>& results, double seconds) {
    const int notRun = Count(results, DeviceOutcome::NotRun);
    return std::to_string(results.size()) + (results.size() == 1 ? " device: " : " devices: ") +
           std::to_string(Count(results, DeviceOutcome::Passed)) + " passed, " +
           std::to_string(Count(results, DeviceOutcome::Failed)) + " failed, " +
           (notRun > 0 ? std::to_string(notRun) + " not run, " : "") + Seconds(seconds, "%.2f") +
           " s";
}

std::string RunReportJson(const std::vector<DeviceResult>& results, double seconds) {
    std::string json = "{\"devices\": [";
    for (std::size_t i = 0; i < results.size(); ++i) {
        const DeviceResult& r = results[i];
        json += i > 0 ? ",\n  {" : "\n  {";
        json += "\"Device\": " + DeviceJsonText(r.Device.Device) +
                ", \"S/N\": " + DeviceJsonText(r.Device.SerialNumber) +
                ", \"IP\": " + DeviceJsonText(r.Device.Ip) +
                ", \"Mac\": " + DeviceJsonText(r.Device.Mac) + ", \"outcome\": \"" +
                OutcomeText(r.Outcome) + "\", \"line\": " + std::to_string(r.Line) +
                ", \"command\": " + JsonUtf8(r.Command) + ", \"reason\": " + JsonUtf8(r.Reason) +
                ", \"seconds\": " + Seconds(r.Seconds, "%.3f") + ", \"log\": " + JsonUtf8(r.Log) +
                "}";
    }
    json += results.empty() ? "],\n" : "\n],\n";
    return json + " \"passed\": " + std::to_string(Count(results, DeviceOutcome::Passed)) +
           ", \"failed\": " + std::to_string(Count(results, DeviceOutcome::Failed)) +
           ", \"not run\": " + std::to_string(Count(results, DeviceOutcome::NotRun)) +
           ", \"seconds\": " + Seconds(seconds, "%.3f") + "}\n";
}

std::string RunReportCsv(const std::vector<DeviceResult>& results) {
    std::string csv = "Device,S/N,IP,Mac,outcome,line,command,reason,seconds,log\r\n";
    for (const DeviceResult& r : results) {
        for (const std::string* cell :
             {&r.Device.Device, &r.Device.SerialNumber, &r.Device.Ip, &r.Device.Mac}) {
            csv += CsvField(CsvCellText(*cell)) + ",";
        }
        csv += std::string(OutcomeText(r.Outcome)) + "," +
               (r.Line > 0 ? std::to_string(r.Line) : "") + "," + CsvUtf8(r.Command) + "," +
               CsvUtf8(r.Reason) + "," + Seconds(r.Seconds, "%.3f") + "," + CsvUtf8(r.Log) + "\r\n";
    }
    return csv;
}

int WriteRunReport(const std::string& path, const std::vector<DeviceResult>& results,
                   double seconds) {
    return ReplaceFile(path,
                       EndsWithCsv(path) ? RunReportCsv(results) : RunReportJson(results, seconds));
}

}  // namespace vandrel::app
