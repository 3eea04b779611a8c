#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/StringGrid.h"

namespace vandrel::app {

// The device table as other programs take it. Cells hold 8-bit text that the table shows one
// character per byte (byte n is the character with code n); outside the program that text
// is written as UTF-8.

std::string Latin1ToUtf8(std::string_view bytes);

// The device rows the table lists, in table order: every row below the header, except the
// one blank row of an empty table.
std::vector<int> ListedDeviceRows(const StringGrid& grid);

// One CSV field (RFC 4180): quoted when it holds a comma, a quote, a line break, any other
// control character or a leading or trailing blank, with every quote doubled.
std::string CsvField(std::string_view utf8);

// The header row and then the listed rows as CSV: UTF-8, fields separated by commas, every
// record ended by CR LF.
std::string DeviceTableCsv(const StringGrid& grid);

// The cells of one row separated by tabs, as UTF-8 without a line end. A tab or line break
// inside a cell becomes a blank, so that pasting keeps every cell in its column.
std::string DeviceRowTabText(const StringGrid& grid, int row);

}  // namespace vandrel::app
