// The data path: send queue, sending, receiving and the receive loop.
#include <poll.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "net/SocketErrorCodes.h"
#include "net/TCustomWSocket.h"
#include "net/TSocketWindow.h"
#include "net/WSocketErrorText.h"

namespace vandrel::net {

namespace {

// Rounds of the receive loop per notification. A handler that reads on every
// call re-arms the read notification, so the rest arrives with the next one;
// a handler that never reads cannot hang the thread.
constexpr int kMaxReceiveRounds = 4096;

// Receives smaller than this are served from one library receive of
// kReadAheadSize bytes; larger ones go to the library directly.
constexpr int kReadAheadSize = 64 * 1024;
constexpr int kReadAheadThreshold = 16 * 1024;

// Most blocks gathered into one library send.
constexpr int kMaxGather = 64;

// Drained blocks kept for reuse, so a steady stream allocates nothing.
constexpr std::size_t kMaxSpareBlocks = 64;

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
    if (m_writePosted) {
        // A write notification is already queued behind this call; it sends
        // these bytes together with any that follow in the same pass.
        return result;
    }
    const LifeToken life = Life();
    TryToSend();
    if (!Alive(life)) {
        return result;
    }
    if (m_allSent && m_window && m_hSocket != INVALID_SOCKET) {
        m_writePosted = true;
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
        m_bufList.push_back(NewBlock());
    }
    m_bufferedByteCount = static_cast<int>(
        std::min<long long>(INT_MAX, static_cast<long long>(m_bufferedByteCount) + Len));
    const auto* p = static_cast<const std::uint8_t*>(Data);
    int n = m_bufList.back()->Write(p, Len);
    while (n < Len) {
        p += n;
        Len -= n;
        m_bufList.push_back(NewBlock());
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
    if (m_sendBlocked) {
        return;  // the library is full; the write notification resumes
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
            RecycleFront();
            continue;
        }
        const bool gather = m_socketType == SOCK_STREAM && m_bufList.size() > 1;
        const int count = gather ? SendGathered() : RawSend(data, len);
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
            SendFailed(WSocket_WSAGetLastError());
            return;
        }
        if (!gather) {
            block->Remove(count);
            if (count < len) {
                m_sendBlocked = true;
                return;
            }
            continue;
        }
        ConsumeGathered(count);
        if (m_sentShort) {
            m_sendBlocked = true;
            return;
        }
    }
}

// A send error: a vanished connection closes it (OnSessionClosed with the
// code, no report); would-block waits for the write notification.
void TCustomWSocket::SendFailed(int err) {
    if (connectionGone(err)) {
        if (CheckLogOptions(loWsockErr)) {
            DebugLog(loWsockErr, Name() + " Winsock Send failed - " + WSocketErrorMessage(err));
        }
        const LifeToken life = Life();
        m_closeInvoked = true;
        Close();
        if (Alive(life)) {
            TriggerSessionClosed(static_cast<Word>(err));
        }
        return;
    }
    if (err == WSAEWOULDBLOCK) {
        m_sendBlocked = true;
        return;
    }
    ReportSocketError("TryToSend failed");
}

// Consumes a gathered send's count from the front blocks.
void TCustomWSocket::ConsumeGathered(int count) {
    while (count > 0) {
        TBuffer* front = m_bufList.front().get();
        count -= front->Remove(count);
        int rest = 0;
        front->Peek(rest);
        if (rest > 0 || m_bufList.size() == 1) {
            return;
        }
        RecycleFront();
    }
}

std::unique_ptr<TBuffer> TCustomWSocket::NewBlock() {
    if (!m_spareBlocks.empty()) {
        std::unique_ptr<TBuffer> b = std::move(m_spareBlocks.back());
        m_spareBlocks.pop_back();
        return b;
    }
    return std::make_unique<TBuffer>(m_bufSize);
}

// Removes the drained front block, keeping it for reuse.
void TCustomWSocket::RecycleFront() {
    std::unique_ptr<TBuffer> b = std::move(m_bufList.front());
    m_bufList.pop_front();
    if (m_spareBlocks.size() < kMaxSpareBlocks && b->Size() == m_bufSize) {
        int len = 0;
        if (b->Peek(len) == nullptr) {
            m_spareBlocks.push_back(std::move(b));
        }
    }
}

// Offers the queued blocks to the library in one call, as RawSend does for
// one block; OnSendData gets the total.
int TCustomWSocket::SendGathered() {
    iovec iov[kMaxGather];
    int n = 0;
    std::size_t offered = 0;
    for (const auto& b : m_bufList) {
        if (n == kMaxGather) {
            break;
        }
        int len = 0;
        const std::uint8_t* p = b->Peek(len);
        if (len > 0) {
            iov[n].iov_base = const_cast<std::uint8_t*>(p);
            iov[n].iov_len = static_cast<std::size_t>(len);
            offered += iov[n].iov_len;
            ++n;
        }
    }
    const int result = WSocket_sendv(m_hSocket, iov, n, m_sendFlags);
    m_sentShort = result >= 0 && static_cast<std::size_t>(result) < offered;
    if (result > 0 && OnSendData) {
        OnSendData(this, result);
    }
    return result;
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
    if (m_socketType != SOCK_STREAM || Flags != 0) {
        return WSocket_recv(m_hSocket, Buffer, BufferSize, Flags);
    }
    if (m_rcvAheadLen > 0) {
        return ReceiveFromReadAhead(Buffer, BufferSize);
    }
    if (BufferSize <= 0 || BufferSize >= kReadAheadThreshold || Buffer == nullptr) {
        return WSocket_recv(m_hSocket, Buffer, BufferSize, Flags);
    }
    if (!m_rcvAhead) {
        m_rcvAhead.reset(new char[kReadAheadSize]);
    }
    const int n = WSocket_recv(m_hSocket, m_rcvAhead.get(), kReadAheadSize, 0);
    if (n <= 0) {
        return n;
    }
    m_rcvAheadHead = 0;
    m_rcvAheadLen = n;
    return ReceiveFromReadAhead(Buffer, BufferSize);
}

int TCustomWSocket::ReceiveFromReadAhead(void* Buffer, int BufferSize) {
    const int n = std::min(std::max(BufferSize, 0), m_rcvAheadLen);
    if (n > 0 && Buffer != nullptr) {
        std::memcpy(Buffer, m_rcvAhead.get() + m_rcvAheadHead, static_cast<std::size_t>(n));
        m_rcvAheadHead += n;
        m_rcvAheadLen -= n;
    }
    if (m_rcvAheadLen == 0) {
        m_rcvAheadHead = 0;
    } else if (m_selectEventActive == 0) {
        // Received outside a read notification: like a library receive, this
        // re-enables the notification while data is left.
        OfferReadAhead();
    }
    return Buffer != nullptr ? n : 0;
}

// Posts a read notification for bytes held in the read-ahead, which the
// library no longer signals; once until the next read notification.
void TCustomWSocket::OfferReadAhead() {
    if (m_rcvAheadLen > 0 && !m_readAheadOffered && m_window && m_hSocket != INVALID_SOCKET) {
        m_readAheadOffered = true;
        m_window->PostMessage(MSG_SOCKET_EVENT, static_cast<std::uintptr_t>(m_hSocket), FD_READ);
    }
}

void TCustomWSocket::DiscardReadAhead() {
    m_rcvAheadHead = 0;
    m_rcvAheadLen = 0;
    m_readAheadOffered = false;
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
            if (!Alive(life) || Options.Contains(wsoNoReceiveLoop)) {
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

}  // namespace vandrel::net
