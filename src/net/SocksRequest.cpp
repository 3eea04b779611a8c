#include "net/SocksRequest.h"

namespace vandrel::net {

namespace {

void appendPort(SocksBytes& out, std::uint16_t port) {
    out.push_back(static_cast<std::uint8_t>(port >> 8));
    out.push_back(static_cast<std::uint8_t>(port & 0xFF));
}

void appendText(SocksBytes& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
}

bool hasZeroByte(const std::string& text) {
    return text.find('\0') != std::string::npos;
}

}  // namespace

std::string SocksRequestRefusal(ProxyLevel level, const std::string& usercode,
                                const std::string& password, const std::string& host) {
    const std::string limit = " longer than " + std::to_string(kSocksMaxField) + " bytes";
    if (usercode.size() > kSocksMaxField) {
        return "Connect: Socks user code" + limit;
    }
    if (level == ProxyLevel::Socks5 && password.size() > kSocksMaxField) {
        return "Connect: Socks password" + limit;
    }
    if (level != ProxyLevel::Socks4 && host.size() > kSocksMaxField) {
        return "Connect: Host name" + limit + " for the socks server";
    }
    if (level != ProxyLevel::Socks5 &&
        (hasZeroByte(usercode) || (level == ProxyLevel::Socks4A && hasZeroByte(host)))) {
        return "Connect: Socks user code or host name holds a zero byte";
    }
    return {};
}

SocksBytes SocksMethodOffer(std::uint8_t method) {
    return {5, 1, method};
}

std::optional<SocksBytes> SocksAuthRequest(const std::string& usercode,
                                           const std::string& password) {
    if (usercode.size() > kSocksMaxField || password.size() > kSocksMaxField) {
        return std::nullopt;
    }
    SocksBytes out;
    out.reserve(3 + usercode.size() + password.size());
    out.push_back(1);
    out.push_back(static_cast<std::uint8_t>(usercode.size()));
    appendText(out, usercode);
    out.push_back(static_cast<std::uint8_t>(password.size()));
    appendText(out, password);
    return out;
}

std::optional<SocksBytes> SocksConnectRequest(ProxyLevel level, std::uint16_t port,
                                              std::uint32_t addressNetOrder,
                                              const std::string& usercode,
                                              const std::string& host) {
    if (!SocksRequestRefusal(level, usercode, std::string(), host).empty()) {
        return std::nullopt;
    }
    SocksBytes out;
    if (level == ProxyLevel::Socks5) {
        out = {5, 1, 0, 3, static_cast<std::uint8_t>(host.size())};
        appendText(out, host);
        appendPort(out, port);
        return out;
    }
    out = {4, 1};
    appendPort(out, port);
    if (level == ProxyLevel::Socks4) {
        const auto* a = reinterpret_cast<const std::uint8_t*>(&addressNetOrder);
        out.insert(out.end(), a, a + 4);
    } else {
        out.insert(out.end(), {0, 0, 0, 1});  // "resolve the name that follows"
    }
    appendText(out, usercode);
    out.push_back(0);
    if (level == ProxyLevel::Socks4A) {
        appendText(out, host);
        out.push_back(0);
    }
    return out;
}

}  // namespace vandrel::net
