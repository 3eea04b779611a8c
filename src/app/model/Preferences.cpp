#include "app/model/Preferences.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <initializer_list>
#include <string_view>

#include "app/model/ConnectAddress.h"

namespace vandrel::app {

namespace {

constexpr const char* kHistoryLines = "Session/HistoryLines";
constexpr const char* kEnterKey = "Session/EnterKey";
constexpr const char* kBackspaceKey = "Session/BackspaceKey";
constexpr const char* kSessionFont = "Session/Font";
constexpr const char* kZoom = "Session/Zoom";
constexpr const char* kPasteLineDelay = "Paste/LineDelayMs";
constexpr const char* kConfirmMultiLine = "Paste/ConfirmMultiLine";
constexpr const char* kKeepClosedTabs = "Tabs/KeepClosed";
constexpr const char* kAddressPrefix = "Connect/Address";

using terminal::BackspaceKey;
using terminal::EnterKey;

std::string_view Trimmed(std::string_view text) {
    const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

// Reads one setting: the value of key when present, through parse; a value parse refuses
// keeps the default and names the key in damaged.
template <typename T, typename Parse>
void ReadValue(const SettingValues& values, const char* key, T& value, Parse parse,
               std::vector<std::string>& damaged) {
    const auto found = values.find(key);
    if (found == values.end()) {
        return;
    }
    if (!parse(Trimmed(found->second), value)) {
        damaged.emplace_back(key);
    }
}

// A decimal integer clamped to min ... max; false (value unchanged) when it is no number,
// false (value clamped) when it lay outside.
auto IntIn(int min, int max) {
    return [min, max](std::string_view text, int& value) {
        long long number = 0;
        const char* end = text.data() + text.size();
        const auto [ptr, error] = std::from_chars(text.data(), end, number);
        if (text.empty() || ptr != end) {
            return false;
        }
        if (error == std::errc::result_out_of_range) {
            value = text.front() == '-' ? min : max;
            return false;
        }
        value = static_cast<int>(std::clamp<long long>(number, min, max));
        return number >= min && number <= max;
    };
}

bool ParseBool(std::string_view text, bool& value) {
    const std::string lower = Lower(text);
    if (lower == "true" || lower == "1") {
        value = true;
        return true;
    }
    if (lower == "false" || lower == "0") {
        value = false;
        return true;
    }
    return false;
}

const char* Name(EnterKey key) {
    switch (key) {
        case EnterKey::Cr:
            return "Cr";
        case EnterKey::Lf:
            return "Lf";
        case EnterKey::CrLf:
            break;
    }
    return "CrLf";
}

const char* Name(BackspaceKey key) {
    return key == BackspaceKey::Delete ? "Delete" : "ControlH";
}

template <typename Enum>
bool ParseChoice(std::string_view text, Enum& value, std::initializer_list<Enum> choices) {
    for (const Enum choice : choices) {
        if (Lower(text) == Lower(Name(choice))) {
            value = choice;
            return true;
        }
    }
    return false;
}

bool SameAddress(const std::string& a, const std::string& b) {
    return Lower(a) == Lower(b);
}

}  // namespace

Preferences ReadPreferences(const SettingValues& values, std::vector<std::string>& damaged) {
    Preferences p;
    ReadValue(values, kHistoryLines, p.HistoryLines, IntIn(0, Preferences::kMaxHistoryLines),
              damaged);
    ReadValue(
        values, kEnterKey, p.Enter,
        [](std::string_view text, EnterKey& value) {
            return ParseChoice(text, value, {EnterKey::CrLf, EnterKey::Cr, EnterKey::Lf});
        },
        damaged);
    ReadValue(
        values, kBackspaceKey, p.Backspace,
        [](std::string_view text, BackspaceKey& value) {
            return ParseChoice(text, value, {BackspaceKey::ControlH, BackspaceKey::Delete});
        },
        damaged);
    ReadValue(values, kPasteLineDelay, p.PasteLineDelayMs,
              IntIn(0, Preferences::kMaxPasteLineDelayMs), damaged);
    ReadValue(values, kConfirmMultiLine, p.ConfirmMultiLinePaste, ParseBool, damaged);
    ReadValue(values, kKeepClosedTabs, p.KeepClosedTabs, ParseBool, damaged);
    ReadValue(
        values, kSessionFont, p.SessionFont,
        [](std::string_view text, std::string& value) {
            value = std::string(text);
            return true;
        },
        damaged);
    ReadValue(values, kZoom, p.Zoom, IntIn(Preferences::kMinZoom, Preferences::kMaxZoom), damaged);
    return p;
}

void WritePreferences(const Preferences& p, SettingValues& values) {
    values[kHistoryLines] = std::to_string(p.HistoryLines);
    values[kEnterKey] = Name(p.Enter);
    values[kBackspaceKey] = Name(p.Backspace);
    values[kPasteLineDelay] = std::to_string(p.PasteLineDelayMs);
    values[kConfirmMultiLine] = p.ConfirmMultiLinePaste ? "true" : "false";
    values[kKeepClosedTabs] = p.KeepClosedTabs ? "true" : "false";
    values[kSessionFont] = p.SessionFont;
    values[kZoom] = std::to_string(p.Zoom);
}

void RememberAddress(std::vector<std::string>& recent, const std::string& address) {
    const std::string trimmed(Trimmed(address));
    if (trimmed.empty()) {
        return;
    }
    std::erase_if(recent, [&](const std::string& old) { return SameAddress(old, trimmed); });
    recent.insert(recent.begin(), trimmed);
    if (recent.size() > kRecentAddressLimit) {
        recent.resize(kRecentAddressLimit);
    }
}

std::vector<std::string> ReadRecentAddresses(const SettingValues& values,
                                             std::vector<std::string>& damaged) {
    std::vector<std::string> recent;
    for (std::size_t i = 1; i <= kRecentAddressLimit; ++i) {
        const std::string key = kAddressPrefix + std::to_string(i);
        const auto found = values.find(key);
        if (found == values.end()) {
            continue;
        }
        const std::string address(Trimmed(found->second));
        std::string error;
        const bool repeated = std::any_of(recent.begin(), recent.end(), [&](const auto& old) {
            return SameAddress(old, address);
        });
        if (repeated || CheckConnectAddress(address, error).empty()) {
            damaged.push_back(key);
            continue;
        }
        recent.push_back(address);
    }
    return recent;
}

void WriteRecentAddresses(const std::vector<std::string>& recent, SettingValues& values) {
    for (std::size_t i = 1; i <= kRecentAddressLimit; ++i) {
        const std::string key = kAddressPrefix + std::to_string(i);
        if (i <= recent.size()) {
            values[key] = recent[i - 1];
        } else {
            values.erase(key);
        }
    }
}

}  // namespace vandrel::app
