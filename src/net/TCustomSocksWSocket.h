#pragma once

// SOCKS proxy client layer. With SocksServer set, Connect connects to the
// proxy instead of Addr:Port and runs the proxy's handshake (level 4, 4A or 5,
// with user name and password at level 5) inside the socket's own
// notifications; the owner's OnSessionConnected follows the proxy's grant,
// and afterwards the connection carries the owner's data unchanged. With
// SocksServer empty every operation passes straight through. Every close
// clears SocksServer and SocksPort and sets SocksLevel back to "5".
//
// Event order of a level 5 connection with authentication: OnSocksConnected(0),
// OnSocksAuthState(socksAuthStart), OnSocksAuthState(socksAuthSuccess),
// OnSessionConnected(0), then OnDataAvailable(0) for data that came with the
// grant; that data is read (and counted by RcvdCount) before anything else. A failed handshake
// fires OnSocksError(code, text), then OnSessionConnected(code), then closes with that code
// (OnSessionClosed(code)). The codes (20001-20017) are in SocksReplyParser.h. State is wsConnected
// from the TCP connection to the proxy on, so Send works during the handshake.
//
// The handshake shares the connect's deadline (ConnectTimeout from Connect): a
// proxy that has not granted the connection by then fails it with 10060
// (WSAETIMEDOUT). A proxy that closes the connection during the handshake
// fails it with 10053 (WSAECONNABORTED), or with the close's own error (10054
// for a reset); bytes it sent before the close are read first.

#include "net/SocksReplyParser.h"
#include "net/TCustomWSocket.h"

namespace vandrel::net {

// Posted to the socket's own target when the connect's deadline has passed;
// lParam tells which connect it was set for.
inline constexpr unsigned MSG_SOCKS_TIMEOUT = WM_USER_BASE + 21;  // 1045

enum TSocksAuthentication { socksNoAuthentication, socksAuthenticateUsercode };
// Authentication progress, by ordinal: starts, succeeded, failed (the
// connection closed while authenticating), not required although offered.
enum TSocksAuthState { socksAuthStart, socksAuthSuccess, socksAuthFailure, socksAuthNotRequired };

using TSocksErrorEvent = std::function<void(TObject* Sender, int Error, const std::string& Msg)>;
using TSocksAuthStateEvent = std::function<void(TObject* Sender, TSocksAuthState AuthState)>;

class TCustomSocksWSocket : public TCustomWSocket {
public:
    TCustomSocksWSocket() = default;
    ~TCustomSocksWSocket() override = default;

    // ---- properties (the server, port and level only while closed) ----
    const std::string& SocksServer() const { return m_socksServer; }
    virtual void SetSocksServer(const std::string& value);
    const std::string& SocksPort() const { return m_socksPort; }
    virtual void SetSocksPort(const std::string& value);
    // "4", "4A" or "5"; "4a" is stored upper-cased, anything else refused.
    const std::string& SocksLevel() const { return m_socksLevel; }
    void SetSocksLevel(const std::string& value);
    const std::string& SocksUsercode() const { return m_socksUsercode; }
    void SetSocksUsercode(const std::string& value) { m_socksUsercode = value; }
    const std::string& SocksPassword() const { return m_socksPassword; }
    void SetSocksPassword(const std::string& value) { m_socksPassword = value; }
    TSocksAuthentication SocksAuthentication() const { return m_socksAuthentication; }
    void SetSocksAuthentication(TSocksAuthentication value) { m_socksAuthentication = value; }
    // The address and port a level 5 proxy reported with its grant.
    const std::string& SocksBoundAddr() const { return m_socks.BoundAddr(); }
    const std::string& SocksBoundPort() const { return m_socks.BoundPort(); }

    // ---- events ----
    TSessionConnected OnSocksConnected;  // TCP connection to the proxy finished
    TSocksErrorEvent OnSocksError;       // the handshake failed
    TSocksAuthStateEvent OnSocksAuthState;

    // User codes, passwords and host names longer than 255 bytes (or holding
    // a zero byte at level 4/4A) are refused here with a "Connect: ..." text.
    void Connect() override;
    // Refused with "Listening is not supported thru socks server" while
    // SocksServer is set.
    void Listen() override;

protected:
    virtual void TriggerSocksConnected(Word ErrCode);
    virtual void TriggerSocksError(int Error, const std::string& Msg);
    // True while the handshake with the proxy runs.
    bool SocksNegotiating() const;

    void ResetDefaults() override;
    void WndProc(SocketMessage& Msg) override;
    void HandleCloseEvent(Word Error) override;
    bool TriggerDataAvailable(Word ErrCode) override;
    void TriggerSessionConnected(Word ErrCode) override;
    void TriggerSessionClosed(Word ErrCode) override;

private:
    // True while closed; otherwise refuses the change of the named setting.
    bool ClosedFor(const char* what);
    ProxyLevel Level() const;
    void TriggerSocksAuthState(TSocksAuthState AuthState);
    void SendSocksAuthRequest();
    void SendSocksConnectRequest();
    void SendSocksBytes(const SocksBytes& bytes);
    void SocksHandshakeFailed(int Code, const std::string& Msg);
    bool ActOnReply(const SocksReplyParser::Result& reply);
    // Reads what the last read brought behind the previous reply, once the
    // request for the given phase is out.
    bool ReadBufferedReply(SocksReplyParser::Phase phase);
    bool SocksGranted();
    // From the TCP connection to the proxy: the rest of the connect's time.
    void StartSocksDeadline();
    void SocksTimedOut(std::intptr_t attempt);
    // Still connected to the proxy in the handshake phase it had.
    bool StillIn(SocksReplyParser::Phase phase) const;

    SocksReplyParser m_socks;
    std::string m_socksServer;
    std::string m_socksLevel = "5";
    std::string m_socksPort;
    bool m_socksPortAssigned = false;
    bool m_socksServerAssigned = false;
    std::string m_socksUsercode;
    std::string m_socksPassword;
    TSocksAuthentication m_socksAuthentication = socksNoAuthentication;
    std::uint16_t m_targetPort = 0;
    // Counts the connects through a proxy, so that a deadline set for an
    // earlier one is told apart.
    std::intptr_t m_socksAttempt = 0;
};

}  // namespace vandrel::net
