#pragma once

#include <functional>
#include <string>

namespace vandrel::app {

// A local date and time to the minute, as the log file name uses it.
struct LocalDateTime {
    int Year = 0;
    int Month = 0;
    int Day = 0;
    int Hour = 0;
    int Minute = 0;
};

// Where the main window reads the time from; tests put a fixed clock here.
using LocalClock = std::function<LocalDateTime()>;

// The computer's local time now.
LocalDateTime SystemLocalDateTime();

// "<host with . as _>-YYYYMMDD_HHMM" where hour and minute are padded with blanks, not
// zeros: 192.168.1.20 at 2026-12-08 09:05 gives "192_168_1_20-20261208_ 9 5".
std::string FormatLogFileName(const std::string& host, const LocalDateTime& at);

}  // namespace vandrel::app
