#include "telnet/TTnCnx.h"

#include "net/OwnedPart.h"
#include "net/SocketErrorCodes.h"

namespace vandrel::telnet {

using namespace net;

namespace {

// The Receive buffer size; the display buffer is one larger.
constexpr int kReadSize = TelnetProtocol::kDisplaySize - 1;

}  // namespace

TTnCnx::TTnCnx() {
    // Whoever destroys the socket, m_socket becomes empty with it.
    TWSocket* socket = OwnedPart<TWSocket>::Create(m_socket);
    socket->OnSessionConnected = [this](TObject* s, Word e) { SocketSessionConnected(s, e); };
    socket->OnSessionClosed = [this](TObject* s, Word e) { SocketSessionClosed(s, e); };
    socket->OnDataAvailable = [this](TObject* s, Word e) { SocketDataAvailable(s, e); };
}

TTnCnx::~TTnCnx() {
    OwnedPart<TWSocket>::Destroy(m_socket);
}

void TTnCnx::Connect() {
    if (!m_socket) {
        return;
    }
    if (m_socket->State() != wsClosed) {
        m_socket->Close();
        if (!m_socket) {
            return;  // a hook of the close destroyed the socket
        }
    }
    m_socket->SetProto("tcp");
    m_socket->SetPort(m_port);
    m_socket->SetAddr(m_host);
    m_socket->Connect();
}

void TTnCnx::Close() {
    if (m_socket) {
        m_socket->Close();
    }
}

int TTnCnx::Send(const void* Data, int Len) {
    if (!m_socket) {
        return -1;
    }
    return m_socket->Send(Data, Len);
}

int TTnCnx::SendStr(const std::string& Str) {
    return Send(Str.data(), static_cast<int>(Str.size()));
}

void TTnCnx::Display(const std::string& Str) {
    if (OnDisplay) {
        OnDisplay(this, Str);
    }
}

void TTnCnx::SocketSessionConnected(TObject*, Word ErrCode) {
    if (OnSessionConnected) {
        // A copy: the hook may destroy this connection and with it the hook.
        const TTnSessionConnected hook = OnSessionConnected;
        hook(this, ErrCode);
    }
}

void TTnCnx::SocketSessionClosed(TObject*, Word ErrCode) {
    if (m_socket && m_socket->State() != wsClosed) {
        m_socket->Close();
    }
    if (OnSessionClosed) {
        const TTnSessionClosed hook = OnSessionClosed;
        hook(this, ErrCode);
    }
}

void TTnCnx::SocketDataAvailable(TObject* Sender, Word) {
    auto* socket = dynamic_cast<TCustomWSocket*>(Sender);
    if (!socket) {
        socket = m_socket;
    }
    if (!socket) {
        return;
    }
    std::uint8_t buffer[kReadSize];
    const int n = socket->Receive(buffer, kReadSize);
    if (n == 0) {
        Display("\r\n**** Remote has closed ****\r\n");
    } else if (n < 0) {
        const int err = socket->LastError();
        if (err != vandrel::net::WSAEWOULDBLOCK) {
            Display("\r\n**** ERROR: " + std::to_string(err) + " ****\r\n");
        }
    } else {
        m_protocol.Receive(buffer, static_cast<std::size_t>(n));
    }
}

void TTnCnx::SendToServer(const std::uint8_t* data, std::size_t len) {
    Send(data, static_cast<int>(len));
}

void TTnCnx::DeliverData(const std::uint8_t* data, int len) {
    if (OnDataAvailable) {
        OnDataAvailable(this, reinterpret_cast<const char*>(data), len);
    }
}

void TTnCnx::EndOfRecord() {
    if (OnEndOfRecord) {
        OnEndOfRecord(this);
    }
}

void TTnCnx::LocalEchoNegotiated() {
    if (OnLocalEcho) {
        OnLocalEcho(this);
    }
}

void TTnCnx::SendLocRequested() {
    if (OnSendLoc) {
        OnSendLoc(this);
    }
}

void TTnCnx::TermTypeRequested() {
    if (OnTermType) {
        OnTermType(this);
    }
}

}  // namespace vandrel::telnet
