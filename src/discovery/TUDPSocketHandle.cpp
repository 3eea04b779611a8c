#include "discovery/TUDPSocketHandle.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "discovery/TSocketStack.h"
#include "discovery/UDPErrors.h"
#include "net/SocketErrorCodes.h"

namespace vandrel::discovery {

namespace {

sockaddr_in MakeAddress(const std::string& ip, int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (ip.empty()) {
        address.sin_addr.s_addr = htonl(INADDR_ANY);
    } else if (!TSocketStack::FromDotted(ip, address.sin_addr)) {
        throw EUDPSocketError(net::WSAEINVAL);
    }
    return address;
}

}  // namespace

TUDPSocketHandle::~TUDPSocketHandle() {
    CloseSocket();
}

void TUDPSocketHandle::SetPeer(std::string ip, int port) {
    m_peerIP = std::move(ip);
    m_peerPort = port;
}

void TUDPSocketHandle::AllocateSocket() {
    if (m_allocated) {
        CloseSocket();
        Reset();
    }
    const int handle = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (handle < 0) {
        throw EUDPError(RSCannotAllocateSocket);
    }
    m_handle = handle;
    m_allocated = true;
}

bool TUDPSocketHandle::TryBind(const std::string& ip, int port) {
    const sockaddr_in address = MakeAddress(ip, port);
    return ::bind(m_handle, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

void TUDPSocketHandle::Bind() {
    if (m_port != 0 || m_clientPortMin == 0 || m_clientPortMax == 0) {
        if (!TryBind(m_ip, m_port)) {
            const int error = TSocketStack::WSGetLastError();
            if (error == net::WSAEADDRINUSE) {
                throw EUDPError(RSCouldNotBindSocket);
            }
            throw EUDPSocketError(error);
        }
    } else {
        if (m_clientPortMax < m_clientPortMin) {
            throw EUDPError(FormatPortRange(RSInvalidPortRange, m_clientPortMin, m_clientPortMax));
        }
        bool bound = false;
        for (int port = m_clientPortMax; port >= m_clientPortMin && !bound; --port) {
            bound = TryBind(m_ip, port);
        }
        if (!bound) {
            throw EUDPError(FormatPortRange(RSCannotBindRange, m_clientPortMin, m_clientPortMax));
        }
    }
    UpdateBindingLocal();
}

void TUDPSocketHandle::UpdateBindingLocal() {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    TSocketStack::CheckForSocketError(
        ::getsockname(m_handle, reinterpret_cast<sockaddr*>(&address), &length));
    m_ip = TSocketStack::ToDotted(address.sin_addr);
    m_port = ntohs(address.sin_port);
}

void TUDPSocketHandle::SetBroadcastFlag(bool enabled) {
    const int value = enabled ? -1 : 0;
    TSocketStack::CheckForSocketError(
        ::setsockopt(m_handle, SOL_SOCKET, SO_BROADCAST, &value, sizeof value));
}

std::size_t TUDPSocketHandle::SendTo(const std::string& ip, int port, const void* data,
                                     std::size_t count) {
    const sockaddr_in address = MakeAddress(ip, port);
    ssize_t sent;
    do {
        sent = ::sendto(m_handle, data, count, MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (sent < 0 && errno == EINTR);
    return static_cast<std::size_t>(TSocketStack::CheckForSocketError(static_cast<int>(sent)));
}

void TUDPSocketHandle::CloseSocket() {
    if (!m_allocated) {
        return;
    }
    m_allocated = false;
    ::shutdown(m_handle, SHUT_WR);
    ::close(m_handle);
}

void TUDPSocketHandle::Reset(bool resetLocal) {
    m_allocated = false;
    m_handle = -1;
    m_peerIP.clear();
    m_peerPort = 0;
    if (resetLocal) {
        m_ip.clear();
        m_port = 0;
    }
}

}  // namespace vandrel::discovery
