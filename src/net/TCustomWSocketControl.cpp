// Listening, datagrams, control operations, lookups and address queries.
#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "net/SocketErrorCodes.h"
#include "net/SocketWindow.h"
#include "net/TCustomWSocket.h"
#include "net/WSocketErrorText.h"
#include "net/WSocketResolve.h"

namespace vandrel::net {

// ---------------------------------------------------------------- listening

void TCustomWSocket::Listen() {
    const char* missing = !m_remote.portAssigned    ? "listen: port not assigned"
                          : !m_remote.protoAssigned ? "listen: protocol not assigned"
                          : !m_remote.addrAssigned  ? "listen: address not assigned"
                                                    : nullptr;
    if (missing) {
        WSocket_WSASetLastError(WSAEINVAL);
        ReportSocketError(missing);
        return;
    }
    try {
        m_remote.ResolveProtoForListen();
        m_remote.ResolvePort();
        m_remote.ResolveAddr();
    } catch (const std::exception& e) {
        ReportError(std::string("Listen: ") + e.what());
        return;
    }
    m_remote.sin.sin_family = AF_INET;
    ListenOnResolved();
}

void TCustomWSocket::ListenOnResolved() {
    DiscardSendQueue();
    m_hSocket = WSocket_socket(m_remote.addrFormat, m_remote.socketType, m_remote.protoNum);
    if (m_hSocket == INVALID_SOCKET) {
        ReportSocketError("socket");
        return;
    }
    const LifeToken life = Life();
    if (m_remote.socketType == SOCK_DGRAM && m_opts.reuseAddr) {
        const int on = -1;
        if (WSocket_setsockopt(m_hSocket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) ==
            SOCKET_ERROR) {
            ReportSocketError("setsockopt(SO_REUSEADDR)");
            if (Alive(life)) {
                Close();
            }
            return;
        }
    }
    if (WSocket_bind(m_hSocket, reinterpret_cast<const sockaddr*>(&m_remote.sin),
                     sizeof m_remote.sin) == SOCKET_ERROR) {
        ReportSocketError("Bind");
        if (Alive(life)) {
            Close();
        }
        return;
    }
    EnterState(wsBound);
    if (Alive(life) && ListenByType() && Alive(life)) {
        RegisterEvents(m_remote.socketType == SOCK_STREAM
                           ? FD_ACCEPT | FD_CLOSE
                           : FD_ACCEPT | FD_CLOSE | FD_READ | FD_WRITE);
    }
}

bool TCustomWSocket::ListenByType() {
    const LifeToken life = Life();
    if (m_remote.socketType == SOCK_STREAM) {
        if (WSocket_listen(m_hSocket, m_opts.listenBacklog) == SOCKET_ERROR) {
            ReportSocketError("Listen");
            return false;
        }
        EnterState(wsListening);
        return true;
    }
    if (m_remote.socketType == SOCK_DGRAM && m_opts.multiCast) {
        ip_mreq mreq{};
        mreq.imr_multiaddr.s_addr = WSocket_inet_addr(m_opts.multiCastAddrStr.c_str());
        mreq.imr_interface.s_addr = ResolveHost(m_remote.addr);
        if (WSocket_setsockopt(m_hSocket, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof mreq) ==
            SOCKET_ERROR) {
            ReportSocketError("setsockopt(IP_ADD_MEMBERSHIP)");
            return false;
        }
    } else if (m_remote.socketType == SOCK_RAW && m_opts.componentOptions.Contains(wsoSIO_RCVALL)) {
        const std::uint32_t in = 1;
        std::uint32_t out = 0;
        std::uint32_t returned = 0;
        if (CountedWSAIoctl(m_hSocket, SIO_RCVALL, &in, sizeof in, &out, sizeof out, &returned) ==
            SOCKET_ERROR) {
            ReportSocketError("WSAIoctl(SIO_RCVALL)");
            if (Alive(life)) {
                Close();
            }
            return false;
        }
    } else if (m_remote.socketType != SOCK_DGRAM && m_remote.socketType != SOCK_RAW) {
        ReportSocketError("Listen: unexpected protocol.");
        return false;
    }
    EnterState(wsListening);
    if (!Alive(life)) {
        return false;
    }
    EnterState(wsConnected);
    if (!Alive(life)) {
        return false;
    }
    TriggerSessionConnected(0);
    return true;
}

SocketHandle TCustomWSocket::Accept() {
    if (m_state != wsListening) {
        WSocket_WSASetLastError(WSAEINVAL);
        ReportSocketError("not a listening socket");
        return INVALID_SOCKET;
    }
    int len = sizeof m_remote.sin;
    m_aSocket = WSocket_accept(m_hSocket, reinterpret_cast<sockaddr*>(&m_remote.sin), &len);
    if (m_window) {
        m_window->NoteAccepted();
    }
    if (m_aSocket == INVALID_SOCKET) {
        ReportSocketError("Accept");
        return INVALID_SOCKET;
    }
    return m_aSocket;
}

void TCustomWSocket::Dup(SocketHandle NewHSocket) {
    if (NewHSocket == 0 || NewHSocket == INVALID_SOCKET) {
        WSocket_WSASetLastError(WSAEINVAL);
        ReportSocketError("Dup");
        return;
    }
    const LifeToken life = Life();
    if (m_state != wsClosed) {
        if (CloseHandle() == SOCKET_ERROR) {
            ReportSocketError("Dup (closesocket)");
            return;
        }
        m_hSocket = INVALID_SOCKET;
        EnterState(wsClosed);
        if (!Alive(life)) {
            return;
        }
    }
    m_hSocket = NewHSocket;
    DiscardReadAhead();
    m_sendBlocked = false;
    DupConnected();
}

void TCustomWSocket::DupConnected() {
    int optlen = sizeof m_sndBufSize;
    if (CountedGetsockopt(m_hSocket, SOL_SOCKET, SO_SNDBUF, &m_sndBufSize, &optlen) ==
        SOCKET_ERROR) {
        ReportSocketError("getsockopt(SO_SNDBUF)");
        return;
    }
    optlen = sizeof m_rcvBufSize;
    if (CountedGetsockopt(m_hSocket, SOL_SOCKET, SO_RCVBUF, &m_rcvBufSize, &optlen) ==
        SOCKET_ERROR) {
        ReportSocketError("getsockopt(SO_RCVBUF)");
        return;
    }
    if (!ApplyLinger() || !RegisterEvents(FD_READ | FD_WRITE | FD_CLOSE)) {
        return;
    }
    EnterState(wsConnected);
}

// ---------------------------------------------------------------- datagrams

int TCustomWSocket::SendTo(const sockaddr* Dest, int DestLen, const void* Data, int Len) {
    sockaddr_storage to{};
    std::memcpy(&to, Dest, static_cast<std::size_t>(std::clamp<int>(DestLen, 0, sizeof to)));
    const int result = WSocket_sendto(m_hSocket, Data, Len, m_opts.sendFlags,
                                      reinterpret_cast<const sockaddr*>(&to), DestLen);
    NoteSendResult(result, static_cast<std::size_t>(std::max(Len, 0)));
    if (result > 0) {
        const LifeToken life = Life();
        if (OnSendData) {
            OnSendData(this, result);
            if (!Alive(life)) {
                return result;
            }
        }
        if (m_allSent && m_remote.socketType == SOCK_DGRAM && m_window) {
            m_window->PostMessage(MSG_SOCKET_EVENT, static_cast<std::uintptr_t>(m_hSocket),
                                  FD_WRITE);
        }
    }
    return result;
}

int TCustomWSocket::ReceiveFrom(void* Buffer, int BufferSize, sockaddr* From, int& FromLen) {
    const int n = WSocket_recvfrom(m_hSocket, Buffer, BufferSize, 0, From, &FromLen);
    if (m_window) {
        m_window->NoteReceived();
    }
    if (n < 0) {
        m_lastError = WSocket_WSAGetLastError();
    } else {
        m_readCount += n;
    }
    return n;
}

// ---------------------------------------------------------------- control

void TCustomWSocket::Pause() {
    m_paused = true;
    WSocket_WSAAsyncSelect(m_hSocket, m_window.get(), MSG_SOCKET_EVENT, 0);
}

void TCustomWSocket::Resume() {
    m_paused = false;
    WSocket_WSAAsyncSelect(m_hSocket, m_window.get(), MSG_SOCKET_EVENT, m_selectEvent);
}

void TCustomWSocket::DetachFromThread() {
    if (m_window && m_window->ThreadId() != std::this_thread::get_id()) {
        ReportError("Cannot detach from other thread");
        return;
    }
    if (m_hSocket != INVALID_SOCKET && m_window) {
        WSocket_WSAAsyncSelect(m_hSocket, m_window.get(), MSG_SOCKET_EVENT, 0);
    }
    DestroyHiddenWindow();
}

void TCustomWSocket::AttachToThread() {
    if (m_window) {
        ReportError("Cannot attach when not detached");
        return;
    }
    CreateHiddenWindow();
    if (m_hSocket != INVALID_SOCKET &&
        WSocket_WSAAsyncSelect(m_hSocket, m_window.get(), MSG_SOCKET_EVENT, m_selectEvent) ==
            SOCKET_ERROR) {
        ReportSocketError("WSAAsyncSelect");
    }
}

void TCustomWSocket::PumpMessages() {
    m_terminated = !SocketWindow::ProcessPendingMessages(m_opts.multiThreaded) || m_terminated;
}

void TCustomWSocket::DrainUntilClosed() {
    const LifeToken life = Life();
    while (m_hSocket != INVALID_SOCKET && m_state != wsClosed) {
        PumpMessages();
        if (!Alive(life) || m_hSocket == INVALID_SOCKET) {
            return;
        }
        const int pending = PendingByteCount();
        if (pending < 0) {
            return;
        }
        if (pending > 0) {
            TriggerDataAvailable(0);
            if (!Alive(life) || m_hSocket == INVALID_SOCKET) {
                return;
            }
        }
        char none = 0;
        if (RawReceive(&none, 0, 0) <= 0) {
            m_lastError = WSocket_WSAGetLastError();
            if (m_lastError != WSAEWOULDBLOCK) {
                return;
            }
        }
        PumpMessages();
        if (!Alive(life)) {
            return;
        }
    }
}

// ---------------------------------------------------------------- addresses

// The peer address of a connected socket; false (after a report when the
// library query fails) otherwise.
bool TCustomWSocket::QueryPeer(sockaddr_in& peer, const char* Operation) {
    if (m_state != wsConnected) {
        return false;
    }
    int len = sizeof peer;
    if (WSocket_getpeername(m_hSocket, reinterpret_cast<sockaddr*>(&peer), &len) == SOCKET_ERROR) {
        ReportSocketError(Operation);
        return false;
    }
    return true;
}

std::string TCustomWSocket::GetPeerAddr() {
    sockaddr_in peer{};
    return QueryPeer(peer, "GetPeerAddr") ? WSocket_inet_ntoa(peer.sin_addr) : "error";
}

std::string TCustomWSocket::GetPeerPort() {
    sockaddr_in peer{};
    return QueryPeer(peer, "GetPeerPort") ? std::to_string(WSocket_ntohs(peer.sin_port)) : "error";
}

int TCustomWSocket::GetPeerName(sockaddr* Name, int NameLen) {
    if (m_state != wsConnected) {
        return -1;
    }
    return WSocket_getpeername(m_hSocket, Name, &NameLen);
}

int TCustomWSocket::GetSockName(sockaddr* Name, int& NameLen) {
    return WSocket_getsockname(m_hSocket, Name, &NameLen);
}

// The local address of a bound, connected or listening socket.
bool TCustomWSocket::QueryBound(sockaddr_in& local) {
    if (m_state != wsBound && m_state != wsConnected && m_state != wsListening) {
        return false;
    }
    int len = sizeof local;
    return WSocket_getsockname(m_hSocket, reinterpret_cast<sockaddr*>(&local), &len) !=
           SOCKET_ERROR;
}

std::string TCustomWSocket::BoundAddr() {
    sockaddr_in local{};
    return QueryBound(local) ? WSocket_inet_ntoa(local.sin_addr) : "error";
}

std::string TCustomWSocket::BoundPort() {
    sockaddr_in local{};
    return QueryBound(local) ? std::to_string(WSocket_ntohs(local.sin_port)) : "error";
}

// ---------------------------------------------------------------- lookups

void TCustomWSocket::StartLookup(unsigned msg, std::function<void(NameLookup::Job&)> work) {
    m_lookup.Start(m_window->MakePoster(), msg, std::move(work));
}

void TCustomWSocket::RejectLookup(const char* text) {
    const LifeToken life = Life();
    ReportError(text);
    if (Alive(life)) {
        TriggerDnsLookupDone(WSAEINVAL);
    }
}

void TCustomWSocket::DnsLookup(const std::string& HostName) {
    if (HostName.empty()) {
        RejectLookup("DNS lookup: invalid host name.");
        return;
    }
    m_lookup.Clear();
    if (IsDottedAddress(HostName)) {
        const std::uint32_t addr = WSocket_inet_addr(TrimText(HostName).c_str());
        if (addr != INADDR_NONE) {
            in_addr in{};
            in.s_addr = addr;
            m_lookup.SetResults({WSocket_inet_ntoa(in)});
            TriggerDnsLookupDone(0);
            return;
        }
    }
    if (!m_window) {
        ReportError("DNS Lookup: Window not assigned");
        return;
    }
    StartLookup(MSG_NAME_LOOKUP, [name = HostName](NameLookup::Job& job) {
        job.error = NameLookup::AddressesOf(name, job.results);
    });
}

bool TCustomWSocket::PrepareReverseLookup(const std::string& HostAddr, std::uint32_t& addr) {
    if (HostAddr.empty() || HostAddr.size() > 256) {
        RejectLookup("Reverse DNS Lookup: Invalid host name.");
        return false;
    }
    m_lookup.Clear();
    addr = WSocket_inet_addr(HostAddr.c_str());
    return true;
}

void TCustomWSocket::ReverseDnsLookup(const std::string& HostAddr) {
    std::uint32_t addr = 0;
    if (!PrepareReverseLookup(HostAddr, addr)) {
        return;
    }
    if (!m_window) {
        ReportError("Reverse DNS Lookup: Window not assigned");
        return;
    }
    StartLookup(MSG_ADDR_LOOKUP, [addr](NameLookup::Job& job) {
        job.error = NameLookup::NamesOf(addr, job.results);
    });
}

void TCustomWSocket::ReverseDnsLookupBlocking(const std::string& HostAddr) {
    std::uint32_t addr = 0;
    if (!PrepareReverseLookup(HostAddr, addr)) {
        return;
    }
    std::vector<std::string> names;
    const int error = NameLookup::NamesOf(addr, names);
    if (error == 0) {
        m_lookup.SetResults(std::move(names));
    }
    TriggerDnsLookupDone(static_cast<Word>(error));
}

void TCustomWSocket::CancelLookup() {
    if (!m_lookup.Pending()) {
        return;
    }
    // The worker cannot be stopped; its completion no longer matches a handle.
    m_lookup.Forget();
    if (!m_destroying) {
        TriggerDnsLookupDone(WSAEINTR);
    }
}

void TCustomWSocket::LookupDone(SocketMessage& Msg) {
    const Word error = static_cast<Word>((Msg.LParam >> 16) & 0xFFFF);
    // Name lookups give the addresses, reverse lookups the name and aliases.
    if (m_lookup.Complete(Msg.WParam, error)) {
        TriggerDnsLookupDone(error);
    }
}

}  // namespace vandrel::net
