#pragma once

#include <string>

#include "app/model/StringGrid.h"

namespace vandrel::app {

// Whether Connect may open a session from row: Device and IP are non-empty and Status reads
// "not connected" (any ASCII letter case). Rows outside the device rows never qualify.
bool CanConnectRow(const StringGrid& grid, int row);

// Status of the first row whose IP equals ip byte-wise := "connected"; the same row that
// ResetDeviceStatus returns to "not connected" when the session ends. Returns whether a
// row matched (the table may have been searched anew while the session was connecting).
bool MarkDeviceConnected(StringGrid& grid, const std::string& ip);

// The log name a new session starts with: ip with every "." replaced by "_".
std::string SessionLogName(const std::string& ip);

}  // namespace vandrel::app
