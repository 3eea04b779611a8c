#include "app/ScanOptions.h"

#include <algorithm>
#include <charconv>

namespace vandrel::app {

namespace {

constexpr const char* kScan = "--scan";
constexpr long long kMaxTimeoutMs = 3600 * 1000;

bool ParseDigits(const std::string& text, long long& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc() && ptr == end;
}

// Decimal seconds as milliseconds, without the rounding of a floating-point number.
bool ParseSeconds(const std::string& text, std::chrono::milliseconds& timeout) {
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

bool ParseFormat(const std::string& text, ScanFormat& format) {
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

}  // namespace

bool IsScanCommand(const std::vector<std::string>& args) {
    return std::find(args.begin(), args.end(), kScan) != args.end();
}

ScanOptions ParseScanOptions(const std::vector<std::string>& args) {
    ScanOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool inlineValue = false;
        if (const std::size_t eq = name.find('='); name.starts_with("--") && eq != name.npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
            inlineValue = true;
        }
        if (!inlineValue && (name == "--help" || name == "-h")) {
            options.Help = true;
            return options;
        }
        if (!inlineValue && name == kScan) {
            continue;
        }
        if (name != "--timeout" && name != "--format") {
            options.Error = "unknown option '" + args[i] + "'";
            return options;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) {
                options.Error = "option " + name + " needs a value";
                return options;
            }
            value = args[++i];
        }
        const bool good = name == "--timeout" ? ParseSeconds(value, options.Timeout)
                                              : ParseFormat(value, options.Format);
        if (!good) {
            options.Error = "bad value '" + value + "' for " + name;
            return options;
        }
    }
    return options;
}

std::string ScanUsage() {
    return "Usage: vandrel --scan [--timeout SECONDS] [--format table|csv|json]\n"
           "Searches for devices like the window's Search (UDP port 33300, every network\n"
           "interface), waits SECONDS for replies (default 2) and prints the devices that\n"
           "answered, in the order they answered. Needs no display.\n"
           "  --format table   aligned columns for a terminal (default); control\n"
           "                   characters are shown as \\xNN\n"
           "  --format csv     the table as CSV with a header row, as File > Export Table\n"
           "  --format json    {\"devices\": [{\"Device\": ..., \"S/N\": ..., \"IP\": ...,\n"
           "                   \"Mac\": ..., \"Status\": ...}, ...]}\n"
           "Exit status: 0 when at least one device answered, 1 when none did, 2 on an error\n"
           "(for example port 33300 in use, or no network to search); the error text goes\n"
           "to standard error.\n";
}

}  // namespace vandrel::app
