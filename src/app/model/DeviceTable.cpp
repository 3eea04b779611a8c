#include "app/model/DeviceTable.h"

#include <algorithm>
#include <cstring>

namespace vandrel::app {

StringGrid MakeDeviceGrid() {
    StringGrid grid(DeviceColumns, 2, 1);
    for (int c = 0; c < DeviceColumns; ++c) {
        grid.SetCell(c, 0, DeviceHeaders[c]);
    }
    return grid;
}

ReplyFrame CheckReplyFrame(const std::uint8_t* data, std::size_t size) {
    ReplyFrame frame;
    if (size == 0 || size > MaxReplySize || data[0] != ReplyStart) {
        return frame;
    }
    if (data[size - 1] != ReplyEnd) {
        frame.Kind = ReplyKind::Invalid;
        return frame;
    }
    frame.Kind = ReplyKind::Accept;
    if (size > 2) {
        frame.Payload.assign(reinterpret_cast<const char*>(data) + 1, size - 2);
    }
    return frame;
}

std::string SplitField(std::string& rest, char separator) {
    const std::size_t at = rest.find(separator);
    if (at == std::string::npos) {
        std::string field = std::move(rest);
        rest.clear();
        return field;
    }
    std::string field = rest.substr(0, at);
    rest.erase(0, at + 1);
    return field;
}

void ClearDeviceTable(StringGrid& grid) {
    // Dropping the rows first and then emptying row 1 ends in the same table as emptying
    // every row, without touching each cell of a long list.
    grid.SetRowCount(2);
    for (int c = 0; c < DeviceColumns; ++c) {
        grid.SetCell(c, 1, std::string());
    }
}

void AddDeviceRow(StringGrid& grid, std::string payload) {
    if (grid.RowCount() > 2) {
        grid.SetRowCount(grid.RowCount() + 1);
    } else if (!grid.Cell(ColDevice, 1).empty()) {
        grid.SetRowCount(3);
    }
    const int row = grid.RowCount() - 1;
    // Fields are taken off the front one by one; splitting from a moving offset keeps a
    // long payload linear instead of erasing its front five times.
    std::size_t start = 0;
    for (int c = 0; c < DeviceColumns; ++c) {
        if (start >= payload.size()) {
            grid.SetCell(c, row, std::string());
            start = payload.size() + 1;
            continue;
        }
        std::size_t at = payload.find(FieldSeparator, start);
        if (at == std::string::npos) {
            at = payload.size();
        }
        grid.SetCell(c, row, payload.substr(start, at - start));
        start = at + 1;
    }
}

void MarkSessionConnected(StringGrid& grid) {
    grid.SetCell(ColStatus, grid.Row(), StatusConnected);
}

bool ResetDeviceStatus(StringGrid& grid, const std::string& ip) {
    for (int r = 1; r < grid.RowCount(); ++r) {
        if (grid.Cell(ColIP, r) == ip) {
            grid.SetCell(ColStatus, r, StatusNotConnected);
            return true;
        }
    }
    return false;
}

bool IsNotConnected(const std::string& status) {
    const std::size_t n = std::strlen(StatusNotConnected);
    if (status.size() != n) {
        return false;
    }
    for (std::size_t i = 0; i < n; ++i) {
        char c = status[i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (c != StatusNotConnected[i]) {
            return false;
        }
    }
    return true;
}

int CompareDeviceCells(const StringGrid& grid, int col, int rowA, int rowB) {
    const std::string& a = grid.Cell(col, rowA);
    const std::string& b = grid.Cell(col, rowB);
    // std::string's char compare is unsigned byte-wise with the prefix first.
    const int order = a.compare(b);
    if (order == 0) {
        return StringGrid::CompareEqual;
    }
    return order < 0 ? StringGrid::CompareBefore : StringGrid::CompareAfter;
}

bool HeaderSortState::Click(int col) {
    if (col != m_lastColumn) {
        m_lastAscending = false;
        m_lastColumn = col;
    }
    m_lastAscending = !m_lastAscending;
    return m_lastAscending;
}

}  // namespace vandrel::app
