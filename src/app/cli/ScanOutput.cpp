#include "app/cli/ScanOutput.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/model/TableExport.h"

namespace vandrel::app {

std::string JsonString(std::string_view utf8) {
    std::string text = "\"";
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const char c = utf8[i];
        auto code = static_cast<unsigned char>(c);
        // U+0080-U+009F, the C1 controls, are the two bytes C2 80 to C2 9F.
        const auto next = i + 1 < utf8.size() ? static_cast<unsigned char>(utf8[i + 1]) : 0;
        const bool c1 = code == 0xC2 && next >= 0x80 && next < 0xA0;
        if (c1) {
            code = next;
            ++i;
        }
        if (c == '"' || c == '\\') {
            text += '\\';
            text += c;
        } else if (c1 || code < 0x20 || code == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", code);
            text += escape;
        } else {
            text += c;
        }
    }
    return text + '"';
}

std::string DeviceJsonText(const std::string& bytes) {
    return JsonString(Latin1ToUtf8(bytes));
}

namespace {

// A cell for the terminal, and how many columns it takes there (one per character).
struct ShownCell {
    std::string Utf8;
    std::size_t Width = 0;
};

ShownCell ShowForTerminal(const std::string& bytes) {
    ShownCell cell{EscapedUtf8(bytes, nullptr)};
    for (const char c : cell.Utf8) {
        cell.Width += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    }
    return cell;
}

}  // namespace

std::string DeviceTableJson(const StringGrid& grid) {
    const std::vector<int> rows = ListedDeviceRows(grid);
    if (rows.empty()) {
        return "{\"devices\": []}\n";
    }
    std::string json = "{\"devices\": [\n";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        json += "  {";
        for (int c = 0; c < grid.ColCount(); ++c) {
            json += c > 0 ? ", " : "";
            json += DeviceJsonText(grid.Cell(c, 0)) + ": " + DeviceJsonText(grid.Cell(c, rows[i]));
        }
        json += i + 1 < rows.size() ? "},\n" : "}\n";
    }
    return json + "]}\n";
}

std::string DeviceTableAligned(const StringGrid& grid) {
    std::vector<int> rows = ListedDeviceRows(grid);
    rows.insert(rows.begin(), 0);
    std::vector<std::vector<ShownCell>> cells;
    std::vector<std::size_t> widths(static_cast<std::size_t>(grid.ColCount()), 0);
    for (const int r : rows) {
        std::vector<ShownCell>& line = cells.emplace_back();
        for (int c = 0; c < grid.ColCount(); ++c) {
            line.push_back(ShowForTerminal(grid.Cell(c, r)));
            widths[c] = std::max(widths[c], line.back().Width);
        }
    }
    std::string text;
    for (const std::vector<ShownCell>& line : cells) {
        std::string out;
        for (std::size_t c = 0; c < line.size(); ++c) {
            out += line[c].Utf8;
            if (c + 1 < line.size()) {
                out.append(widths[c] - line[c].Width + 2, ' ');
            }
        }
        // No blanks at the end of a line whose last cells are empty.
        out.erase(out.find_last_not_of(' ') + 1);
        text += out + '\n';
    }
    return text;
}

std::string FormatScanResult(const StringGrid& grid, ScanFormat format) {
    switch (format) {
        case ScanFormat::Csv:
            return DeviceTableCsv(grid);
        case ScanFormat::Json:
            return DeviceTableJson(grid);
        case ScanFormat::Table:
            break;
    }
    return DeviceTableAligned(grid);
}

}  // namespace vandrel::app
