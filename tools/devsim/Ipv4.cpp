#include "Ipv4.h"

namespace vandrel::devsim {

std::optional<std::uint32_t> parseIpv4(const std::string& text) {
    std::uint32_t result = 0;
    std::size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.') {
                return std::nullopt;
            }
            ++pos;
        }
        std::size_t start = pos;
        unsigned value = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 3) {
            value = value * 10 + static_cast<unsigned>(text[pos] - '0');
            ++pos;
        }
        if (pos == start || value > 255) {
            return std::nullopt;
        }
        result = (result << 8) | value;
    }
    if (pos != text.size()) {
        return std::nullopt;
    }
    return result;
}

std::string formatIpv4(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

bool isNetmask(std::uint32_t mask) {
    if (mask == 0) {
        return false;
    }
    std::uint32_t inverted = ~mask;
    return (inverted & (inverted + 1)) == 0;
}

bool isUsableHost(std::uint32_t address) {
    std::uint32_t first = address >> 24;
    return first != 0 && first != 127 && first < 224;
}

}  // namespace vandrel::devsim
