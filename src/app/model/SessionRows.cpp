#include "app/model/SessionRows.h"

#include <algorithm>

#include "app/model/DeviceTable.h"

namespace vandrel::app {

bool CanConnectRow(const StringGrid& grid, int row) {
    if (row < 1 || row >= grid.RowCount()) {
        return false;
    }
    return !grid.Cell(ColDevice, row).empty() && !grid.Cell(ColIP, row).empty() &&
           IsNotConnected(grid.Cell(ColStatus, row));
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
