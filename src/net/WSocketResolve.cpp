#include "net/WSocketResolve.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "net/ESocketException.h"
#include "net/NativeError.h"
#include "net/WSocketErrorText.h"
#include "net/WSocketLibrary.h"

namespace vandrel::net {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::string LowerText(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string TrimText(const std::string& s) {
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ') {
        ++b;
    }
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') {
        --e;
    }
    return s.substr(b, e - b);
}

int LeadingNumber(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size() && s[i] == ' ') {
        ++i;
    }
    std::uint32_t n = 0;
    while (i < s.size() && isDigit(s[i])) {
        n = n * 10u + static_cast<std::uint32_t>(s[i] - '0');
        ++i;
    }
    return static_cast<int>(n);
}

bool IsDottedAddress(const std::string& s) {
    std::size_t i = 0;
    const std::size_t n = s.size();
    while (i < n && s[i] == ' ') {
        ++i;
    }
    if (i < n && s[i] == '.') {
        return false;
    }
    int dots = 0;
    unsigned part = 0;
    for (; i < n; ++i) {
        const char c = s[i];
        if (c == '.') {
            if (++dots > 3 || part > 255) {
                return false;
            }
            part = 0;
            if (i + 1 >= n || !isDigit(s[i + 1])) {
                return false;
            }
        } else if (isDigit(c)) {
            // Capped so that long digit runs cannot overflow; any cap above 255 fails alike.
            part = std::min(part * 10u + static_cast<unsigned>(c - '0'), 1000u);
        } else {
            while (i < n && s[i] == ' ') {
                ++i;
            }
            if (i < n) {
                return false;
            }
            break;
        }
    }
    return dots == 3 && part <= 255;
}

std::uint32_t ResolveHost(const std::string& s) {
    if (s.empty() || s.size() > 256) {
        throw ESocketException("Winsock Resolve Host: '" + s + "' Invalid Hostname.");
    }
    const std::string text = TrimText(s);
    if (IsDottedAddress(text)) {
        const std::uint32_t addr = WSocket_inet_addr(text.c_str());
        if (addr == INADDR_NONE && text != "255.255.255.255") {
            throw ESocketException("Winsock Resolve Host: '" + s + "' Invalid IP address.");
        }
        return addr;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    const int rc = ::getaddrinfo(text.c_str(), nullptr, &hints, &result);
    if (rc != 0 || !result) {
        const int err = rc != 0 ? SocketErrorFromGai(rc) : SocketErrorFromGai(EAI_NONAME);
        WSocket_WSASetLastError(err);
        throw ESocketException("Winsock Resolve Host: Cannot convert host address '" + s + "' - " +
                               WSocketErrorMessage(err));
    }
    sockaddr_in sin{};
    std::memcpy(&sin, result->ai_addr, sizeof sin);
    ::freeaddrinfo(result);
    return sin.sin_addr.s_addr;
}

int ResolvePort(const std::string& port, const std::string& proto) {
    if (port.empty() || port.size() >= 32) {
        throw ESocketException("Winsock Resolve Port: Invalid Port.");
    }
    if (proto.empty() || proto.size() >= 32) {
        throw ESocketException("Winsock Resolve Port: Invalid Proto.");
    }
    if (isDigit(port[0])) {
        return LeadingNumber(port);
    }
    const std::string name = TrimText(port);
    const std::string protoName = TrimText(proto);
    servent* entry =
        WSocket_getservbyname(name.c_str(), protoName.empty() ? nullptr : protoName.c_str());
    if (!entry) {
        throw ESocketException("Winsock Resolve Port: Cannot convert port '" + port + "' - " +
                               WSocketErrorMessage(WSocket_WSAGetLastError()));
    }
    return WSocket_ntohs(static_cast<std::uint16_t>(entry->s_port));
}

int ResolveProto(const std::string& proto) {
    if (proto.empty() || proto.size() >= 32) {
        throw ESocketException("Winsock Resolve Proto: Invalid Protocol.");
    }
    if (isDigit(proto[0])) {
        return LeadingNumber(proto);
    }
    const std::string name = LowerText(TrimText(proto));
    if (name == "tcp") {
        return IPPROTO_TCP;
    }
    if (name == "udp") {
        return IPPROTO_UDP;
    }
    if (name == "raw") {
        return IPPROTO_RAW;
    }
    protoent* entry = WSocket_getprotobyname(name.c_str());
    if (!entry) {
        throw ESocketException("Winsock Resolve Proto: Cannot convert protocol '" + name + "' - " +
                               WSocketErrorMessage(WSocket_WSAGetLastError()));
    }
    return entry->p_proto;
}

}  // namespace vandrel::net
