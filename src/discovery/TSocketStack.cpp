#include "discovery/TSocketStack.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <mutex>

#include "discovery/UDPErrors.h"
#include "net/NativeError.h"
#include "net/SocketErrorCodes.h"

namespace vandrel::discovery {

namespace {

std::mutex g_stackLock;
int g_stackUsers = 0;
std::unique_ptr<TSocketStack> g_stack;

std::vector<std::string> LookupIPv4(const std::string& name) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* result = nullptr;
    const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &result);
    if (rc != 0) {
        const int mapped = net::SocketErrorFromGai(rc);
        throw EUDPSocketError(mapped != 0 ? mapped : net::WSAHOST_NOT_FOUND);
    }
    std::vector<std::string> addresses;
    for (const addrinfo* ai = result; ai != nullptr; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET) {
            continue;
        }
        const auto* sin = reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
        std::string dotted = TSocketStack::ToDotted(sin->sin_addr);
        // The resolver lists an address once per socket type; keep the first of each.
        if (std::find(addresses.begin(), addresses.end(), dotted) == addresses.end()) {
            addresses.push_back(std::move(dotted));
        }
    }
    ::freeaddrinfo(result);
    if (addresses.empty()) {
        throw EUDPSocketError(net::WSAHOST_NOT_FOUND);
    }
    return addresses;
}

}  // namespace

void TSocketStack::Acquire() {
    std::lock_guard lock(g_stackLock);
    if (g_stackUsers++ == 0) {
        g_stack.reset(new TSocketStack());
    }
}

void TSocketStack::Release() {
    std::lock_guard lock(g_stackLock);
    if (g_stackUsers > 0 && --g_stackUsers == 0) {
        g_stack.reset();
    }
}

int TSocketStack::UserCount() {
    std::lock_guard lock(g_stackLock);
    return g_stackUsers;
}

TSocketStack& TSocketStack::Instance() {
    std::lock_guard lock(g_stackLock);
    if (!g_stack) {
        throw EUDPError(RSWinsockInitializationError);
    }
    return *g_stack;
}

int TSocketStack::WSGetLastError() {
    return net::SocketErrorFromErrno(errno);
}

int TSocketStack::CheckForSocketError(int result) {
    if (result < 0) {
        throw EUDPSocketError(WSGetLastError());
    }
    return result;
}

bool TSocketStack::IsIP(const std::string& text) {
    in_addr ignored{};
    return FromDotted(text, ignored);
}

std::string TSocketStack::ResolveHost(const std::string& host) const {
    std::string upper = host;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (upper == "LOCALHOST") {
        return "127.0.0.1";
    }
    if (IsIP(host)) {
        return host;
    }
    return LookupIPv4(host).front();
}

std::vector<std::string> TSocketStack::HostAddresses() const {
    char name[250] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        throw EUDPSocketError(WSGetLastError());
    }
    return LookupIPv4(name);
}

std::string TSocketStack::HostName() {
    char name[250] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}

std::vector<std::string> TSocketStack::AddressesOf(const std::string& name) {
    return LookupIPv4(name);
}

std::string TSocketStack::ToDotted(in_addr address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

bool TSocketStack::FromDotted(const std::string& text, in_addr& address) {
    std::uint32_t host = 0;
    int parts = 0;
    std::size_t i = 0;
    while (true) {
        std::size_t digits = 0;
        unsigned value = 0;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) != 0) {
            value = value * 10 + static_cast<unsigned>(text[i] - '0');
            if (++digits > 3) {
                return false;
            }
            ++i;
        }
        if (digits == 0 || value > 255) {
            return false;
        }
        host = (host << 8) | value;
        ++parts;
        if (i == text.size()) {
            if (parts != 4) {
                return false;
            }
            address.s_addr = htonl(host);
            return true;
        }
        if (text[i] != '.' || parts == 4) {
            return false;
        }
        ++i;
    }
}

}  // namespace vandrel::discovery
