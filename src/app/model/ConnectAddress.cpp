#include "app/model/ConnectAddress.h"

#include <cctype>
#include <vector>

#include "discovery/TSocketStack.h"

namespace vandrel::app {

namespace {

bool IsDigits(const std::string& text) {
    if (text.empty()) {
        return false;
    }
    for (const char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> Labels(const std::string& name) {
    std::vector<std::string> labels;
    std::size_t start = 0;
    for (std::size_t dot = name.find('.'); dot != std::string::npos; dot = name.find('.', start)) {
        labels.push_back(name.substr(start, dot - start));
        start = dot + 1;
    }
    labels.push_back(name.substr(start));
    return labels;
}

bool IsLabel(const std::string& label) {
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') {
        return false;
    }
    for (const char c : label) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-') {
            return false;
        }
    }
    return true;
}

bool IsHostName(std::string name) {
    if (!name.empty() && name.back() == '.') {
        name.pop_back();
    }
    if (name.empty() || name.size() > 253) {
        return false;
    }
    const std::vector<std::string> labels = Labels(name);
    for (const std::string& label : labels) {
        if (!IsLabel(label)) {
            return false;
        }
    }
    // "10.1" or "192.168.1.300" are mistyped addresses, not names.
    return !IsDigits(labels.back());
}

}  // namespace

std::string CheckConnectAddress(const std::string& typed, std::string& error) {
    error.clear();
    const std::size_t first = typed.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        error = "No address given";
        return {};
    }
    const std::string text = typed.substr(first, typed.find_last_not_of(" \t\r\n") - first + 1);
    if (in_addr address{}; discovery::TSocketStack::FromDotted(text, address)) {
        // Decimal as typed: leading zeros would read as octal further down.
        return discovery::TSocketStack::ToDotted(address);
    }
    if (IsHostName(text)) {
        return text;
    }
    error = "Not an IPv4 address or host name: " + text;
    return {};
}

}  // namespace vandrel::app
