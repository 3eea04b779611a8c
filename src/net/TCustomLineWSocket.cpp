#include "net/TCustomLineWSocket.h"

#include <climits>

#include "net/SocketWindow.h"

namespace vandrel::net {

using Outcome = LineSplitter::Outcome;

namespace {

// Redispatch passes without any buffered byte taken, after which the bytes
// wait for the next data event.
constexpr int kMaxIdlePasses = 4096;

}  // namespace

// What the splitter calls back: the owner's data hook (the layer below this
// one), the echo, the editing and the limit hook, each telling whether the
// socket survived.
class TCustomLineWSocket::LineClient final : public LineSplitter::Client {
public:
    explicit LineClient(TCustomLineWSocket& s) : m_s(s), m_life(s.Life()) {}

    Outcome Deliver() override {
        const bool handled = m_s.TCustomSocksWSocket::TriggerDataAvailable(0);
        return outcome(handled ? Outcome::Done : Outcome::NoHandler);
    }
    Outcome Echo(const std::uint8_t* data, int len) override {
        m_s.Send(data, len);
        return outcome(Outcome::Done);
    }
    Outcome ApplyLineEdit(int& newCount) override {
        m_s.ApplyLineEdit(newCount);
        return outcome(Outcome::Done);
    }
    Outcome LineLimitExceeded(int rcvdLength, bool& clearData) override {
        m_s.TriggerLineLimitExceeded(rcvdLength, clearData);
        return outcome(Outcome::Done);
    }
    void DeliverLater() override { m_s.PostRedispatch(); }

private:
    Outcome outcome(Outcome ran) const { return Alive(m_life) ? ran : Outcome::Gone; }

    TCustomLineWSocket& m_s;
    LifeToken m_life;
};

void TCustomLineWSocket::SetLineMode(bool Value) {
    if (m_lines.SetLineMode(Value)) {
        PostRedispatch();
    }
}

void TCustomLineWSocket::PostRedispatch() {
    if (Handle()) {
        Handle()->PostMessage(MSG_LINE_REDISPATCH, 0, 0);
    }
}

int TCustomLineWSocket::RcvdCount() {
    const int pending = m_lines.PendingCount();
    return pending >= 0 ? pending : TCustomSocksWSocket::RcvdCount();
}

int TCustomLineWSocket::RawReceive(void* Buffer, int BufferSize, int Flags) {
    const int n = m_lines.Read(Buffer, BufferSize);
    return n >= 0 ? n : TCustomSocksWSocket::RawReceive(Buffer, BufferSize, Flags);
}

int TCustomLineWSocket::SendLine(const std::string& Str) {
    if (Str.empty()) {
        return 0;
    }
    const std::string& end = LineEnd();
    const auto total = static_cast<long long>(Str.size()) + static_cast<long long>(end.size());
    if (end.empty()) {
        SendStr(Str);  // nothing else would start the transmission
    } else {
        QueueSendData(Str.data(), static_cast<int>(std::min<std::size_t>(Str.size(), INT_MAX)));
        SendStr(end);
    }
    return static_cast<int>(std::min<long long>(total, INT_MAX));
}

void TCustomLineWSocket::TriggerLineLimitExceeded(int RcvdLength, bool& ClearData) {
    if (OnLineLimitExceeded) {
        OnLineLimitExceeded(this, RcvdLength, ClearData);
    }
}

void TCustomLineWSocket::ApplyLineEdit(int& NewCount) {
    std::string echo;
    m_lines.EditNewBytes(NewCount, echo);
    if (!echo.empty()) {
        Send(echo.data(), static_cast<int>(echo.size()));
    }
}

bool TCustomLineWSocket::TriggerDataAvailable(Word ErrCode) {
    if (!m_lines.Active() || SocksNegotiating()) {
        return TCustomSocksWSocket::TriggerDataAvailable(ErrCode);
    }
    int received = 0;
    if (m_lines.LineLength() == 0) {  // else a kept line is delivered first
        int wanted = TCustomSocksWSocket::RcvdCount();
        if (wanted < 0) {
            return true;
        }
        if (wanted == 0) {
            wanted = 255;
        }
        std::uint8_t* room = m_lines.Reserve(wanted);
        received = Receive(room, wanted);
    }
    LineClient client(*this);
    m_lines.Received(received, client);
    return true;
}

void TCustomLineWSocket::TriggerSessionClosed(Word ErrCode) {
    const LifeToken life = Life();
    LineClient client(*this);
    m_lines.SessionClosed(client);
    if (Alive(life)) {
        TCustomSocksWSocket::TriggerSessionClosed(ErrCode);
    }
}

void TCustomLineWSocket::WndProc(SocketMessage& Msg) {
    if (Msg.Msg != MSG_LINE_REDISPATCH) {
        TCustomSocksWSocket::WndProc(Msg);
        return;
    }
    const LifeToken life = Life();
    try {
        RedispatchLines();
    } catch (const std::exception& e) {
        if (Alive(life)) {
            HandleEventException(e);
        }
    }
}

void TCustomLineWSocket::RedispatchLines() {
    const LifeToken life = Life();
    int idle = 0;
    for (int pass = 1; m_lines.BufferedCount() > 0; ++pass) {
        const int before = m_lines.BufferedCount();
        m_lines.ClearLineDelivered();
        const bool handled = TCustomLineWSocket::TriggerDataAvailable(0);
        if (!Alive(life) || m_lines.BufferedCount() == 0) {
            return;
        }
        if (m_lines.Active()) {
            if (pass >= 4 && !m_lines.LineDelivered()) {
                return;
            }
        } else if (!handled) {
            m_lines.Discard();  // nobody listens
            return;
        }
        idle = m_lines.BufferedCount() < before ? 0 : idle + 1;
        if (idle >= kMaxIdlePasses) {
            return;
        }
    }
}

}  // namespace vandrel::net
