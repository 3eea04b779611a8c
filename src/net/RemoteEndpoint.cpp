#include "net/RemoteEndpoint.h"

#include "net/WSocketLibrary.h"
#include "net/WSocketResolve.h"

namespace vandrel::net {

sockaddr_in RemoteEndpoint::EmptyAddress() {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    return sin;
}

void RemoteEndpoint::AssignAddr(const std::string& value) {
    addr = TrimText(value);
    addrResolved = false;
    addrAssigned = !addr.empty();
}

void RemoteEndpoint::AssignPort(const std::string& value) {
    port = TrimText(value);
    portResolved = false;
    portAssigned = !port.empty();
}

void RemoteEndpoint::AssignProto(const std::string& value) {
    proto = TrimText(value);
    protoResolved = false;
    protoAssigned = !proto.empty();
}

void RemoteEndpoint::ResolveProtoForConnect() {
    if (protoResolved) {
        return;
    }
    protoNum = ResolveProto(proto);
    socketType = protoNum == IPPROTO_TCP   ? SOCK_STREAM
                 : protoNum == IPPROTO_UDP ? SOCK_DGRAM
                                           : SOCK_RAW;
    protoResolved = true;
}

void RemoteEndpoint::ResolveProtoForListen() {
    if (protoResolved) {
        return;
    }
    if (proto.size() >= 4 && LowerText(proto.substr(0, 4)) == "raw_") {
        socketType = SOCK_RAW;
        protoNum = ResolveProto(proto.substr(4, 10));
    } else {
        protoNum = ResolveProto(proto);
        socketType = protoNum == IPPROTO_UDP ? SOCK_DGRAM : SOCK_STREAM;
    }
    protoResolved = true;
}

void RemoteEndpoint::ResolvePort() {
    if (!portResolved) {
        SetResolvedPort(static_cast<std::uint16_t>(vandrel::net::ResolvePort(port, proto)));
    }
}

void RemoteEndpoint::ResolveAddr() {
    if (!addrResolved) {
        SetResolvedAddr(ResolveHost(addr));
    }
}

void RemoteEndpoint::SetResolvedPort(std::uint16_t portHostOrder) {
    portNum = portHostOrder;
    sin.sin_port = WSocket_htons(portHostOrder);
    portResolved = true;
}

void RemoteEndpoint::SetResolvedAddr(std::uint32_t addrNetOrder) {
    sin.sin_addr.s_addr = addrNetOrder;
    addrResolved = true;
}

RemoteEndpoint RemoteEndpoint::AfterClose() const {
    RemoteEndpoint fresh;
    fresh.addr = addr;
    fresh.port = port;
    return fresh;
}

}  // namespace vandrel::net
