#include "net/TCustomSocksWSocket.h"

#include <algorithm>
#include <cctype>

#include "net/SocketErrorCodes.h"
#include "net/SocketWindow.h"
#include "net/WSocketResolve.h"

namespace vandrel::net {

using Phase = SocksReplyParser::Phase;
using Action = SocksReplyParser::Action;

namespace {

std::string upperCase(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

// The exception's class name, a blank and its message.
std::string describe(const std::exception& e) {
    const char* kind = dynamic_cast<const ESocketException*>(&e) ? "ESocketException" : "Exception";
    return std::string(kind) + " " + e.what();
}

}  // namespace

// ---------------------------------------------------------------- properties

bool TCustomSocksWSocket::ClosedFor(const char* what) {
    if (State() == wsClosed) {
        return true;
    }
    ReportError(std::string("Can't change socks ") + what + " if not closed");
    return false;
}

void TCustomSocksWSocket::SetSocksServer(const std::string& value) {
    if (ClosedFor("server")) {
        m_socksServer = TrimText(value);
        m_socksServerAssigned = !m_socksServer.empty();
    }
}

void TCustomSocksWSocket::SetSocksPort(const std::string& value) {
    if (ClosedFor("port")) {
        m_socksPort = TrimText(value);
        m_socksPortAssigned = !m_socksPort.empty();
    }
}

void TCustomSocksWSocket::SetSocksLevel(const std::string& value) {
    if (!ClosedFor("level")) {
        return;
    }
    if (value != "4" && value != "5" && value != "4A" && value != "4a") {
        ReportError("Invalid socks level. Must be 4, 4A or 5.");
        return;
    }
    m_socksLevel = upperCase(value);
}

ProxyLevel TCustomSocksWSocket::Level() const {
    return m_socksLevel == "4"    ? ProxyLevel::Socks4
           : m_socksLevel == "4A" ? ProxyLevel::Socks4A
                                  : ProxyLevel::Socks5;
}

bool TCustomSocksWSocket::SocksNegotiating() const {
    return m_socks.CurrentPhase() != Phase::Data;
}

bool TCustomSocksWSocket::StillIn(Phase phase) const {
    return m_socks.CurrentPhase() == phase && HSocket() != INVALID_SOCKET;
}

void TCustomSocksWSocket::ResetDefaults() {
    TCustomWSocket::ResetDefaults();
    m_socks.Reset();
    m_socksServer.clear();
    m_socksPort.clear();
    m_socksLevel = std::string("5");  // not a literal: GCC 12 at -O3 warns falsely (-Wrestrict)
    m_socksServerAssigned = false;
    m_socksPortAssigned = false;
}

// ---------------------------------------------------------------- operations

void TCustomSocksWSocket::Connect() {
    if (m_socksServer.empty() || (HSocket() != INVALID_SOCKET && State() != wsClosed)) {
        TCustomWSocket::Connect();  // direct, or the "already in use" report
        return;
    }
    if (LowerText(Proto()) != "tcp" && TrimText(Proto()) != "6") {
        ReportError("TCP is the only protocol supported thru socks server");
        return;
    }
    const std::string refusal =
        SocksRequestRefusal(Level(), m_socksUsercode, m_socksPassword, Addr());
    if (!refusal.empty()) {
        ReportError(refusal);
        return;
    }
    try {
        if (!RemotePortResolved()) {
            SetResolvedRemotePort(static_cast<std::uint16_t>(ResolvePort(m_socksPort, Proto())));
        }
        if (!RemoteAddrResolved()) {
            SetResolvedRemoteAddr(ResolveHost(m_socksServer));
        }
        m_targetPort = static_cast<std::uint16_t>(ResolvePort(Port(), Proto()));
    } catch (const std::exception& e) {
        ReportError(std::string("Connect: ") + e.what());
        return;
    }
    m_socks.Start(Level());
    ++m_socksAttempt;
    TCustomWSocket::Connect();
}

void TCustomSocksWSocket::Listen() {
    if (!m_socksServer.empty()) {
        ReportError("Listening is not supported thru socks server");
        return;
    }
    TCustomWSocket::Listen();
}

// ---------------------------------------------------------------- handshake

void TCustomSocksWSocket::TriggerSessionConnected(Word ErrCode) {
    if (m_socks.CurrentPhase() != Phase::MethodReply) {
        TCustomWSocket::TriggerSessionConnected(ErrCode);
        return;
    }
    const LifeToken life = Life();
    TriggerSocksConnected(ErrCode);
    if (!Alive(life)) {
        return;
    }
    if (ErrCode != 0) {
        TCustomWSocket::TriggerSessionConnected(ErrCode);
        return;
    }
    if (!StillIn(Phase::MethodReply)) {
        return;  // the hook closed the socket
    }
    StartSocksDeadline();
    if (Level() != ProxyLevel::Socks5) {
        SendSocksConnectRequest();
        return;
    }
    const std::uint8_t method = m_socksAuthentication == socksAuthenticateUsercode ? 2 : 0;
    m_socks.SetOfferedMethod(method);
    SendSocksBytes(SocksMethodOffer(method));
}

void TCustomSocksWSocket::TriggerSessionClosed(Word ErrCode) {
    if (m_socks.CurrentPhase() == Phase::AuthReply) {
        const LifeToken life = Life();
        TriggerSocksAuthState(socksAuthFailure);
        if (!Alive(life)) {
            return;
        }
    }
    TCustomWSocket::TriggerSessionClosed(ErrCode);
}

bool TCustomSocksWSocket::TriggerDataAvailable(Word ErrCode) {
    if (m_socks.CurrentPhase() == Phase::Data) {
        return TCustomWSocket::TriggerDataAvailable(ErrCode);
    }
    if (ErrCode != 0) {
        SocksHandshakeFailed(ErrCode, "data receive error");
        return false;
    }
    const int n = Receive(m_socks.Tail(), m_socks.Room());
    if (n < 0) {
        return true;
    }
    return ActOnReply(m_socks.Received(n));
}

bool TCustomSocksWSocket::ActOnReply(const SocksReplyParser::Result& reply) {
    if (reply.authState >= 0) {
        const Phase phase = m_socks.CurrentPhase();
        const LifeToken life = Life();
        TriggerSocksAuthState(static_cast<TSocksAuthState>(reply.authState));
        if (!Alive(life) || !StillIn(phase)) {
            return true;
        }
    }
    const LifeToken life = Life();
    switch (reply.action) {
        case Action::Wait:
            return true;
        case Action::SendAuthRequest:
            SendSocksAuthRequest();
            return !Alive(life) || ReadBufferedReply(Phase::AuthReply);
        case Action::SendConnectRequest:
            SendSocksConnectRequest();
            return !Alive(life) || ReadBufferedReply(Phase::ConnectReply);
        case Action::Granted:
            return SocksGranted();
        case Action::Fail:
            SocksHandshakeFailed(reply.code, reply.text);
            return true;
    }
    return true;
}

bool TCustomSocksWSocket::ReadBufferedReply(Phase phase) {
    if (!StillIn(phase) || m_socks.BufferedCount() == 0) {
        return true;
    }
    return ActOnReply(m_socks.Received(0));
}

bool TCustomSocksWSocket::SocksGranted() {
    // Data that came behind a level 5 grant goes back in front of what the
    // socket holds, to be read first, even from inside OnSessionConnected.
    ReturnToReadAhead(m_socks.Leftover(), m_socks.LeftoverCount());
    m_socks.DropLeftover();
    const LifeToken life = Life();
    TriggerSessionConnected(0);
    if (!Alive(life) || HSocket() == INVALID_SOCKET) {
        return true;
    }
    return TriggerDataAvailable(0);
}

void TCustomSocksWSocket::SendSocksAuthRequest() {
    m_socks.SetPhase(Phase::AuthReply);
    const LifeToken life = Life();
    TriggerSocksAuthState(socksAuthStart);
    if (!Alive(life) || !StillIn(Phase::AuthReply)) {
        return;
    }
    const auto request = SocksAuthRequest(m_socksUsercode, m_socksPassword);
    if (!request) {
        // Changed to an over-long value after Connect checked it.
        SocksHandshakeFailed(kSocksInternalError, "socks request too long");
        return;
    }
    SendSocksBytes(*request);
}

void TCustomSocksWSocket::SendSocksConnectRequest() {
    m_socks.SetPhase(Phase::ConnectReply);
    std::uint32_t address = 0;
    if (Level() == ProxyLevel::Socks4) {
        try {
            address = ResolveHost(Addr());
        } catch (const std::exception& e) {
            SocksHandshakeFailed(kSocksResolveError, describe(e));
            return;
        }
    }
    const auto request =
        SocksConnectRequest(Level(), m_targetPort, address, m_socksUsercode, Addr());
    if (!request) {
        SocksHandshakeFailed(kSocksInternalError, "socks request too long");
        return;
    }
    SendSocksBytes(*request);
}

void TCustomSocksWSocket::SendSocksBytes(const SocksBytes& bytes) {
    try {
        Send(bytes.data(), static_cast<int>(bytes.size()));
    } catch (const std::exception&) {
        // A failed send shows as a closed connection.
    }
}

void TCustomSocksWSocket::SocksHandshakeFailed(int Code, const std::string& Msg) {
    const LifeToken life = Life();
    TriggerSocksError(Code, Msg);
    if (!Alive(life)) {
        return;
    }
    m_socks.SetPhase(Phase::Data);
    m_socks.DropLeftover();
    TriggerSessionConnected(static_cast<Word>(Code));
    if (!Alive(life)) {
        return;
    }
    CloseWithError(true, static_cast<Word>(Code));
}

// ---------------------------------------------------------------- deadline and close

void TCustomSocksWSocket::StartSocksDeadline() {
    using std::chrono::milliseconds;
    // Rounded up: a timer that ends early would cut the connect short.
    const auto left =
        std::chrono::ceil<milliseconds>(ConnectDeadline() - std::chrono::steady_clock::now());
    if (Handle()) {
        Handle()->PostMessageAfter(std::max(left, milliseconds{0}), MSG_SOCKS_TIMEOUT,
                                   static_cast<std::uintptr_t>(HSocket()), m_socksAttempt);
    }
}

void TCustomSocksWSocket::WndProc(SocketMessage& Msg) {
    if (Msg.Msg != MSG_SOCKS_TIMEOUT) {
        TCustomWSocket::WndProc(Msg);
        return;
    }
    const LifeToken life = Life();
    try {
        SocksTimedOut(Msg.LParam);
    } catch (const std::exception& e) {
        if (Alive(life)) {
            HandleEventException(e);
        }
    }
}

void TCustomSocksWSocket::SocksTimedOut(std::intptr_t attempt) {
    if (attempt == m_socksAttempt && SocksNegotiating() && HSocket() != INVALID_SOCKET) {
        SocksHandshakeFailed(WSAETIMEDOUT, "socks server did not answer in time");
    }
}

void TCustomSocksWSocket::HandleCloseEvent(Word Error) {
    if (!SocksNegotiating() || State() != wsConnected || HSocket() == INVALID_SOCKET) {
        TCustomWSocket::HandleCloseEvent(Error);
        return;
    }
    // A reply that came before the close (a refusal, say) decides first.
    const LifeToken life = Life();
    ReceiveLoop(0, ComponentOptions().Without(wsoNoReceiveLoop));
    if (!Alive(life) || HSocket() == INVALID_SOCKET) {
        return;
    }
    if (!SocksNegotiating()) {
        TCustomWSocket::HandleCloseEvent(Error);  // granted: the close is the owner's
        return;
    }
    const Phase phase = m_socks.CurrentPhase();
    if (phase == Phase::AuthReply) {
        TriggerSocksAuthState(socksAuthFailure);
        if (!Alive(life) || !StillIn(phase)) {
            return;
        }
    }
    SocksHandshakeFailed(Error != 0 ? Error : WSAECONNABORTED,
                         "socks server closed the connection");
}

// ---------------------------------------------------------------- hooks

void TCustomSocksWSocket::TriggerSocksConnected(Word ErrCode) {
    if (OnSocksConnected) {
        OnSocksConnected(this, ErrCode);
    }
}

void TCustomSocksWSocket::TriggerSocksError(int Error, const std::string& Msg) {
    if (OnSocksError) {
        OnSocksError(this, Error, Msg);
    }
}

void TCustomSocksWSocket::TriggerSocksAuthState(TSocksAuthState AuthState) {
    if (OnSocksAuthState) {
        OnSocksAuthState(this, AuthState);
    }
}

}  // namespace vandrel::net
