#pragma once

// What a terminal view shows, and what a file holds, as text for comparisons.

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "terminal/TCustomEmulT.h"

namespace vandrel::test {

// One row of the view (from 1), blanks at the end cut.
inline std::string rowText(const terminal::TCustomEmulT& view, int row) {
    std::string line;
    for (int col = 1; col <= view.Columns(); ++col) {
        const std::uint8_t c = view.Buffer().GetCell(col, row).Character;
        line += c == 0 ? ' ' : static_cast<char>(c);
    }
    return line.substr(0, line.find_last_not_of(' ') + 1);
}

// Every row of the view, blanks at the end cut, each followed by "\n".
inline std::string screenText(const terminal::TCustomEmulT& view) {
    std::string text;
    for (int row = 1; row <= view.Rows(); ++row) {
        text += rowText(view, row) + "\n";
    }
    return text;
}

// True when the view (if there is one) shows needle, which may span rows.
inline bool screenShows(const terminal::TCustomEmulT* view, const std::string& needle) {
    return view != nullptr && screenText(*view).find(needle) != std::string::npos;
}

// The bytes of a file; empty when it cannot be read.
inline std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

}  // namespace vandrel::test
