#include "terminal/EmulTFind.h"

#include <algorithm>
#include <string>

namespace vandrel::terminal {

namespace {

char Folded(char c) {
    const auto b = static_cast<unsigned char>(c);
    const bool upper = (b >= 'A' && b <= 'Z') || (b >= 0xC0 && b <= 0xDE && b != 0xD7);
    return upper ? static_cast<char>(b + 0x20) : c;
}

}  // namespace

std::vector<EmulTMatch> FindAll(const EmulTLines& lines, std::string_view needle, bool matchCase) {
    std::vector<EmulTMatch> matches;
    if (needle.empty()) {
        return matches;
    }
    std::string wanted(needle);
    if (!matchCase) {
        std::transform(wanted.begin(), wanted.end(), wanted.begin(), Folded);
    }
    for (std::int64_t line = lines.FirstLine(); line <= lines.LastLine(); ++line) {
        std::string text = lines.LineText(line);
        if (!matchCase) {
            std::transform(text.begin(), text.end(), text.begin(), Folded);
        }
        for (std::size_t at = text.find(wanted); at != std::string::npos;
             at = text.find(wanted, at + wanted.size())) {
            matches.push_back({{line, static_cast<int>(at) + 1}, static_cast<int>(wanted.size())});
        }
    }
    return matches;
}

}  // namespace vandrel::terminal
