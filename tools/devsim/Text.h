#pragma once

#include <string>

namespace vandrel::devsim {

// A typed line without its leading and trailing blanks and tabs.
inline std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace vandrel::devsim
