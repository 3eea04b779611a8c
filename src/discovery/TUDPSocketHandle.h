#pragma once

#include <cstddef>
#include <string>

namespace vandrel::discovery {

// One socket binding of the endpoint: the local address and port to bind, an optional port
// range tried when Port is 0, the socket itself, and the sender of the last datagram
// delivered through it. Owned by the endpoint's Bindings collection.
class TUDPSocketHandle {
public:
    TUDPSocketHandle() = default;
    ~TUDPSocketHandle();
    TUDPSocketHandle(const TUDPSocketHandle&) = delete;
    TUDPSocketHandle& operator=(const TUDPSocketHandle&) = delete;

    const std::string& IP() const { return m_ip; }
    void SetIP(std::string ip) { m_ip = std::move(ip); }
    int Port() const { return m_port; }
    void SetPort(int port) { m_port = port; }
    int ClientPortMin() const { return m_clientPortMin; }
    void SetClientPortMin(int port) { m_clientPortMin = port; }
    int ClientPortMax() const { return m_clientPortMax; }
    void SetClientPortMax(int port) { m_clientPortMax = port; }

    int Handle() const { return m_handle; }
    bool HandleAllocated() const { return m_allocated; }
    const std::string& PeerIP() const { return m_peerIP; }
    int PeerPort() const { return m_peerPort; }
    void SetPeer(std::string ip, int port);

    // Creates an AF_INET datagram socket, resetting the binding first if one is allocated.
    // Raises "Cannot allocate socket." on failure.
    void AllocateSocket();
    // Binds by the rules of IP, Port and the client port range, then reads the local address
    // and port back. Raises the bind texts or a socket error.
    void Bind();
    // Sets SO_BROADCAST to -1 (on) or 0 (off); raises a socket error on failure.
    void SetBroadcastFlag(bool enabled);
    // One datagram to (dotted address, port). Returns the bytes sent; raises a socket error.
    std::size_t SendTo(const std::string& ip, int port, const void* data, std::size_t count);
    // Marks the socket not allocated, shuts down its sending side and closes it.
    void CloseSocket();
    // Forgets the socket and the peer; with resetLocal also IP and Port.
    void Reset(bool resetLocal = false);

private:
    bool TryBind(const std::string& ip, int port);
    void UpdateBindingLocal();

    std::string m_ip;
    int m_port = 0;
    int m_clientPortMin = 0;
    int m_clientPortMax = 0;
    int m_handle = -1;
    bool m_allocated = false;
    std::string m_peerIP;
    int m_peerPort = 0;
};

}  // namespace vandrel::discovery
