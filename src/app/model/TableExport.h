#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/model/StringGrid.h"

namespace vandrel::app {

// The device table as other programs take it. Cells hold 8-bit text that the table shows one
// character per byte (byte n is the character with code n); outside the program that text
// is written as UTF-8.

std::string Latin1ToUtf8(std::string_view bytes);

// The device rows the table lists, in table order: every row below the header, except the
// one blank row of an empty table.
std::vector<int> ListedDeviceRows(const StringGrid& grid);

// C0 controls, DEL and the C1 range 0x80-0x9F.
bool IsControlByte(unsigned char byte);

// A cell's raw bytes as UTF-8 for a text format, every control byte except the ones keep
// allows shown as \xNN (two upper-case hex digits), and every backslash as \x5C so that each
// \ in the result starts an escape and the bytes can be told back.
std::string EscapedUtf8(std::string_view bytes, bool (*keep)(unsigned char byte));

// A cell's raw bytes as they go into a CSV file: the control bytes that can steer a terminal
// (all but TAB and LF) and backslashes as \xNN, then a leading apostrophe when the cell
// starts with =, +, -, @, TAB or CR, so that a spreadsheet takes it as text, not a formula.
std::string CsvCellText(std::string_view bytes);

// One CSV field (RFC 4180): quoted when it holds a comma, a quote, a line break, any other
// control character or a leading or trailing blank, with every quote doubled.
std::string CsvField(std::string_view utf8);

// The header row and then the listed rows as CSV: UTF-8, fields separated by commas, every
// record ended by CR LF, each cell as CsvCellText gives it.
std::string DeviceTableCsv(const StringGrid& grid);

// The cells of one row separated by tabs, as UTF-8 without a line end. A tab or line break
// inside a cell becomes a blank, so that pasting keeps every cell in its column; other
// control bytes and backslashes are shown as \xNN, as in CSV.
std::string DeviceRowTabText(const StringGrid& grid, int row);

}  // namespace vandrel::app
