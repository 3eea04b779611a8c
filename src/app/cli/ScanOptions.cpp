#include "app/cli/ScanOptions.h"

#include <charconv>

namespace vandrel::app {

namespace {

constexpr long long kMaxTimeoutMs = 3600 * 1000;

// Digits only: from_chars would also take a minus sign, and "-0.5" would read as 0.5.
bool ParseDigits(const std::string& text, long long& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}

}  // namespace

// Decimal seconds as milliseconds, without the rounding of a floating-point number.
bool ParseScanTimeout(const std::string& text, std::chrono::milliseconds& timeout) {
    const std::size_t dot = text.find('.');
    const std::string whole = text.substr(0, dot);
    std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
    long long seconds = 0;
    long long millis = 0;
    if (whole.size() > 4 || !ParseDigits(whole, seconds) || fraction.size() > 3 ||
        (dot != std::string::npos && !ParseDigits(fraction, millis))) {
        return false;
    }
    fraction.resize(3, '0');
    ParseDigits(fraction, millis);
    const long long total = seconds * 1000 + (dot == std::string::npos ? 0 : millis);
    if (total <= 0 || total > kMaxTimeoutMs) {
        return false;
    }
    timeout = std::chrono::milliseconds(total);
    return true;
}

bool ParseScanFormat(const std::string& text, ScanFormat& format) {
    if (text == "table") {
        format = ScanFormat::Table;
    } else if (text == "csv") {
        format = ScanFormat::Csv;
    } else if (text == "json") {
        format = ScanFormat::Json;
    } else {
        return false;
    }
    return true;
}

}  // namespace vandrel::app
