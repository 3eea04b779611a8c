#pragma once

// The end a socket connects to or listens at: the Addr, Port and Proto texts as
// assigned, and what they resolve to for the library (protocol number, socket
// type, port number and the socket address). Plain data with the rules that
// tie the two together; the socket holds one and takes a fresh one after every
// close (AfterClose).

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <string>

namespace vandrel::net {

struct RemoteEndpoint {
    std::string addr;
    bool addrAssigned = false;
    bool addrResolved = false;
    std::string port;
    bool portAssigned = false;
    bool portResolved = false;
    std::uint16_t portNum = 0;  // host order; sin holds it in network order
    std::string proto = "tcp";
    bool protoAssigned = true;
    bool protoResolved = false;
    int protoNum = IPPROTO_TCP;
    int socketType = SOCK_STREAM;
    int addrFormat = AF_INET;
    sockaddr_in sin = EmptyAddress();

    static sockaddr_in EmptyAddress();

    // A text equal to the assigned one changes nothing (true). Any other text is
    // trimmed, marked unresolved, and counts as assigned when not empty.
    bool KeepsAddr(const std::string& value) const { return addrAssigned && value == addr; }
    bool KeepsPort(const std::string& value) const { return portAssigned && value == port; }
    bool KeepsProto(const std::string& value) const { return protoAssigned && value == proto; }
    void AssignAddr(const std::string& value);
    void AssignPort(const std::string& value);
    void AssignProto(const std::string& value);

    // Each resolves only what is not resolved yet and may raise ESocketException.
    // For a connect: protocol 6 is a stream socket, 17 a datagram socket, any
    // other a raw one.
    void ResolveProtoForConnect();
    // For a listener: a Proto of "raw_" (any case) and up to ten more characters
    // is a raw socket of that protocol; otherwise 17 is a datagram socket and any
    // other a stream socket.
    void ResolveProtoForListen();
    // The port number is taken modulo 65536.
    void ResolvePort();
    void ResolveAddr();
    // Resolved values set by a layer that connects elsewhere (a proxy).
    void SetResolvedPort(std::uint16_t portHostOrder);
    void SetResolvedAddr(std::uint32_t addrNetOrder);

    // The endpoint after a close: nothing assigned or resolved and Proto "tcp",
    // but the Addr and Port texts stay readable.
    RemoteEndpoint AfterClose() const;
};

}  // namespace vandrel::net
