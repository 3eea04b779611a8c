#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vandrel::telnet {

// Everything the protocol needs from its owner. All calls happen synchronously inside
// Receive(); an owner may call its own send operations from any of them.
class ProtocolSink {
public:
    virtual ~ProtocolSink() = default;
    // One message for the server, to go out in one send.
    virtual void SendToServer(const std::uint8_t* data, std::size_t len) = 0;
    // The data bytes of one batch; data[len] is 0. The block lives until the call returns.
    virtual void DeliverData(const std::uint8_t* data, int len) = 0;
    virtual void EndOfRecord() = 0;
    virtual void LocalEchoNegotiated() = 0;
    // Called after WILL SEND-LOCATION went out and before Location() is read.
    virtual void SendLocRequested() = 0;
    // Called when the server asks for the terminal type, before TermType() is read.
    virtual void TermTypeRequested() = 0;
};

enum class ParserState : std::uint8_t { Data, Iac, Option, Subnegotiation };

// The client side of the telnet protocol as a byte-in, byte-out machine: strips commands
// from the data, answers option requests from the fixed table and collects the data bytes of
// a batch for one delivery. Holds the negotiated and configured texts of the session.
class TelnetProtocol {
public:
    // One more than the largest read, so a full read from an empty buffer is one delivery.
    static constexpr int kDisplaySize = 2049;
    // A subnegotiation longer than this is discarded up to its SE and then ignored, so a
    // server that never ends one cannot grow the client's memory.
    static constexpr std::size_t kMaxSubnegotiation = 4096;

    explicit TelnetProtocol(ProtocolSink& sink) : m_sink(sink) {}
    TelnetProtocol(const TelnetProtocol&) = delete;
    TelnetProtocol& operator=(const TelnetProtocol&) = delete;

    // Parses one batch of received bytes, then delivers its data bytes once.
    void Receive(const std::uint8_t* data, std::size_t len);
    void ProcessByte(std::uint8_t byte);
    void FlushBuffer();

    const std::string& Location() const { return m_location; }
    void SetLocation(std::string value) { m_location = std::move(value); }
    const std::string& TermType() const { return m_termType; }
    void SetTermType(std::string value) { m_termType = std::move(value); }
    bool LocalEcho() const { return m_localEcho; }
    void SetLocalEcho(bool value) { m_localEcho = value; }

    ParserState State() const { return m_state; }
    std::size_t SubnegotiationSize() const { return m_subLength; }
    int BufferedCount() const { return m_count; }

private:
    void AfterIac(std::uint8_t byte);
    void HandleOption(std::uint8_t verb, std::uint8_t option);
    void HandleSubnegotiation(const std::uint8_t* data, std::size_t len);
    void AppendSubnegotiation(std::uint8_t byte);
    void SendCommand(std::uint8_t verb, std::uint8_t option);
    void SendFramed(std::uint8_t option, bool withIs, const std::string& text);
    void BufferByte(std::uint8_t byte) {
        m_display[static_cast<std::size_t>(m_count++)] = byte;
        if (m_count >= kDisplaySize) {
            FlushBuffer();
        }
    }
    std::size_t BufferRun(const std::uint8_t* data, std::size_t len);

    ProtocolSink& m_sink;
    std::string m_location = "TNCNX";
    std::string m_termType = "VT100";
    bool m_localEcho = false;

    ParserState m_state = ParserState::Data;
    std::uint8_t m_verb = 0;
    bool m_subOverflow = false;
    std::size_t m_subLength = 0;
    std::array<std::uint8_t, kMaxSubnegotiation> m_sub{};

    int m_count = 0;
    std::array<std::uint8_t, kDisplaySize> m_display{};
};

}  // namespace vandrel::telnet
