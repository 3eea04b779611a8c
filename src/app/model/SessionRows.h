#pragma once

#include <string>
#include <vector>

#include "app/model/StringGrid.h"

namespace vandrel::app {

// Whether Connect may open a session from row: Device and IP are non-empty and Status reads
// "not connected" (any ASCII letter case). Rows outside the device rows never qualify.
bool CanConnectRow(const StringGrid& grid, int row);
// Why Connect refuses row, as a status notice says it ("status not 'not connected'"); empty
// when CanConnectRow allows it.
std::string ConnectRefusal(const StringGrid& grid, int row);
// The notice after Connect on several rows: "Opened 12 sessions; 2 rows skipped: status not
// 'not connected'". skipped holds one reason per row not opened; several reasons are listed
// in their first row's order, each with its count.
std::string OpenedSessionsNotice(int opened, const std::vector<std::string>& skipped);

// Status of the first row whose IP equals ip byte-wise := "connected"; the same row that
// ResetDeviceStatus returns to "not connected" when the session ends. Returns whether a
// row matched (the table may have been searched anew while the session was connecting).
bool MarkDeviceConnected(StringGrid& grid, const std::string& ip);

// The log name a new session starts with: ip with every "." replaced by "_".
std::string SessionLogName(const std::string& ip);

}  // namespace vandrel::app
