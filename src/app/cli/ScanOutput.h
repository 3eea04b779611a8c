#pragma once

#include <string>
#include <string_view>

#include "app/cli/ScanOptions.h"
#include "app/model/StringGrid.h"

namespace vandrel::app {

// What a scan prints: the listed rows of a device table (header row 0) in one of the scan's
// formats, as UTF-8 text ending with a line end.
std::string FormatScanResult(const StringGrid& grid, ScanFormat format);

// UTF-8 text as a JSON string (quotes included); control characters, DEL and the C1 range
// too, are written as \u00NN.
std::string JsonString(std::string_view utf8);

// A cell's 8-bit text as a JSON string, as JsonString writes it.
std::string DeviceJsonText(const std::string& bytes);

// {"devices": [{"<header 0>": "<cell>", ...}, ...]} with one device per line; control
// characters, DEL and the C1 range too, are written as \u00NN.
std::string DeviceTableJson(const StringGrid& grid);

// Columns padded to their widest cell, two blanks apart, header first. Control characters
// are shown as \xNN, so that a device's text cannot steer the terminal, and a backslash as
// \x5C, so that the escapes stay unambiguous.
std::string DeviceTableAligned(const StringGrid& grid);

}  // namespace vandrel::app
