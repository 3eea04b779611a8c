#pragma once

// The requests a SOCKS client sends, built to the size of their content.
// Plain byte code without sockets; the SOCKS layer of the socket sends them.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vandrel::net {

enum class ProxyLevel { Socks4, Socks4A, Socks5 };

using SocksBytes = std::vector<std::uint8_t>;

// Longest user code, password or host name a request carries: level 5 gives
// each a one-byte length, and the older levels are held to the same bound.
inline constexpr std::size_t kSocksMaxField = 255;

// Why the values cannot go into the requests of this level, as a
// "Connect: ..." text; empty when they can. Checked before connecting, so
// an over-long value is refused instead of cut or written past a buffer.
std::string SocksRequestRefusal(ProxyLevel level, const std::string& usercode,
                                const std::string& password, const std::string& host);

// Level 5 method offer: version 5, one method.
SocksBytes SocksMethodOffer(std::uint8_t method);

// Level 5 user name and password request; nothing when a value is longer
// than kSocksMaxField.
std::optional<SocksBytes> SocksAuthRequest(const std::string& usercode,
                                           const std::string& password);

// Connect request for the target. Level 4 carries addressNetOrder (the
// target resolved by the caller), level 4A and 5 carry the host name.
// Nothing when a value is too long or level 4/4A text holds a zero byte.
std::optional<SocksBytes> SocksConnectRequest(ProxyLevel level, std::uint16_t port,
                                              std::uint32_t addressNetOrder,
                                              const std::string& usercode, const std::string& host);

}  // namespace vandrel::net
