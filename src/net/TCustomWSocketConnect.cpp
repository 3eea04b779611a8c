// Connecting, closing and the socket options applied at Connect.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>

#include "net/SocketErrorCodes.h"
#include "net/SocketWindow.h"
#include "net/TCustomWSocket.h"
#include "net/WSocketErrorText.h"
#include "net/WSocketResolve.h"

namespace vandrel::net {

namespace {

// Errors a non-blocking connect can end with at once, which the target then
// delivers as its connect notification.
bool connectOutcome(int err) {
    return err == WSAECONNREFUSED || err == WSAETIMEDOUT || err == WSAENETUNREACH ||
           err == WSAEHOSTUNREACH || err == WSAECONNRESET;
}

}  // namespace

void TCustomWSocket::Connect() {
    if (m_hSocket != INVALID_SOCKET && m_state != wsClosed) {
        ReportError("Connect: Socket already in use");
        return;
    }
    if (!m_remote.portAssigned) {
        ReportError("Connect: No Port Specified");
        return;
    }
    if (!m_remote.addrAssigned) {
        ReportError("Connect: No IP Address Specified");
        return;
    }
    if (!m_remote.protoAssigned) {
        ReportError("Connect: No Protocol Specified");
        return;
    }
    if (!ResolveForConnect()) {
        return;
    }
    DiscardSendQueue();
    if (!CreateSocket()) {
        return;
    }
    const LifeToken life = Life();
    EnterState(wsOpened);
    if (!Alive(life)) {
        return;
    }
    if (m_state != wsOpened) {
        WSocket_WSASetLastError(WSAEINVAL);
        ReportSocketError("Connect (Invalid operation in OnChangeState)");
        return;
    }
    const bool prepared =
        m_remote.socketType == SOCK_DGRAM ? PrepareDatagramSocket() : PrepareStreamSocket();
    if (!prepared || !RegisterEvents(FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE)) {
        return;
    }
    if (m_remote.socketType == SOCK_DGRAM) {
        EnterState(wsConnected);
        if (Alive(life)) {
            TriggerSessionConnected(0);
        }
        return;
    }
    if (CheckLogOptions(loWsockInfo)) {
        DebugLog(loWsockInfo, "TWSocket will connect to " +
                                  WSocket_inet_ntoa(m_remote.sin.sin_addr) + ":" +
                                  std::to_string(m_remote.portNum));
    }
    m_connectDeadline = std::chrono::steady_clock::now() + m_opts.connectTimeout;
    if (WSocket_connect(m_hSocket, reinterpret_cast<const sockaddr*>(&m_remote.sin),
                        sizeof m_remote.sin) == SOCKET_ERROR) {
        const int err = WSocket_WSAGetLastError();
        if (err != WSAEWOULDBLOCK &&
            !(connectOutcome(err) && m_window && m_window->NoteConnectFailed(m_hSocket, err))) {
            m_lastError = err;
            ReportSocketError("Connect");
            return;
        }
        if (err == WSAEWOULDBLOCK && m_window) {
            m_window->NoteConnecting(m_hSocket, m_opts.connectTimeout);
        }
    }
    EnterState(wsConnecting);
}

bool TCustomWSocket::CreateSocket() {
    if (m_hSocket != INVALID_SOCKET) {
        // Left over from a Connect that failed part-way.
        CloseHandle();
    }
    m_hSocket = WSocket_socket(m_remote.addrFormat, m_remote.socketType, m_remote.protoNum);
    if (m_hSocket == INVALID_SOCKET) {
        ReportSocketError("Connect (socket)");
        return false;
    }
    int optlen = sizeof m_sndBufSize;
    if (CountedGetsockopt(m_hSocket, SOL_SOCKET, SO_SNDBUF, &m_sndBufSize, &optlen) ==
        SOCKET_ERROR) {
        ReportSocketError("getsockopt(SO_SNDBUF)");
        return false;
    }
    optlen = sizeof m_rcvBufSize;
    if (CountedGetsockopt(m_hSocket, SOL_SOCKET, SO_RCVBUF, &m_rcvBufSize, &optlen) ==
        SOCKET_ERROR) {
        ReportSocketError("getsockopt(SO_RCVBUF)");
        return false;
    }
    return true;
}

bool TCustomWSocket::ResolveForConnect() {
    try {
        m_remote.ResolveProtoForConnect();
        m_remote.ResolvePort();
        if (!m_localPortResolved) {
            m_localPortNum =
                static_cast<std::uint16_t>(ResolvePort(m_localPortStr, m_remote.proto));
            m_localPortResolved = true;
        }
        m_remote.ResolveAddr();
    } catch (const std::exception& e) {
        ReportError(std::string("connect: ") + e.what());
        return false;
    }
    m_remote.sin.sin_family = AF_INET;
    return true;
}

bool TCustomWSocket::PrepareStreamSocket() {
    const int on = -1;
    if (WSocket_setsockopt(m_hSocket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == SOCKET_ERROR) {
        ReportSocketError("setsockopt(SO_REUSEADDR)");
        return false;
    }
    if (m_opts.componentOptions.Contains(wsoTcpNoDelay) &&
        WSocket_setsockopt(m_hSocket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == SOCKET_ERROR) {
        ReportSocketError("setsockopt(IPPROTO_TCP, TCP_NODELAY)");
        return false;
    }
    if (!ApplyLinger() || !ApplyKeepAlive()) {
        return false;
    }
    if (m_localPortNum != 0 || m_localAddr != "0.0.0.0") {
        return BindSocket();
    }
    return true;
}

bool TCustomWSocket::PrepareDatagramSocket() {
    if (!BindSocket()) {
        return false;
    }
    if (m_opts.multiCast) {
        if (m_opts.multiCastIpTTL != 1) {
            const int ttl = m_opts.multiCastIpTTL;
            if (WSocket_setsockopt(m_hSocket, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) ==
                SOCKET_ERROR) {
                ReportSocketError("setsockopt(IP_MULTICAST_TTL)");
                return false;
            }
        }
        if (m_localAddr != "0.0.0.0") {
            in_addr iface{};
            iface.s_addr = ResolveHost(m_localAddr);
            if (WSocket_setsockopt(m_hSocket, IPPROTO_IP, IP_MULTICAST_IF, &iface, sizeof iface) ==
                SOCKET_ERROR) {
                ReportSocketError("setsockopt(IP_MULTICAST_IF)");
                return false;
            }
        }
    }
    if (m_remote.sin.sin_addr.s_addr == INADDR_BROADCAST) {
        const int on = 1;
        if (WSocket_setsockopt(m_hSocket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) ==
            SOCKET_ERROR) {
            ReportSocketError("setsockopt(SO_BROADCAST)");
            return false;
        }
    }
    return true;
}

bool TCustomWSocket::RegisterEvents(long mask) {
    m_selectEvent = mask;
    if (WSocket_WSAAsyncSelect(m_hSocket, m_window.get(), MSG_SOCKET_EVENT, mask) == SOCKET_ERROR) {
        ReportSocketError("WSAAsyncSelect");
        return false;
    }
    return true;
}

bool TCustomWSocket::ApplyLinger() {
    if (m_opts.lingerOnOff == wsLingerNoSet) {
        return true;
    }
    if (m_hSocket == INVALID_SOCKET) {
        ReportError("Cannot set linger option at this time");
        return false;
    }
    linger l{};
    l.l_onoff = static_cast<int>(m_opts.lingerOnOff);
    l.l_linger = m_opts.lingerTimeout & 0xFFFF;
    if (WSocket_setsockopt(m_hSocket, SOL_SOCKET, SO_LINGER, &l, sizeof l) == SOCKET_ERROR) {
        ReportSocketError("setsockopt(SO_LINGER)");
        return false;
    }
    return true;
}

bool TCustomWSocket::ApplyKeepAlive() {
    if (m_opts.keepAliveOnOff == wsKeepAliveOff) {
        return true;
    }
    if (m_opts.keepAliveOnOff == wsKeepAliveOnSystem) {
        const int on = 1;
        if (WSocket_setsockopt(m_hSocket, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) ==
            SOCKET_ERROR) {
            ReportSocketError("setsockopt(SO_KEEPALIVE)");
            return false;
        }
        return true;
    }
    const KeepAliveValues in{1, static_cast<std::uint32_t>(m_opts.keepAliveTime),
                             static_cast<std::uint32_t>(m_opts.keepAliveInterval)};
    KeepAliveValues out{};
    std::uint32_t returned = 0;
    if (CountedWSAIoctl(m_hSocket, SIO_KEEPALIVE_VALS, &in, sizeof in, &out, sizeof out,
                        &returned) == SOCKET_ERROR) {
        ReportSocketError("WSocket_WSAIoctl(SIO_KEEPALIVE_VALS)");
        return false;
    }
    return true;
}

bool TCustomWSocket::BindSocket() {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = WSocket_htons(m_localPortNum);
    local.sin_addr.s_addr = ResolveHost(m_localAddr);
    if (WSocket_bind(m_hSocket, reinterpret_cast<const sockaddr*>(&local), sizeof local) ==
        SOCKET_ERROR) {
        ReportError("Bind socket failed - " + WSocketErrorMessage(WSocket_WSAGetLastError()));
        return false;
    }
    int len = sizeof local;
    if (WSocket_getsockname(m_hSocket, reinterpret_cast<sockaddr*>(&local), &len) == SOCKET_ERROR) {
        ReportError("Winsock get socket name failed - " +
                    WSocketErrorMessage(WSocket_WSAGetLastError()));
        return false;
    }
    m_localPortNum = WSocket_ntohs(local.sin_port);
    m_localPortStr = std::to_string(m_localPortNum);
    return true;
}

void TCustomWSocket::Close() {
    CloseWithError(true, 0);
}

void TCustomWSocket::Abort() {
    AbortWithError(0);
}

void TCustomWSocket::CloseLater() {
    if (m_window) {
        m_window->PostMessage(MSG_CLOSE_DELAYED, 0, 0);
    }
}

void TCustomWSocket::FreeLater() {
    if (m_window) {
        m_window->PostMessage(MSG_RELEASE, 0, 0);
    }
}

void TCustomWSocket::CloseWithError(bool Shut, Word Error) {
    const LifeToken life = Life();
    if (m_hSocket == INVALID_SOCKET) {
        if (m_state != wsClosed) {
            EnterState(wsClosed);
            if (Alive(life)) {
                ResetDefaults();
            }
        }
        return;
    }
    if (m_state == wsClosed) {
        // A handle without a connection (Connect failed part-way): release it.
        CloseHandle();
        m_hSocket = INVALID_SOCKET;
        return;
    }
    if (Shut) {
        Shutdown(1);
    }
    // close() does not report would-block here; the retry is bounded anyway.
    for (int attempt = 0;; ++attempt) {
        if (CloseHandle() != SOCKET_ERROR) {
            break;
        }
        const int err = WSocket_WSAGetLastError();
        if (err == WSAEWOULDBLOCK && attempt < 100) {
            PumpMessages();
            if (!Alive(life)) {
                return;
            }
            continue;
        }
        m_lastError = err;
        m_hSocket = INVALID_SOCKET;
        if (err != WSANOTINITIALISED) {
            ReportSocketError("Disconnect (closesocket)");
            return;
        }
        break;
    }
    m_hSocket = INVALID_SOCKET;
    EnterState(wsClosed);
    if (!Alive(life)) {
        return;
    }
    if (!m_destroying && !m_closeInvoked) {
        m_closeInvoked = true;
        TriggerSessionClosed(Error);
        if (!Alive(life)) {
            return;
        }
    }
    try {
        ResetDefaults();
    } catch (...) {
    }
}

void TCustomWSocket::AbortWithError(Word Error) {
    const LifeToken life = Life();
    CancelLookup();
    if (!Alive(life)) {
        return;
    }
    DiscardSendQueue();
    if (m_state == wsConnected && m_remote.protoNum == IPPROTO_TCP) {
        m_opts.lingerOnOff = wsLingerOff;
        ApplyLinger();
    }
    CloseWithError(false, Error);
}

void TCustomWSocket::Shutdown(int How) {
    if (CheckLogOptions(loWsockInfo)) {
        DebugLog(loWsockInfo, Identity() + " TCustomWSocket.Shutdown " + std::to_string(How) + " " +
                                  std::to_string(m_hSocket));
    }
    if (m_hSocket != INVALID_SOCKET) {
        WSocket_shutdown(m_hSocket, How);
    }
}

// Closes the own handle after dropping its notifications, so that none of
// them reaches a later handle of the same number.
int TCustomWSocket::CloseHandle() {
    if (m_window) {
        m_window->NoteClosing(m_hSocket);
    }
    return WSocket_closesocket(m_hSocket);
}

}  // namespace vandrel::net
