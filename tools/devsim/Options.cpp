#include "Options.h"

#include <charconv>
#include <functional>
#include <map>

#include "Ipv4.h"

namespace vandrel::devsim {

namespace {

constexpr unsigned char kIac = 255;

template <typename T>
bool parseNumber(const std::string& text, T minimum, T maximum, T& out) {
    T value{};
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty() || value < minimum || value > maximum) {
        return false;
    }
    out = value;
    return true;
}

bool parseSeconds(const std::string& text, int& milliseconds) {
    // Decimal seconds with up to three fractional digits, e.g. "2" or "0.25".
    std::size_t dot = text.find('.');
    std::string whole = text.substr(0, dot);
    std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
    int seconds = 0;
    if (whole.empty() || !parseNumber(whole, 0, 86400, seconds) || fraction.size() > 3) {
        return false;
    }
    int millis = 0;
    if (!fraction.empty()) {
        fraction.resize(3, '0');
        if (!parseNumber(fraction, 0, 999, millis)) {
            return false;
        }
    } else if (dot != std::string::npos) {
        return false;
    }
    milliseconds = seconds * 1000 + millis;
    return true;
}

bool parseHex(const std::string& hex, std::string& bytes) {
    if (hex.size() % 2 != 0) {
        return false;
    }
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        unsigned value = 0;
        auto [ptr, ec] = std::from_chars(hex.data() + i, hex.data() + i + 2, value, 16);
        if (ec != std::errc() || ptr != hex.data() + i + 2) {
            return false;
        }
        bytes += static_cast<char>(value);
    }
    return true;
}

bool parseScriptItem(const std::string& item, std::string& bytes) {
    static const std::map<std::string, unsigned char> verbs = {
        {"will", 251}, {"wont", 252}, {"do", 253}, {"dont", 254}};
    std::size_t colon = item.find(':');
    if (colon == std::string::npos) {
        return false;
    }
    std::string key = item.substr(0, colon);
    std::string value = item.substr(colon + 1);
    if (key == "raw") {
        return !value.empty() && parseHex(value, bytes);
    }
    auto verb = verbs.find(key);
    int option = 0;
    if (verb == verbs.end() || !parseNumber(value, 0, 255, option)) {
        return false;
    }
    bytes += static_cast<char>(kIac);
    bytes += static_cast<char>(verb->second);
    bytes += static_cast<char>(option);
    return true;
}

using Handler = std::function<bool(Options&, const std::string&)>;

// Options that take a value; each handler returns false when the value is unusable.
const std::map<std::string, Handler>& valueOptions() {
    static const std::map<std::string, Handler> table = {
        {"--bind",
         [](Options& o, const std::string& v) {
             o.bindAddress = v;
             return parseIpv4(v).has_value();
         }},
        {"--discovery-port",
         [](Options& o, const std::string& v) {
             return parseNumber(v, 0, 65535, o.discoveryPort);
         }},
        {"--telnet-port",
         [](Options& o, const std::string& v) { return parseNumber(v, 0, 65535, o.telnetPort); }},
        {"--device", [](Options& o, const std::string& v) { return o.fields.device = v, true; }},
        {"--serial", [](Options& o, const std::string& v) { return o.fields.serial = v, true; }},
        {"--ip", [](Options& o, const std::string& v) { return o.fields.ip = v, true; }},
        {"--mac", [](Options& o, const std::string& v) { return o.fields.mac = v, true; }},
        {"--status", [](Options& o, const std::string& v) { return o.fields.status = v, true; }},
        {"--netmask",
         [](Options& o, const std::string& v) {
             o.netmask = v;
             auto mask = parseIpv4(v);
             return mask && isNetmask(*mask);
         }},
        {"--gateway",
         [](Options& o, const std::string& v) {
             o.gateway = v;
             return parseIpv4(v).has_value();
         }},
        {"--reply-count",
         [](Options& o, const std::string& v) { return parseNumber(v, 0, 10000, o.replyCount); }},
        {"--devices",
         [](Options& o, const std::string& v) { return parseNumber(v, 1, 10000, o.devices); }},
        {"--delay",
         [](Options& o, const std::string& v) { return parseNumber(v, 0, 600000, o.delayMs); }},
        {"--fields",
         [](Options& o, const std::string& v) { return parseNumber(v, 4, 6, o.shape.fields); }},
        {"--raw-reply",
         [](Options& o, const std::string& v) {
             o.shape.useRaw = true;
             o.shape.rawBytes.clear();
             return v.size() <= 2 * 65507 && parseHex(v, o.shape.rawBytes);
         }},
        {"--answer-delay",
         [](Options& o, const std::string& v) {
             return parseNumber(v, 0, 600000, o.answerDelayMs);
         }},
        {"--close-after",
         [](Options& o, const std::string& v) { return parseSeconds(v, o.closeAfterMs); }},
        {"--reset-after",
         [](Options& o, const std::string& v) {
             return parseNumber<std::int64_t>(v, 0, std::int64_t{1} << 40, o.resetAfterBytes);
         }},
        {"--flood",
         [](Options& o, const std::string& v) {
             return parseNumber<std::uint64_t>(v, 0, 1ULL << 40, o.floodBytes);
         }},
        {"--record", [](Options& o, const std::string& v) { return o.recordFile = v, !v.empty(); }},
        {"--telnet-options",
         [](Options& o, const std::string& v) {
             std::string error;
             return parseOptionScript(v, o.optionScript, error);
         }},
    };
    return table;
}

bool applyFlag(Options& o, const std::string& flag) {
    if (flag == "--bad-start") {
        o.shape.badStart = true;
    } else if (flag == "--bad-end") {
        o.shape.badEnd = true;
    } else if (flag == "--oversize") {
        o.shape.padTo = 2049;
    } else if (flag == "--exact-2048") {
        o.shape.padTo = 2048;
    } else if (flag == "--refuse") {
        o.refuse = true;
    } else if (flag == "--hung-dialogue") {
        o.hungDialogue = true;
    } else if (flag == "--static-status") {
        o.sessionStatus = false;
    } else {
        return false;
    }
    return true;
}

}  // namespace

std::string defaultOptionScript() {
    std::string bytes;
    std::string error;
    parseOptionScript("do:24,will:1,will:3,do:23", bytes, error);
    return bytes;
}

bool parseOptionScript(const std::string& text, std::string& bytes, std::string& error) {
    bytes.clear();
    if (text.empty() || text == "none") {
        return true;
    }
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t comma = text.find(',', start);
        std::string item =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (!parseScriptItem(item, bytes)) {
            error = "bad telnet option item '" + item + "'";
            return false;
        }
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    return true;
}

ParsedOptions parseOptions(const std::vector<std::string>& args) {
    ParsedOptions result;
    result.options.optionScript = defaultOptionScript();
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool hasInlineValue = false;
        if (std::size_t eq = name.find('='); name.starts_with("--") && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
            hasInlineValue = true;
        }
        if (name == "--help" || name == "-h") {
            result.help = true;
            return result;
        }
        if (!hasInlineValue && applyFlag(result.options, name)) {
            continue;
        }
        auto handler = valueOptions().find(name);
        if (handler == valueOptions().end()) {
            result.error = "unknown option '" + args[i] + "'";
            return result;
        }
        if (!hasInlineValue) {
            if (i + 1 >= args.size()) {
                result.error = "option " + name + " needs a value";
                return result;
            }
            value = args[++i];
        }
        if (!handler->second(result.options, value)) {
            result.error = "bad value '" + value + "' for " + name;
            return result;
        }
    }
    return result;
}

}  // namespace vandrel::devsim
