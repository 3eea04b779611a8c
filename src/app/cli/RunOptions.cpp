#include "app/cli/RunOptions.h"

#include <charconv>

namespace vandrel::app {

bool ParseParallel(const std::string& text, int& parallel) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    // Digits only: from_chars would take a minus sign too.
    if (text.empty() || text.front() == '-' || ec != std::errc() || ptr != end || value < 1 ||
        value > kMaxParallel) {
        return false;
    }
    parallel = value;
    return true;
}

}  // namespace vandrel::app
