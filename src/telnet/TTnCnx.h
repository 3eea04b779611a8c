#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "net/TObject.h"
#include "net/TWSocket.h"
#include "telnet/TelnetProtocol.h"

namespace vandrel::telnet {

class TTnCnx;

using TTnSessionConnected = std::function<void(TTnCnx* Sender, net::Word Error)>;
using TTnSessionClosed = std::function<void(TTnCnx* Sender, net::Word Error)>;
// Buffer holds Len data bytes followed by a 0 byte; it is valid until the hook returns.
using TTnDataAvailable = std::function<void(TTnCnx* Sender, const char* Buffer, int Len)>;
using TTnDisplay = std::function<void(TTnCnx* Sender, const std::string& Str)>;

// The client side of a telnet session over one TWSocket that the connection owns.
//
// Received bytes go through the telnet protocol machine: option requests are answered
// from the fixed table, the terminal-type and location subnegotiations are answered, and
// the remaining data bytes reach OnDataAvailable once per receive event. The connection
// never starts a negotiation itself.
//
// Hooks run on the socket's thread from inside the socket's events and only when assigned.
// A hook may call Send or SendStr (the bytes go out between the replies in call order) and
// may change Location or TermType for the reply that follows. A hook must not destroy the
// connection while it is parsing (OnDataAvailable, OnSendLoc, OnTermType, OnLocalEcho,
// OnEndOfRecord); use a deferred deletion. OnSessionConnected and OnSessionClosed are the
// last thing their event does, so the connection may be destroyed from there.
//
// The socket may also be destroyed by someone else (FreeLater, delete): the connection then
// forgets it, Connect and Close do nothing and Send returns -1.
class TTnCnx : public net::TObject, private ProtocolSink {
public:
    TTnCnx();
    ~TTnCnx() override;

    // Service of the server: a decimal port or a service name; "23" by default.
    const std::string& Port() const { return m_port; }
    void SetPort(const std::string& value) { m_port = value; }
    const std::string& Host() const { return m_host; }
    void SetHost(const std::string& value) { m_host = value; }
    // Sent in the SEND-LOCATION subnegotiation; "TNCNX" by default.
    const std::string& Location() const { return m_protocol.Location(); }
    void SetLocation(const std::string& value) { m_protocol.SetLocation(value); }
    // Sent as the terminal type; "VT100" by default.
    const std::string& TermType() const { return m_protocol.TermType(); }
    void SetTermType(const std::string& value) { m_protocol.SetTermType(value); }
    // True once the server said it will not echo (WONT ECHO); false after WILL ECHO.
    bool LocalEcho() const { return m_protocol.LocalEcho(); }
    void SetLocalEcho(bool value) { m_protocol.SetLocalEcho(value); }

    // The owned socket, or nullptr once it has been destroyed.
    net::TWSocket* Socket() const { return m_socket; }

    // Closes an open socket, then connects to Host:Port. Socket exceptions pass to the
    // caller; the result arrives later through OnSessionConnected.
    void Connect();
    void Close();
    // The socket's Send result, or -1 without a socket. Bytes go out as they are: 255 is
    // not doubled and line ends are not translated.
    int Send(const void* Data, int Len);
    int SendStr(const std::string& Str);

    TTnSessionConnected OnSessionConnected;
    TTnSessionClosed OnSessionClosed;
    TTnDataAvailable OnDataAvailable;
    // Status texts: the remote close and receive errors.
    TTnDisplay OnDisplay;
    net::TNotifyEvent OnEndOfRecord;
    // After WILL SEND-LOCATION went out, before Location is read and sent.
    net::TNotifyEvent OnSendLoc;
    // When the server asks for the terminal type, before TermType is read.
    net::TNotifyEvent OnTermType;
    // After any WILL, WONT, DO or DONT for ECHO has been handled.
    net::TNotifyEvent OnLocalEcho;

    // The protocol state, for inspection.
    const TelnetProtocol& Protocol() const { return m_protocol; }

private:
    void Display(const std::string& Str);
    void SocketSessionConnected(net::TObject* Sender, net::Word ErrCode);
    void SocketSessionClosed(net::TObject* Sender, net::Word ErrCode);
    void SocketDataAvailable(net::TObject* Sender, net::Word ErrCode);

    // ProtocolSink
    void SendToServer(const std::uint8_t* data, std::size_t len) override;
    void DeliverData(const std::uint8_t* data, int len) override;
    void EndOfRecord() override;
    void LocalEchoNegotiated() override;
    void SendLocRequested() override;
    void TermTypeRequested() override;

    std::string m_port = "23";
    std::string m_host;
    TelnetProtocol m_protocol{*this};
    net::TWSocket* m_socket = nullptr;
};

}  // namespace vandrel::telnet
