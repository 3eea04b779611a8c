#pragma once

// Discovery replies and device tables made of their fields (Device, S/N, IP, Mac, Status).
#include <string>
#include <vector>

#include "app/model/DeviceTable.h"

namespace vandrel::test {

inline std::string DevicePayload(const std::vector<std::string>& fields) {
    std::string payload;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        payload += (i > 0 ? "\x1F" : "") + fields[i];
    }
    return payload;
}

// A device table with a row for each reply, in this order.
inline app::StringGrid DeviceGrid(const std::vector<std::vector<std::string>>& rows) {
    app::StringGrid grid = app::MakeDeviceGrid();
    for (const auto& fields : rows) {
        app::AddDeviceRow(grid, DevicePayload(fields));
    }
    return grid;
}

}  // namespace vandrel::test
