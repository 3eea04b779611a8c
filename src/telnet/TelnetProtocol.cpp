#include "telnet/TelnetProtocol.h"

#include <cstring>
#include <vector>

#include "telnet/TelnetCodes.h"

namespace telnet {

void TelnetProtocol::receive(const std::uint8_t* data, std::size_t len) {
    std::size_t i = 0;
    while (i < len) {
        if (m_state == ParserState::Data && data[i] != kIac) {
            i += bufferRun(data + i, len - i);
        } else {
            processByte(data[i++]);
        }
    }
    flushBuffer();
}

// Copies plain data up to the next IAC in one go; the same result as byte by byte.
std::size_t TelnetProtocol::bufferRun(const std::uint8_t* data, std::size_t len) {
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
        flushBuffer();
    }
    return run;
}

void TelnetProtocol::processByte(std::uint8_t byte) {
    switch (m_state) {
        case ParserState::Option: {
            const std::uint8_t verb = m_verb;
            m_verb = 0;
            m_state = ParserState::Data;
            m_subLength = 0;
            m_subOverflow = false;
            handleOption(verb, byte);
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
                    handleSubnegotiation(sub.data(), sub.size());
                }
            } else {
                appendSubnegotiation(byte);
            }
            return;
        case ParserState::Iac:
            m_state = ParserState::Data;
            afterIac(byte);
            return;
        case ParserState::Data:
            if (byte == kIac) {
                m_state = ParserState::Iac;
            } else {
                bufferByte(byte);
            }
            return;
    }
}

void TelnetProtocol::afterIac(std::uint8_t byte) {
    if (byte == kEor) {
        m_sink.endOfRecord();
    } else if (byte == kSb) {
        m_state = ParserState::Subnegotiation;
    } else if (byte >= kWill && byte <= kDont) {
        m_verb = byte;
        m_state = ParserState::Option;
    } else if (byte == kIac) {
        bufferByte(kIac);
    }
    // Every other command (NOP, GA, DM, BRK, AYT, ...) is dropped without an answer.
}

void TelnetProtocol::appendSubnegotiation(std::uint8_t byte) {
    if (m_subLength < m_sub.size()) {
        m_sub[m_subLength++] = byte;
    } else {
        m_subOverflow = true;
    }
}

void TelnetProtocol::handleOption(std::uint8_t verb, std::uint8_t option) {
    const OptionAnswer answer = optionAnswer(verb, option);
    if (answer.reply != 0) {
        sendCommand(answer.reply, option);
    }
    switch (answer.effect) {
        case OptionEffect::None:
            break;
        case OptionEffect::ServerEchoes:
            m_localEcho = false;
            m_sink.localEchoNegotiated();
            break;
        case OptionEffect::ClientEchoes:
            m_localEcho = true;
            m_sink.localEchoNegotiated();
            break;
        case OptionEffect::EchoNotify:
            m_sink.localEchoNegotiated();
            break;
        case OptionEffect::SendLocation:
            m_sink.sendLocRequested();
            sendFramed(kOptSendLocation, false, m_location);
            break;
    }
}

void TelnetProtocol::handleSubnegotiation(const std::uint8_t* data, std::size_t len) {
    if (len >= 2 && data[0] == kOptTerminalType && data[1] == kSubSend) {
        m_sink.termTypeRequested();
        sendFramed(kOptTerminalType, true, m_termType);
    }
}

void TelnetProtocol::sendCommand(std::uint8_t verb, std::uint8_t option) {
    const std::uint8_t msg[3] = {kIac, verb, option};
    m_sink.sendToServer(msg, sizeof msg);
}

// IAC SB option [IS] text IAC SE; the text goes out as it stands, 255 not doubled.
void TelnetProtocol::sendFramed(std::uint8_t option, bool withIs, const std::string& text) {
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
    m_sink.sendToServer(msg.data(), msg.size());
}

void TelnetProtocol::flushBuffer() {
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
    m_sink.deliverData(block.data(), len);
}

}  // namespace telnet
