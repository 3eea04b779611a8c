#include "discovery/LocalAddress.h"

#include <strings.h>

#include "discovery/TSocketStack.h"

namespace vandrel::discovery {

namespace {

bool IsUsableNetwork(const InterfaceInfo& info) {
    return (info.Flags & IFF_UP_BIT) != 0 && (info.Flags & IFF_LOOPBACK_BIT) == 0;
}

// The value of the first item "name=value" whose name matches (ignoring case).
bool FindValue(const std::vector<std::string>& items, const char* name, std::string& value) {
    const std::size_t nameLength = std::char_traits<char>::length(name);
    for (const std::string& item : items) {
        const std::size_t eq = item.find('=');
        if (eq == nameLength && ::strncasecmp(item.c_str(), name, eq) == 0) {
            value = item.substr(eq + 1);
            return true;
        }
    }
    return false;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace

std::string ChooseLocalAddress(const std::vector<std::string>& hostAddresses,
                               const std::vector<InterfaceInfo>& interfaces) {
    for (const std::string& address : hostAddresses) {
        for (const InterfaceInfo& info : interfaces) {
            if (IsUsableNetwork(info) && TSocketStack::ToDotted(info.Address) == address) {
                return address;
            }
        }
    }
    if (const InterfaceInfo* first = FirstNetworkInterface(interfaces)) {
        return TSocketStack::ToDotted(first->Address);
    }
    return hostAddresses.empty() ? std::string() : hostAddresses.front();
}

const InterfaceInfo* FirstNetworkInterface(const std::vector<InterfaceInfo>& interfaces) {
    for (const InterfaceInfo& info : interfaces) {
        if (IsUsableNetwork(info)) {
            return &info;
        }
    }
    return nullptr;
}

std::string UnresolvedHostNotice(const std::string& hostName,
                                 const std::vector<InterfaceInfo>& interfaces) {
    std::string text = hostName.empty() ? std::string("This computer has no host name")
                                        : "Host name " + hostName + " does not resolve";
    const InterfaceInfo* first = FirstNetworkInterface(interfaces);
    if (first == nullptr) {
        return text + "; no network interface is up";
    }
    // Every interface has a name on this platform; the address stands in for a nameless one.
    return text + "; Local IP from " +
           (first->Name.empty() ? TSocketStack::ToDotted(first->Address) : first->Name);
}

std::string LocalAddress() {
    const std::vector<std::string> hostAddresses = TSocketStack::Instance().HostAddresses();
    std::vector<InterfaceInfo> interfaces;
    QueryLocalInterfaces(interfaces);
    return ChooseLocalAddress(hostAddresses, interfaces);
}

std::vector<std::string> SplitCommaText(const std::string& text) {
    std::vector<std::string> items;
    const auto isBlank = [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u >= 1 && u <= 32;
    };
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && isBlank(text[i])) {
        ++i;
    }
    while (i < n) {
        std::string item;
        if (text[i] == '"') {
            ++i;
            while (i < n) {
                if (text[i] == '"') {
                    if (i + 1 < n && text[i + 1] == '"') {
                        item += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                item += text[i++];
            }
        } else {
            while (i < n && text[i] != ',' && !isBlank(text[i])) {
                item += text[i++];
            }
        }
        items.push_back(std::move(item));
        while (i < n && isBlank(text[i])) {
            ++i;
        }
        if (i < n && text[i] == ',') {
            ++i;
            while (i < n && isBlank(text[i])) {
                ++i;
            }
            if (i == n) {
                items.emplace_back();
            }
        }
    }
    return items;
}

std::string NetmaskFromInterfaceList(const std::string& interfaceText, const std::string& localIP) {
    std::string value;
    for (const std::string& line : SplitLines(interfaceText)) {
        const std::vector<std::string> items = SplitCommaText(line);
        std::string ip;
        if (FindValue(items, "IP", ip) && ip == localIP && FindValue(items, "Mask", value)) {
            return value;
        }
    }
    if (FindValue(SplitCommaText(interfaceText), "Mask", value)) {
        return value;
    }
    return {};
}

}  // namespace vandrel::discovery
