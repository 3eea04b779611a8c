#include "terminal/PasteLines.h"

namespace vandrel::terminal {

std::string PasteBytes(std::u16string_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c <= 0xFF) {
            bytes += static_cast<char>(c);
            continue;
        }
        bytes += '?';
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            ++i;
        }
    }
    return bytes;
}

std::vector<PasteLine> SplitPasteLines(std::string_view bytes) {
    std::vector<PasteLine> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c != '\r' && c != '\n') {
            continue;
        }
        lines.push_back({std::string(bytes.substr(start, i - start)), true});
        if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            ++i;
        }
        start = i + 1;
    }
    if (start < bytes.size()) {
        lines.push_back({std::string(bytes.substr(start)), false});
    }
    return lines;
}

std::string EscapeIac(std::string_view bytes) {
    std::string escaped;
    escaped.reserve(bytes.size());
    for (const char c : bytes) {
        escaped += c;
        if (static_cast<unsigned char>(c) == 0xFF) {
            escaped += c;
        }
    }
    return escaped;
}

}  // namespace vandrel::terminal
