#pragma once

#include <chrono>
#include <cstdio>

namespace vandrel::devsim {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
using Milliseconds = std::chrono::milliseconds;

// One line of activity on stderr, so a lab's device log tells what happened.
template <typename... Args>
void logLine(const char* format, Args... args) {
    std::fprintf(stderr, "vandrel-devsim: ");
    if constexpr (sizeof...(Args) == 0) {
        std::fputs(format, stderr);
    } else {
        std::fprintf(stderr, format, args...);
    }
    std::fputc('\n', stderr);
}

}  // namespace vandrel::devsim
