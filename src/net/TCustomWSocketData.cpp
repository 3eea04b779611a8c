// The data path: send queue, sending, receiving and the receive loop.
#include <poll.h>

#include <algorithm>
#include <climits>

#include "net/SocketErrorCodes.h"
#include "net/SocketWindow.h"
#include "net/TCustomWSocket.h"
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
    m_sendQueue.Append(Data, Len);
    m_allSent = false;
}

int TCustomWSocket::BufferedByteCount() const {
    std::lock_guard lock(SocketLibrary::SendBufferLock());
    return static_cast<int>(std::min<std::size_t>(INT_MAX, m_sendQueue.Size()));
}

void TCustomWSocket::TryToSend() {
    std::lock_guard lock(SocketLibrary::SendBufferLock());
    if (m_hSocket == INVALID_SOCKET || m_sendQueue.Empty()) {
        m_allSent = true;
        return;
    }
    if (m_sendBlocked || m_inSendCall) {
        // The library is full and the write notification resumes; or OnSendData
        // sends more while the bytes that fired it are still queued, and the
        // running loop takes the new ones after them.
        return;
    }
    const LifeToken life = Life();
    for (;;) {
        iovec front{};
        if (m_sendQueue.Gather(&front, 1) == 0) {
            m_allSent = true;
            return;
        }
        const unsigned generation = m_sendQueue.Generation();
        const bool gather = m_remote.socketType == SOCK_STREAM && m_sendQueue.BlockCount() > 1;
        int count = 0;
        {
            // Also when OnSendData raises or destroys the socket.
            struct InSendCall {
                TCustomWSocket& socket;
                const LifeToken& life;
                ~InSendCall() {
                    if (Alive(life)) {
                        socket.m_inSendCall = false;
                    }
                }
            } inSendCall{*this, life};
            m_inSendCall = true;
            count =
                gather ? SendGathered() : RawSend(front.iov_base, static_cast<int>(front.iov_len));
        }
        // OnSendData may have destroyed the socket or discarded the queue.
        if (!Alive(life) || m_sendQueue.Generation() != generation) {
            return;
        }
        if (count == 0) {
            return;
        }
        if (count < 0) {
            SendFailed(WSocket_WSAGetLastError());
            return;
        }
        m_sendQueue.Consume(static_cast<std::size_t>(count));
        if (gather ? m_sentShort : count < static_cast<int>(front.iov_len)) {
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

// Offers the queued blocks to the library in one call, as RawSend does for
// one block; OnSendData gets the total.
int TCustomWSocket::SendGathered() {
    iovec iov[kMaxGather];
    const int n = m_sendQueue.Gather(iov, kMaxGather);
    std::size_t offered = 0;
    for (int i = 0; i < n; ++i) {
        offered += iov[i].iov_len;
    }
    const int result = WSocket_sendv(m_hSocket, iov, n, m_opts.sendFlags);
    NoteSendResult(result, offered);
    m_sentShort = result >= 0 && static_cast<std::size_t>(result) < offered;
    if (result > 0 && OnSendData) {
        OnSendData(this, result);
    }
    return result;
}

int TCustomWSocket::RawSend(const void* Data, int Len) {
    int result;
    if (m_remote.socketType == SOCK_DGRAM) {
        result =
            WSocket_sendto(m_hSocket, Data, Len, m_opts.sendFlags,
                           reinterpret_cast<const sockaddr*>(&m_remote.sin), sizeof m_remote.sin);
    } else {
        result = WSocket_send(m_hSocket, Data, Len, m_opts.sendFlags);
    }
    NoteSendResult(result, static_cast<std::size_t>(std::max(Len, 0)));
    if (result > 0 && OnSendData) {
        OnSendData(this, result);
    }
    return result;
}

// A send that would block, or took only part of the bytes, means that the
// library is full: the write notification is armed for when there is room.
void TCustomWSocket::NoteSendResult(int result, std::size_t offered) {
    const bool full = result < 0 ? WSocket_WSAGetLastError() == WSAEWOULDBLOCK
                                 : static_cast<std::size_t>(result) < offered;
    if (full && m_window) {
        m_window->NoteSendBlocked();
    }
}

void TCustomWSocket::DiscardSendQueue() {
    std::lock_guard lock(SocketLibrary::SendBufferLock());
    m_sendQueue.Clear();
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
    if (m_remote.socketType != SOCK_STREAM || Flags != 0) {
        return LibraryReceive(Buffer, BufferSize, Flags);
    }
    if (!m_readAhead.Empty()) {
        return ReceiveFromReadAhead(Buffer, BufferSize);
    }
    if (BufferSize <= 0 || BufferSize >= kReadAheadThreshold || Buffer == nullptr) {
        return LibraryReceive(Buffer, BufferSize, Flags);
    }
    const int n = LibraryReceive(m_readAhead.Space(kReadAheadSize), kReadAheadSize, 0);
    if (n <= 0) {
        return n;
    }
    m_readAhead.Commit(n);
    return ReceiveFromReadAhead(Buffer, BufferSize);
}

// Like the library it stands for, a receive re-enables the read notification.
int TCustomWSocket::LibraryReceive(void* Buffer, int BufferSize, int Flags) {
    const int n = WSocket_recv(m_hSocket, Buffer, BufferSize, Flags);
    if (m_window) {
        m_window->NoteReceived();
    }
    return n;
}

int TCustomWSocket::ReceiveFromReadAhead(void* Buffer, int BufferSize) {
    const int n = m_readAhead.Read(Buffer, BufferSize);
    if (!m_readAhead.Empty() && m_selectEventActive == 0) {
        // Received outside a read notification: like a library receive, this
        // re-enables the notification while data is left.
        OfferReadAhead();
    }
    return n;
}

// Posts a read notification for bytes held in the read-ahead, which the
// library no longer signals; once until the next read notification.
void TCustomWSocket::OfferReadAhead() {
    if (!m_readAhead.Empty() && !m_readAheadOffered && m_window && m_hSocket != INVALID_SOCKET) {
        m_readAheadOffered = true;
        m_window->PostMessage(MSG_SOCKET_EVENT, static_cast<std::uintptr_t>(m_hSocket), FD_READ);
    }
}

void TCustomWSocket::ReturnToReadAhead(const void* Data, int Len) {
    m_readAhead.Prepend(Data, Len);
}

void TCustomWSocket::DiscardReadAhead() {
    m_readAhead.Clear();
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
