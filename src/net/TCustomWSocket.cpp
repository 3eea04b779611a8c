#include "net/TCustomWSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <climits>
#include <cstdio>

#include "net/SocketErrorCodes.h"
#include "net/SocketWindow.h"
#include "net/WSocketErrorText.h"
#include "net/WSocketResolve.h"

namespace vandrel::net {

TCustomWSocket::TCustomWSocket() : m_alive(std::make_shared<bool>(true)) {
    CreateHiddenWindow();
    ResetDefaults();
    SocketLibrary::AddSocketUser();
}

TCustomWSocket::~TCustomWSocket() {
    m_destroying = true;
    try {
        CancelLookup();
    } catch (...) {
    }
    try {
        if (m_state != wsClosed) {
            Close();
        }
    } catch (...) {
    }
    if (m_hSocket != INVALID_SOCKET) {
        // A Connect that failed part-way leaves a handle in wsClosed.
        CloseHandle();
        m_hSocket = INVALID_SOCKET;
    }
    if (m_logger) {
        m_logger->RemoveFreeNotification(this);
    }
    *m_alive = false;
    SocketLibrary::RemoveSocketUser();
    DiscardSendQueue();
    DestroyHiddenWindow();
}

// ---------------------------------------------------------------- properties

void TCustomWSocket::SetSocketLogger(TSocketLogger* logger) {
    if (m_logger == logger) {
        return;
    }
    if (m_logger) {
        m_logger->RemoveFreeNotification(this);
    }
    m_logger = logger;
    if (m_logger) {
        m_logger->AddFreeNotification(this, [this] { m_logger = nullptr; });
    }
}

void TCustomWSocket::SetAddr(const std::string& value) {
    if (m_remote.KeepsAddr(value)) {
        return;
    }
    if (m_state != wsClosed) {
        ReportError("Cannot change Addr if not closed");
        return;
    }
    m_remote.AssignAddr(value);
}

void TCustomWSocket::SetPort(const std::string& value) {
    if (m_remote.KeepsPort(value)) {
        return;
    }
    if (m_state != wsClosed) {
        ReportError("Cannot change Port if not closed");
        return;
    }
    m_remote.AssignPort(value);
}

void TCustomWSocket::SetProto(const std::string& value) {
    if (m_remote.KeepsProto(value)) {
        return;
    }
    if (m_state != wsClosed) {
        ReportError("Cannot change Proto if not closed");
        return;
    }
    m_remote.AssignProto(value);
}

void TCustomWSocket::SetLocalAddr(const std::string& value) {
    if (m_state != wsClosed) {
        ReportError("Cannot change LocalAddr if not closed");
        return;
    }
    m_localAddr = value.empty() ? "0.0.0.0" : value;
}

void TCustomWSocket::SetLocalPort(const std::string& value) {
    if (m_state != wsClosed) {
        ReportError("Cannot change LocalPort if not closed");
        return;
    }
    m_localPortStr = value;
    m_localPortResolved = false;
}

std::uint8_t TCustomWSocket::ReqVerLow() const {
    return SocketLibrary::ReqVerLow();
}
std::uint8_t TCustomWSocket::ReqVerHigh() const {
    return SocketLibrary::ReqVerHigh();
}

void TCustomWSocket::SetReqVerLow(std::uint8_t value) {
    if (value == SocketLibrary::ReqVerLow()) {
        return;
    }
    if (SocketLibrary::IsLoaded()) {
        ReportLastError("SetReqVerLow: WinSock version can't be changed now");
        return;
    }
    SocketLibrary::StoreReqVerLow(value);
}

void TCustomWSocket::SetReqVerHigh(std::uint8_t value) {
    if (value == SocketLibrary::ReqVerHigh()) {
        return;
    }
    if (SocketLibrary::IsLoaded()) {
        ReportLastError("SetReqVerHigh: WinSock version can't be changed now");
        return;
    }
    SocketLibrary::StoreReqVerHigh(value);
}

TSocketSendFlags TCustomWSocket::SendFlags() const {
    switch (m_opts.sendFlags) {
        case 0:
            return wsSendNormal;
        case MSG_OOB:
            return wsSendUrgent;
        default:
            const_cast<TCustomWSocket*>(this)->ReportError("Invalid internal SendFlags");
            return wsSendNormal;
    }
}

void TCustomWSocket::SetSendFlags(TSocketSendFlags value) {
    switch (value) {
        case wsSendNormal:
            m_opts.sendFlags = 0;
            break;
        case wsSendUrgent:
            m_opts.sendFlags = MSG_OOB;
            break;
        default:
            ReportError("Invalid SendFlags");
            break;
    }
}

int TCustomWSocket::RcvdCount() {
    unsigned long n = 0;
    if (WSocket_ioctlsocket(m_hSocket, FIONREAD, &n) == SOCKET_ERROR) {
        ReportSocketError("ioctlSocket");
        return -1;
    }
    return static_cast<int>(
        std::min<unsigned long>(INT_MAX, n + static_cast<unsigned long>(m_readAhead.Size())));
}

int TCustomWSocket::PendingByteCount() {
    if (!m_readAhead.Empty()) {
        return m_readAhead.Size();  // enough to know that the loop goes on
    }
    unsigned long n = 0;
    if (WSocket_ioctlsocket(m_hSocket, FIONREAD, &n) == SOCKET_ERROR) {
        return -1;
    }
    return static_cast<int>(std::min<unsigned long>(INT_MAX, n));
}

// ---------------------------------------------------------------- logging

bool TCustomWSocket::CheckLogOptions(TLogOption LogOption) const {
    return m_logger && static_cast<int>(LogOption) <= 15 &&
           m_logger->LogOptions().Contains(LogOption);
}

void TCustomWSocket::DebugLog(TLogOption LogOption, const std::string& Msg) {
    if (m_logger) {
        m_logger->DoDebugLog(this, LogOption, Msg);
    }
}

std::string TCustomWSocket::Identity() const {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08X",
                  static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(this) & 0xFFFFFFFFu));
    return buf;
}

// ---------------------------------------------------------------- target

void TCustomWSocket::CreateHiddenWindow() {
    std::lock_guard lock(SocketLibrary::WindowClassLock());
    m_window = std::make_unique<SocketWindow>([this](SocketMessage& msg) { WndProc(msg); });
    m_threadId = std::this_thread::get_id();
    if (!m_window) {
        ReportError("Cannot create a hidden window for TWSocket");
    }
}

void TCustomWSocket::DestroyHiddenWindow() {
    m_window.reset();
}

void TCustomWSocket::WndProc(SocketMessage& Msg) {
    const LifeToken life = Life();
    try {
        switch (Msg.Msg) {
            case MSG_SOCKET_EVENT:
                DispatchSocketEvent(Msg);
                break;
            case MSG_NAME_LOOKUP:
            case MSG_ADDR_LOOKUP:
                LookupDone(Msg);
                break;
            case MSG_CLOSE_DELAYED:
                Close();
                break;
            case MSG_RELEASE:
                delete this;
                break;
            case MSG_TEST_EXCEPTION:
                throw ESocketException("Test exception in WSocket");
            default:
                Msg.Result = 0;
                break;
        }
    } catch (const std::exception& e) {
        if (Alive(life)) {
            HandleEventException(e);
        }
    }
}

void TCustomWSocket::HandleEventException(const std::exception& E) {
    const LifeToken life = Life();
    bool canClose = true;
    if (OnBgException) {
        try {
            OnBgException(this, E, canClose);
        } catch (...) {
        }
    }
    if (canClose && Alive(life)) {
        try {
            Abort();
        } catch (...) {
        }
    }
}

void TCustomWSocket::DispatchSocketEvent(SocketMessage& Msg) {
    const long bits = static_cast<long>(Msg.LParam & 0xFFFF);
    const Word error = static_cast<Word>((Msg.LParam >> 16) & 0xFFFF);
    if (CheckLogOptions(loWsockDump)) {
        std::string text =
            "AsyncSelect CtrlSocket" + std::to_string(Msg.WParam) + ", " + std::to_string(bits);
        if (bits & FD_CONNECT)
            text += " FD_CONNECT";
        if (bits & FD_READ)
            text += " FD_READ";
        if (bits & FD_WRITE)
            text += " FD_WRITE";
        if (bits & FD_CLOSE)
            text += " FD_CLOSE";
        if (bits & FD_ACCEPT)
            text += " FD_ACCEPT";
        DebugLog(loProtSpecDump, text);
    }
    // An invalid handle never matches: a notification posted for a socket
    // that has closed since must not reach the next connection.
    if (m_hSocket == INVALID_SOCKET || static_cast<SocketHandle>(Msg.WParam) != m_hSocket ||
        m_paused) {
        return;
    }
    const LifeToken life = Life();
    using Handler = void (TCustomWSocket::*)(Word);
    const std::pair<long, Handler> order[] = {
        {FD_CONNECT, &TCustomWSocket::HandleConnectEvent},
        {FD_READ, &TCustomWSocket::HandleReadEvent},
        {FD_WRITE, &TCustomWSocket::HandleWriteEvent},
        {FD_ACCEPT, &TCustomWSocket::HandleAcceptEvent},
        {FD_CLOSE, &TCustomWSocket::HandleCloseEvent},
    };
    for (const auto& [bit, handler] : order) {
        if (bits & bit) {
            m_selectEventActive = bit;
            (this->*handler)(error);
            if (!Alive(life)) {
                return;
            }
            m_selectEventActive = 0;
        }
    }
}

// ---------------------------------------------------------------- events

void TCustomWSocket::HandleConnectEvent(Word Error) {
    if (m_state == wsConnected) {
        return;
    }
    const LifeToken life = Life();
    EnterState(wsConnected);
    if (!Alive(life)) {
        return;
    }
    TriggerSessionConnected(Error);
    if (Alive(life) && Error != 0 && m_state != wsClosed) {
        Close();
    }
}

void TCustomWSocket::HandleReadEvent(Word Error) {
    const LifeToken life = Life();
    if (m_state != wsConnected) {
        EnterState(wsConnected);
        if (!Alive(life)) {
            return;
        }
        TriggerSessionConnected(Error);
        if (!Alive(life)) {
            return;
        }
    }
    m_readAheadOffered = false;
    ReceiveLoop(Error, m_opts.componentOptions);
    if (Alive(life)) {
        OfferReadAhead();
    }
}

void TCustomWSocket::HandleWriteEvent(Word Error) {
    const LifeToken life = Life();
    m_sendBlocked = false;
    m_writePosted = false;
    TryToSend();
    // A send that found the connection gone has closed it and reported
    // OnSessionClosed; nothing was sent, so OnDataSent must not follow.
    if (Alive(life) && m_allSent && m_hSocket != INVALID_SOCKET) {
        TriggerDataSent(Error);
    }
}

void TCustomWSocket::HandleAcceptEvent(Word Error) {
    TriggerSessionAvailable(Error);
}

void TCustomWSocket::HandleCloseEvent(Word Error) {
    if (m_state == wsConnecting || m_hSocket == INVALID_SOCKET) {
        return;
    }
    const LifeToken life = Life();
    ReceiveLoop(0, m_opts.componentOptions.Without(wsoNoReceiveLoop));
    // A data handler that closed the socket has already reported the close.
    if (!Alive(life) || m_hSocket == INVALID_SOCKET) {
        return;
    }
    if (!m_closeInvoked) {
        m_closeInvoked = true;
        TriggerSessionClosed(Error);
        if (!Alive(life)) {
            return;
        }
    }
    if (m_state != wsClosed) {
        Close();
    }
}

bool TCustomWSocket::TriggerDataAvailable(Word ErrCode) {
    if (!OnDataAvailable) {
        return false;
    }
    OnDataAvailable(this, ErrCode);
    return true;
}

void TCustomWSocket::TriggerSessionAvailable(Word ErrCode) {
    if (OnSessionAvailable) {
        OnSessionAvailable(this, ErrCode);
    }
}

void TCustomWSocket::TriggerSessionConnected(Word ErrCode) {
    DoSessionConnected(ErrCode);
}

void TCustomWSocket::DoSessionConnected(Word ErrCode) {
    if (OnSessionConnected) {
        OnSessionConnected(this, ErrCode);
    }
}

void TCustomWSocket::TriggerSessionClosed(Word ErrCode) {
    if (OnSessionClosed) {
        OnSessionClosed(this, ErrCode);
    }
}

void TCustomWSocket::TriggerDataSent(Word ErrCode) {
    if (CheckLogOptions(loWsockDump)) {
        DebugLog(loWsockDump, Identity() + " TriggerDataSent " + std::to_string(m_hSocket));
    }
    if (OnDataSent) {
        OnDataSent(this, ErrCode);
    }
}

void TCustomWSocket::TriggerChangeState(TSocketState OldState, TSocketState NewState) {
    if (OnChangeState) {
        OnChangeState(this, OldState, NewState);
    }
}

void TCustomWSocket::TriggerDnsLookupDone(Word ErrCode) {
    if (OnDnsLookupDone) {
        OnDnsLookupDone(this, ErrCode);
    }
}

void TCustomWSocket::TriggerError() {
    if (OnError) {
        OnError(this);
    }
}

void TCustomWSocket::EnterState(TSocketState NewState) {
    const TSocketState old = m_state;
    m_state = NewState;
    if (old != NewState) {
        TriggerChangeState(old, NewState);
    }
}

// ---------------------------------------------------------------- reports

void TCustomWSocket::ReportError(const std::string& Msg) {
    if (OnError) {
        TriggerError();
        return;
    }
    throw ESocketException(Msg);
}

// As ReportSocketError, but the code is only quoted: it may be left over from
// an unrelated call, so it must not close this connection.
void TCustomWSocket::ReportLastError(const std::string& Operation) {
    const int code = WSocket_WSAGetLastError();
    m_lastError = code;
    ReportError(WSocketErrorText(code) + " (#" + std::to_string(code) + " in " + Operation + ")");
}

void TCustomWSocket::ReportSocketError(const std::string& Operation) {
    const int code = WSocket_WSAGetLastError();
    const std::string text =
        WSocketErrorText(code) + " (#" + std::to_string(code) + " in " + Operation + ")";
    if (code == WSAECONNRESET || code == WSAENOTCONN) {
        if (m_hSocket != INVALID_SOCKET) {
            CloseHandle();
        }
        m_hSocket = INVALID_SOCKET;
        const LifeToken life = Life();
        if (m_state != wsClosed) {
            TriggerSessionClosed(static_cast<Word>(code));
            if (!Alive(life)) {
                return;
            }
        }
        EnterState(wsClosed);
        if (!Alive(life)) {
            return;
        }
    }
    m_lastError = code;
    ReportError(text);
}

// ---------------------------------------------------------------- defaults

void TCustomWSocket::ResetDefaults() {
    m_remote = m_remote.AfterClose();
    m_localPortResolved = false;
    // Move-assigned: GCC 12 at -O3 warns falsely (-Wrestrict) on literal assignment.
    m_localPortStr = std::string("0");
    m_localAddr = std::string("0.0.0.0");
    m_opts.lingerOnOff = wsLingerOn;
    m_opts.lingerTimeout = 0;
    m_hSocket = INVALID_SOCKET;
    m_selectEvent = 0;
    m_state = wsClosed;
    DiscardReadAhead();
    m_sendBlocked = false;
    m_writePosted = false;
    m_allSent = true;
    m_paused = false;
    m_readCount = 0;
    m_closeInvoked = false;
    m_opts.flushTimeout = 60;
}

}  // namespace vandrel::net
