// The data path: send queue, sending, receiving and the receive loop.
#include <poll.h>

#include <algorithm>
#include <climits>

#include "net/SocketErrorCodes.h"
#include "net/TCustomWSocket.h"
#include "net/TSocketWindow.h"
#include "net/WSocketErrorText.h"

using namespace vandrel::net;

namespace {

// Rounds of the receive loop per notification. A handler that reads on every
// call re-arms the read notification, so the rest arrives with the next one;
// a handler that never reads cannot hang the thread.
constexpr int kMaxReceiveRounds = 4096;

bool connectionGone(int err) {
    return err == WSAECONNRESET || err == WSAENOTSOCK || err == WSAENOTCONN || err == WSAEINVAL ||
           err == WSAECONNABORTED;
}

}  // namespace

int TCustomWSocket::Send(const void* Data, int Len) {
    if (m_state != wsConnected && m_state != wsSocksConnected) {
        WSocket_WSASetLastError(WSAENOTCONN);
        ReportSocketError("Send");
        return -1;
    }
    m_allSent = false;
    int result = 0;
    if (Len > 0) {
        result = Len;
        QueueSendData(Data, Len);
    }
    if (m_allSent) {
        return result;
    }
    const LifeToken life = Life();
    TryToSend();
    if (!Alive(life)) {
        return result;
    }
    if (m_allSent && m_window && m_hSocket != INVALID_SOCKET) {
        m_window->PostMessage(MSG_SOCKET_EVENT, static_cast<std::uintptr_t>(m_hSocket), FD_WRITE);
    }
    return result;
}

int TCustomWSocket::SendStr(const std::string& Str) {
    if (Str.empty()) {
        return 0;
    }
    return Send(Str.data(), static_cast<int>(std::min<std::size_t>(Str.size(), INT_MAX)));
}

void TCustomWSocket::QueueSendData(const void* Data, int Len) {
    if (Len <= 0 || Data == nullptr) {
        return;
    }
    std::lock_guard lock(SocketLibrary::SendBufferLock());
    if (m_bufList.empty()) {
        m_bufList.push_back(std::make_unique<TBuffer>(m_bufSize));
    }
    m_bufferedByteCount = static_cast<int>(
        std::min<long long>(INT_MAX, static_cast<long long>(m_bufferedByteCount) + Len));
    const auto* p = static_cast<const std::uint8_t*>(Data);
    int n = m_bufList.back()->Write(p, Len);
    while (n < Len) {
        p += n;
        Len -= n;
        m_bufList.push_back(std::make_unique<TBuffer>(m_bufSize));
        n = m_bufList.back()->Write(p, Len);
    }
    m_allSent = false;
}

void TCustomWSocket::TryToSend() {
    std::lock_guard lock(SocketLibrary::SendBufferLock());
    if (m_hSocket == INVALID_SOCKET || m_bufList.empty()) {
        m_allSent = true;
        return;
    }
    const LifeToken life = Life();
    for (;;) {
        TBuffer* block = m_bufList.front().get();
        int len = 0;
        const std::uint8_t* data = block->Peek(len);
        if (len <= 0) {
            if (m_bufList.size() == 1) {
                m_allSent = true;
                return;
            }
            m_bufList.pop_front();
            continue;
        }
        const int count = RawSend(data, len);
        // OnSendData may have destroyed the socket or discarded the queue.
        if (!Alive(life) || m_bufList.empty() || m_bufList.front().get() != block) {
            return;
        }
        if (count > 0) {
            m_bufferedByteCount = std::max(0, m_bufferedByteCount - count);
        }
        if (count == 0) {
            return;
        }
        if (count < 0) {
            const int err = WSocket_WSAGetLastError();
            if (connectionGone(err)) {
                if (CheckLogOptions(loWsockErr)) {
                    DebugLog(loWsockErr,
                             Name() + " Winsock Send failed - " + WSocketErrorMessage(err));
                }
                m_closeInvoked = true;
                Close();
                if (Alive(life)) {
                    TriggerSessionClosed(static_cast<Word>(err));
                }
                return;
            }
            if (err != WSAEWOULDBLOCK) {
                ReportSocketError("TryToSend failed");
            }
            return;
        }
        block->Remove(count);
        if (count < len) {
            return;
        }
    }
}

int TCustomWSocket::RawSend(const void* Data, int Len) {
    int result;
    if (m_socketType == SOCK_DGRAM) {
        result = WSocket_sendto(m_hSocket, Data, Len, m_sendFlags,
                                reinterpret_cast<const sockaddr*>(&m_sin), sizeof m_sin);
    } else {
        result = WSocket_send(m_hSocket, Data, Len, m_sendFlags);
    }
    if (result > 0 && OnSendData) {
        OnSendData(this, result);
    }
    return result;
}

void TCustomWSocket::DiscardSendQueue() {
    std::lock_guard lock(SocketLibrary::SendBufferLock());
    m_bufList.clear();
    m_bufferedByteCount = 0;
}

void TCustomWSocket::Flush() {
    const LifeToken life = Life();
    while (m_hSocket != INVALID_SOCKET && !m_allSent) {
        TryToSend();
        if (!Alive(life)) {
            return;
        }
        if (m_hSocket != INVALID_SOCKET && !m_allSent) {
            // Wait briefly for room instead of spinning on would-block.
            pollfd p{m_hSocket, POLLOUT, 0};
            ::poll(&p, 1, 10);
        }
        PumpMessages();
        if (!Alive(life)) {
            return;
        }
    }
}

int TCustomWSocket::RawReceive(void* Buffer, int BufferSize, int Flags) {
    return WSocket_recv(m_hSocket, Buffer, BufferSize, Flags);
}

int TCustomWSocket::Receive(void* Buffer, int BufferSize) {
    const int n = RawReceive(Buffer, BufferSize, 0);
    if (n < 0) {
        m_lastError = WSocket_WSAGetLastError();
    } else {
        m_readCount += n;
    }
    return n;
}

std::string TCustomWSocket::ReceiveStr() {
    int n = RcvdCount();
    if (n < 0) {
        return {};
    }
    if (n == 0) {
        n = 255;
    }
    std::string s(static_cast<std::size_t>(n), '\0');
    const int r = Receive(s.data(), n);
    if (r <= 0) {
        return {};
    }
    s.resize(static_cast<std::size_t>(r));
    return s;
}

void TCustomWSocket::ReceiveLoop(Word Error, TWSocketOptions Options) {
    const LifeToken life = Life();
    try {
        for (int round = 0; round < kMaxReceiveRounds; ++round) {
            m_lastError = 0;
            if (!TriggerDataAvailable(Error)) {
                if (!Alive(life)) {
                    return;
                }
                char discard[1024];
                if (RawReceive(discard, sizeof discard, 0) == -1) {
                    m_lastError = WSocket_WSAGetLastError();
                    if (m_lastError == WSAEWOULDBLOCK) {
                        m_lastError = 0;
                        return;
                    }
                }
            }
            if (!Alive(life) || Options.contains(wsoNoReceiveLoop)) {
                return;
            }
            if (m_lastError != 0) {
                if (m_lastError == -1) {
                    m_lastError = 0;
                }
                return;
            }
            const int pending = PendingByteCount();
            if (pending < 0) {
                m_lastError = WSocket_WSAGetLastError();
                return;
            }
            if (pending == 0) {
                return;
            }
        }
    } catch (...) {
        // An exception inside the loop only ends it.
    }
}
