#include "telnet/TelnetProtocol.h"

#include <cstring>
#include <vector>

#include "telnet/TelnetCodes.h"

namespace vandrel::telnet {

void TelnetProtocol::Receive(const std::uint8_t* data, std::size_t len) {
    std::size_t i = 0;
    while (i < len) {
        if (m_state == ParserState::Data && data[i] != kIac) {
            i += BufferRun(data + i, len - i);
        } else {
            ProcessByte(data[i++]);
        }
    }
    FlushBuffer();
}

// Copies plain data up to the next IAC in one go; the same result as byte by byte.
std::size_t TelnetProtocol::BufferRun(const std::uint8_t* data, std::size_t len) {
    const void* iac = std::memchr(data, kIac, len);
    std::size_t run =
        iac ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(iac) - data) : len;
    const std::size_t room = static_cast<std::size_t>(kDisplaySize - m_count);
    if (run > room) {
        run = room;
    }
    std::memcpy(m_display.data() + m_count, data, run);
    m_count += static_cast<int>(run);
    if (m_count >= kDisplaySize) {
        FlushBuffer();
    }
    return run;
}

void TelnetProtocol::ProcessByte(std::uint8_t byte) {
    switch (m_state) {
        case ParserState::Option: {
            const std::uint8_t verb = m_verb;
            m_verb = 0;
            m_state = ParserState::Data;
            m_subLength = 0;
            m_subOverflow = false;
            HandleOption(verb, byte);
            return;
        }
        case ParserState::Subnegotiation:
            if (byte == kSe) {
                m_state = ParserState::Data;
                // Copied so a hook that runs inside the handler cannot disturb it.
                const std::vector<std::uint8_t> sub(m_sub.begin(), m_sub.begin() + m_subLength);
                const bool overflow = m_subOverflow;
                m_subLength = 0;
                m_subOverflow = false;
                if (!overflow) {
                    HandleSubnegotiation(sub.data(), sub.size());
                }
            } else {
                AppendSubnegotiation(byte);
            }
            return;
        case ParserState::Iac:
            m_state = ParserState::Data;
            AfterIac(byte);
            return;
        case ParserState::Data:
            if (byte == kIac) {
                m_state = ParserState::Iac;
            } else {
                BufferByte(byte);
            }
            return;
    }
}

void TelnetProtocol::AfterIac(std::uint8_t byte) {
    if (byte == kEor) {
        m_sink.EndOfRecord();
    } else if (byte == kSb) {
        m_state = ParserState::Subnegotiation;
    } else if (byte >= kWill && byte <= kDont) {
        m_verb = byte;
        m_state = ParserState::Option;
    } else if (byte == kIac) {
        BufferByte(kIac);
    }
    // Every other command (NOP, GA, DM, BRK, AYT, ...) is dropped without an answer.
}

void TelnetProtocol::AppendSubnegotiation(std::uint8_t byte) {
    if (m_subLength < m_sub.size()) {
        m_sub[m_subLength++] = byte;
    } else {
        m_subOverflow = true;
    }
}

void TelnetProtocol::HandleOption(std::uint8_t verb, std::uint8_t option) {
    const OptionAnswer answer = optionAnswer(verb, option);
    if (answer.reply != 0) {
        SendCommand(answer.reply, option);
    }
    switch (answer.effect) {
        case OptionEffect::None:
            break;
        case OptionEffect::ServerEchoes:
            m_localEcho = false;
            m_sink.LocalEchoNegotiated();
            break;
        case OptionEffect::ClientEchoes:
            m_localEcho = true;
            m_sink.LocalEchoNegotiated();
            break;
        case OptionEffect::EchoNotify:
            m_sink.LocalEchoNegotiated();
            break;
        case OptionEffect::SendLocation:
            m_sink.SendLocRequested();
            SendFramed(kOptSendLocation, false, m_location);
            break;
    }
}

void TelnetProtocol::HandleSubnegotiation(const std::uint8_t* data, std::size_t len) {
    if (len >= 2 && data[0] == kOptTerminalType && data[1] == kSubSend) {
        m_sink.TermTypeRequested();
        SendFramed(kOptTerminalType, true, m_termType);
    }
}

void TelnetProtocol::SendCommand(std::uint8_t verb, std::uint8_t option) {
    const std::uint8_t msg[3] = {kIac, verb, option};
    m_sink.SendToServer(msg, sizeof msg);
}

// IAC SB option [IS] text IAC SE; the text goes out as it stands, 255 not doubled.
void TelnetProtocol::SendFramed(std::uint8_t option, bool withIs, const std::string& text) {
    std::vector<std::uint8_t> msg;
    msg.reserve(text.size() + 6);
    msg.push_back(kIac);
    msg.push_back(kSb);
    msg.push_back(option);
    if (withIs) {
        msg.push_back(kSubIs);
    }
    msg.insert(msg.end(), text.begin(), text.end());
    msg.push_back(kIac);
    msg.push_back(kSe);
    m_sink.SendToServer(msg.data(), msg.size());
}

void TelnetProtocol::FlushBuffer() {
    if (m_count <= 0) {
        return;
    }
    // The block is a copy on the stack: no allocation that could fail, and a hook that
    // re-enters the parser cannot overwrite bytes it is still reading.
    std::array<std::uint8_t, kDisplaySize + 1> block;
    const int len = m_count;
    std::memcpy(block.data(), m_display.data(), static_cast<std::size_t>(len));
    block[static_cast<std::size_t>(len)] = 0;
    m_count = 0;
    m_sink.DeliverData(block.data(), len);
}

}  // namespace vandrel::telnet
