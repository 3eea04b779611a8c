#pragma once

// The client's reading of a SOCKS proxy's replies. Bytes arrive in pieces of
// any size: the caller reads at most Room() bytes into Tail() and reports the
// count with Received(), which says what the client must do next. Plain byte
// code without sockets; the SOCKS layer of the socket drives it.

#include <cstdint>
#include <string>

#include "net/SocksRequest.h"

namespace vandrel::net {

// Handshake failure codes, reported through OnSocksError and then as the
// ErrCode of OnSessionConnected and OnSessionClosed. They lie outside the
// socket library's range.
inline constexpr int kSocksLogicError = 20001;  // also too much or too long a reply
inline constexpr int kSocksVersionError = 20002;
inline constexpr int kSocksMethodRefused = 20003;
inline constexpr int kSocksGeneralFailure = 20004;  // 20004..20011: level 5 replies 1..8
inline constexpr int kSocksConnectionRefused = 20008;
inline constexpr int kSocksAddressTypeError = 20011;
inline constexpr int kSocksUnassignedError = 20012;
inline constexpr int kSocksInternalError = 20013;
inline constexpr int kSocksAuthFailed = 20015;
inline constexpr int kSocksRequestRejected = 20016;
inline constexpr int kSocksResolveError = 20017;

class SocksReplyParser {
public:
    // What the client waits for; the numbers are the layer's SOCKS states.
    enum class Phase : std::uint8_t { Data = 0, MethodReply = 1, AuthReply = 2, ConnectReply = 3 };
    enum class Action { Wait, SendAuthRequest, SendConnectRequest, Granted, Fail };

    struct Result {
        Action action = Action::Wait;
        // OnSocksAuthState value to report before acting on the result, or -1.
        int authState = -1;
        int code = 0;      // for Fail
        std::string text;  // for Fail
    };

    // The reply buffer's size; a reply that would not fit fails the handshake.
    static constexpr int kBufferSize = 128;

    // Starts a handshake: waiting for the method reply, nothing buffered.
    void Start(ProxyLevel level);
    // Back to Data, with nothing buffered and no leftover.
    void Reset();
    Phase CurrentPhase() const { return m_phase; }
    // The client sets the phase when it sends a request (and Data on failure).
    void SetPhase(Phase phase) { m_phase = phase; }
    ProxyLevel Level() const { return m_level; }
    // The method the client offered (0 none, 2 user name and password).
    void SetOfferedMethod(std::uint8_t method) { m_offered = method; }
    std::uint8_t OfferedMethod() const { return m_offered; }

    // Most bytes the next read may take; 0 outside a handshake.
    int Room() const;
    std::uint8_t* Tail() { return m_buf + m_count; }
    // n bytes (at most Room()) were written at Tail(); n may be 0.
    Result Received(int n);
    // Bytes buffered and not yet part of a finished reply. After a level 5
    // method reply these may already hold (part of) the next reply: once the
    // client has sent its next request, Received(0) reads them.
    int BufferedCount() const { return m_count; }

    // After a level 5 grant: the proxy's bound address and port as text, and
    // the bytes that came behind the reply, to be read before anything else.
    const std::string& BoundAddr() const { return m_boundAddr; }
    const std::string& BoundPort() const { return m_boundPort; }
    const std::uint8_t* Leftover() const { return m_buf + m_leftoverPos; }
    int LeftoverCount() const { return m_leftoverCount; }
    void DropLeftover() { m_leftoverCount = 0; }

private:
    Result ReadMethodReply();
    Result ReadAuthReply();
    Result ReadLevel4Reply();
    Result ReadLevel5Reply();
    Result GrantLevel5();

    ProxyLevel m_level = ProxyLevel::Socks5;
    Phase m_phase = Phase::Data;
    std::uint8_t m_offered = 0;
    std::uint8_t m_buf[kBufferSize] = {};
    int m_count = 0;
    int m_leftoverPos = 0;
    int m_leftoverCount = 0;
    std::string m_boundAddr;
    std::string m_boundPort;
};

}  // namespace vandrel::net
