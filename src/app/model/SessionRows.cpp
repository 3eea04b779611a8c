#include "app/model/SessionRows.h"

#include <algorithm>

#include "app/model/DeviceTable.h"

namespace vandrel::app {

namespace {

std::string Counted(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

bool CanConnectRow(const StringGrid& grid, int row) {
    return ConnectRefusal(grid, row).empty();
}

std::string ConnectRefusal(const StringGrid& grid, int row) {
    if (row < 1 || row >= grid.RowCount()) {
        return "not a device row";
    }
    if (grid.Cell(ColDevice, row).empty()) {
        return "no Device";
    }
    if (grid.Cell(ColIP, row).empty()) {
        return "no IP";
    }
    if (!IsNotConnected(grid.Cell(ColStatus, row))) {
        return std::string("status not '") + StatusNotConnected + "'";
    }
    return {};
}

std::string OpenedSessionsNotice(int opened, const std::vector<std::string>& skipped) {
    std::string text =
        "Opened " + Counted(static_cast<std::size_t>(std::max(opened, 0)), "session", "sessions");
    if (skipped.empty()) {
        return text;
    }
    std::vector<std::pair<std::string, std::size_t>> reasons;
    for (const std::string& reason : skipped) {
        auto it = std::find_if(reasons.begin(), reasons.end(),
                               [&](const auto& r) { return r.first == reason; });
        if (it == reasons.end()) {
            reasons.emplace_back(reason, 1);
        } else {
            ++it->second;
        }
    }
    text += "; " + Counted(skipped.size(), "row", "rows") + " skipped: ";
    for (std::size_t i = 0; i < reasons.size(); ++i) {
        text += (i > 0 ? ", " : "") + reasons[i].first;
        if (reasons.size() > 1) {
            text += " (" + std::to_string(reasons[i].second) + ")";
        }
    }
    return text;
}

bool MarkDeviceConnected(StringGrid& grid, const std::string& ip) {
    for (int r = 1; r < grid.RowCount(); ++r) {
        if (grid.Cell(ColIP, r) == ip) {
            grid.SetCell(ColStatus, r, StatusConnected);
            return true;
        }
    }
    return false;
}

std::string SessionLogName(const std::string& ip) {
    std::string name = ip;
    std::replace(name.begin(), name.end(), '.', '_');
    return name;
}

}  // namespace vandrel::app
