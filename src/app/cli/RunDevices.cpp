#include "app/cli/RunDevices.h"

#include <charconv>

#include "app/model/ConnectAddress.h"
#include "app/model/DeviceTable.h"
#include "app/model/SessionRows.h"
#include "app/model/TableExport.h"

namespace vandrel::app {

namespace {

constexpr std::string_view kBlanks = " \t\r";

std::string_view Trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

bool ValidPort(std::string_view text) {
    int port = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
    return !text.empty() && text.front() != '-' && ec == std::errc() &&
           ptr == text.data() + text.size() && port >= 1 && port <= 65535;
}

}  // namespace

std::optional<RunTarget> ParseRunHost(const std::string& text, std::string& error) {
    RunTarget target;
    std::string host = text;
    if (const std::size_t colon = text.rfind(':'); colon != std::string::npos) {
        host = text.substr(0, colon);
        target.Port = text.substr(colon + 1);
        if (!ValidPort(target.Port)) {
            error = "bad port in '" + EscapedUtf8(text, nullptr) + "'";
            return std::nullopt;
        }
    }
    std::string reason;
    target.Device.Ip = CheckConnectAddress(host, reason);
    if (target.Device.Ip.empty()) {
        // A hosts file may hold any bytes: the message shows them, not a garbled terminal.
        error = "'" + EscapedUtf8(text, nullptr) + "': " + EscapedUtf8(reason, nullptr);
        return std::nullopt;
    }
    return target;
}

std::optional<std::vector<RunTarget>> ReadHostList(std::string_view text, std::string& error) {
    std::vector<RunTarget> targets;
    int number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++number;
        line = Trimmed(line.substr(0, line.find('#')));
        if (line.empty()) {
            continue;
        }
        std::string reason;
        std::optional<RunTarget> target = ParseRunHost(std::string(line), reason);
        if (!target) {
            error = "line " + std::to_string(number) + ": " + reason;
            return std::nullopt;
        }
        targets.push_back(std::move(*target));
    }
    return targets;
}

std::vector<RunTarget> ConnectableDevices(const StringGrid& grid,
                                          std::vector<std::string>& skipped) {
    std::vector<RunTarget> targets;
    for (const int row : ListedDeviceRows(grid)) {
        if (!CanConnectRow(grid, row)) {
            skipped.push_back(EscapedUtf8(grid.Cell(ColIP, row), nullptr) + " (S/N " +
                              EscapedUtf8(grid.Cell(ColSerial, row), nullptr) + "): status '" +
                              EscapedUtf8(grid.Cell(ColStatus, row), nullptr) + "'");
            continue;
        }
        RunTarget& target = targets.emplace_back();
        target.Device = {grid.Cell(ColDevice, row), grid.Cell(ColSerial, row),
                         grid.Cell(ColIP, row), grid.Cell(ColMac, row)};
    }
    return targets;
}

}  // namespace vandrel::app
