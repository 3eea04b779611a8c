#include "app/model/TableExport.h"

#include <cstdio>

namespace vandrel::app {

namespace {

bool NeedsQuotes(std::string_view utf8) {
    if (utf8.empty()) {
        return false;
    }
    if (utf8.front() == ' ' || utf8.back() == ' ') {
        return true;
    }
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == ',' || c == '"' || byte < 0x20 || byte == 0x7F) {
            return true;
        }
    }
    return false;
}

bool IsLineOrTab(unsigned char byte) {
    return byte == '\t' || byte == '\n';
}

// A byte as the four characters \xNN.
std::string HexEscape(unsigned char byte) {
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\x%02X", byte);
    return escape;
}

}  // namespace

bool IsControlByte(unsigned char byte) {
    return byte < 0x20 || (byte >= 0x7F && byte < 0xA0);
}

std::string EscapedUtf8(std::string_view bytes, bool (*keep)(unsigned char byte)) {
    std::string text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\' || (IsControlByte(byte) && (keep == nullptr || !keep(byte)))) {
            text += HexEscape(byte);
        } else {
            text += Latin1ToUtf8(std::string_view(&c, 1));
        }
    }
    return text;
}

std::string CsvCellText(std::string_view bytes) {
    // Judged on the raw bytes: a cell that starts with CR is shown as \x0D, yet gets its
    // apostrophe all the same.
    const bool formula = !bytes.empty() &&
                         std::string_view("=+-@\t\r").find(bytes.front()) != std::string_view::npos;
    return (formula ? "'" : "") + EscapedUtf8(bytes, IsLineOrTab);
}

std::string Latin1ToUtf8(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            text += c;
        } else {
            text += static_cast<char>(0xC0 | (byte >> 6));
            text += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return text;
}

std::vector<int> ListedDeviceRows(const StringGrid& grid) {
    std::vector<int> rows;
    const int first = grid.FixedRows();
    for (int r = first; r < grid.RowCount(); ++r) {
        rows.push_back(r);
    }
    if (rows.size() == 1) {
        bool blank = true;
        for (int c = 0; c < grid.ColCount(); ++c) {
            blank = blank && grid.Cell(c, first).empty();
        }
        if (blank) {
            rows.clear();
        }
    }
    return rows;
}

std::string CsvField(std::string_view utf8) {
    if (!NeedsQuotes(utf8)) {
        return std::string(utf8);
    }
    std::string field = "\"";
    for (const char c : utf8) {
        field += c;
        if (c == '"') {
            field += '"';
        }
    }
    return field + '"';
}

std::string DeviceTableCsv(const StringGrid& grid) {
    std::string csv;
    const auto record = [&](int row) {
        for (int c = 0; c < grid.ColCount(); ++c) {
            if (c > 0) {
                csv += ',';
            }
            csv += CsvField(CsvCellText(grid.Cell(c, row)));
        }
        csv += "\r\n";
    };
    for (int r = 0; r < grid.FixedRows(); ++r) {
        record(r);
    }
    for (const int r : ListedDeviceRows(grid)) {
        record(r);
    }
    return csv;
}

std::string DeviceRowTabText(const StringGrid& grid, int row) {
    std::string text;
    for (int c = 0; c < grid.ColCount(); ++c) {
        if (c > 0) {
            text += '\t';
        }
        std::string cell = grid.Cell(c, row);
        for (char& ch : cell) {
            if (ch == '\t' || ch == '\r' || ch == '\n') {
                ch = ' ';
            }
        }
        text += EscapedUtf8(cell, nullptr);
    }
    return text;
}

}  // namespace vandrel::app
