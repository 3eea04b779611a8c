#include "app/model/LogFileName.h"

#include <cstdio>
#include <ctime>

#include "app/model/SessionRows.h"

namespace vandrel::app {

LocalDateTime SystemLocalDateTime() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min};
}

std::string FormatLogFileName(const std::string& host, const LocalDateTime& at) {
    // Room for five ints at their widest, whatever a broken clock hands in.
    char stamp[5 * 12 + 4];
    std::snprintf(stamp, sizeof stamp, "%.4d%.2d%.2d_%2d%2d", at.Year, at.Month, at.Day, at.Hour,
                  at.Minute);
    return SessionLogName(host) + "-" + stamp;
}

}  // namespace vandrel::app
