#pragma once

#include <netinet/in.h>

#include <string>
#include <vector>

namespace vandrel::discovery {

// The socket stack shared by every component of the endpoint family. It exists from the
// creation of the first component to the destruction of the last; the count of users is
// kept under a process-wide lock. All socket errors leave it as socket error numbers.
// There is only one platform here, so the platform's stack (TSocketStackWindows) and its
// base TSocketStack are this one class.
class TSocketStack {
public:
    // Counted access: each component calls Acquire once when created and Release once when
    // destroyed. Instance is valid only while the count is above zero.
    static void Acquire();
    static void Release();
    static int UserCount();
    static TSocketStack& Instance();

    // The socket error number of the calling thread's last failed call.
    static int WSGetLastError();
    // Raises EUDPSocketError with WSGetLastError when result is negative; returns result.
    static int CheckForSocketError(int result);

    // True for four dot-separated decimal numbers, each 0 to 255.
    static bool IsIP(const std::string& text);
    // "LOCALHOST" (any case) -> 127.0.0.1, a dotted address unchanged, anything else the first
    // IPv4 address of a name lookup; a failed lookup raises EUDPSocketError.
    std::string ResolveHost(const std::string& host) const;
    // IPv4 addresses of this computer's host name, in the resolver's order. A failed lookup
    // raises EUDPSocketError.
    std::vector<std::string> HostAddresses() const;
    // This computer's host name; empty when the system does not tell it.
    static std::string HostName();
    // IPv4 addresses of name, in the resolver's order, each once. A failed lookup raises
    // EUDPSocketError. It needs no instance, so a worker thread may call it.
    static std::vector<std::string> AddressesOf(const std::string& name);

    static std::string ToDotted(in_addr address);
    // Parses dotted text; false when it is not an address.
    static bool FromDotted(const std::string& text, in_addr& address);

private:
    TSocketStack() = default;
};

}  // namespace vandrel::discovery
