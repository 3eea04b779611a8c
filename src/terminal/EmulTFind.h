#pragma once

#include <string_view>
#include <vector>

#include "terminal/EmulTSelection.h"

namespace vandrel::terminal {

// One occurrence of a searched text: its first cell and its length in cells.
struct EmulTMatch {
    EmulTPos From;
    int Length = 0;

    friend bool operator==(const EmulTMatch&, const EmulTMatch&) = default;
};

// Every occurrence of needle (Latin-1 bytes) inside one line of lines, in reading order;
// occurrences do not overlap and never span two lines. Without matchCase, Latin-1 letters
// match in either case. An empty needle matches nothing.
std::vector<EmulTMatch> FindAll(const EmulTLines& lines, std::string_view needle, bool matchCase);

}  // namespace vandrel::terminal
