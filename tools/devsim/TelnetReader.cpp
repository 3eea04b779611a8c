#include "TelnetReader.h"

namespace vandrel::devsim {

void TelnetReader::dataByte(unsigned char byte, std::vector<TelnetEvent>& events) {
    if (events.empty() || events.back().kind != TelnetEvent::Kind::Data) {
        events.push_back({});
    }
    events.back().data += static_cast<char>(byte);
}

void TelnetReader::subByte(unsigned char byte) {
    if (m_sub.size() < kMaxSubnegotiation) {
        m_sub += static_cast<char>(byte);
    }
}

void TelnetReader::feed(const char* bytes, std::size_t length, std::vector<TelnetEvent>& events) {
    for (std::size_t i = 0; i < length; ++i) {
        auto byte = static_cast<unsigned char>(bytes[i]);
        switch (m_state) {
            case State::Data:
                if (byte == IAC) {
                    m_state = State::Iac;
                } else {
                    dataByte(byte, events);
                }
                break;
            case State::Iac:
                if (byte == IAC) {
                    dataByte(byte, events);
                    m_state = State::Data;
                } else if (byte >= WILL && byte <= DONT) {
                    m_verb = byte;
                    m_state = State::Verb;
                } else if (byte == SB) {
                    m_sub.clear();
                    m_state = State::Sub;
                } else {
                    events.push_back({TelnetEvent::Kind::Command, {}, byte, 0});
                    m_state = State::Data;
                }
                break;
            case State::Verb:
                events.push_back({TelnetEvent::Kind::Option, {}, m_verb, byte});
                m_state = State::Data;
                break;
            case State::Sub:
                if (byte == IAC) {
                    m_state = State::SubIac;
                } else {
                    subByte(byte);
                }
                break;
            case State::SubIac:
                if (byte == SE) {
                    events.push_back({TelnetEvent::Kind::Subnegotiation, m_sub, 0, 0});
                    m_sub.clear();
                    m_state = State::Data;
                } else {
                    // IAC IAC is an escaped 255; anything else is a broken sequence that
                    // we keep as data of the subnegotiation rather than lose sync.
                    if (byte != IAC) {
                        subByte(IAC);
                    }
                    subByte(byte);
                    m_state = State::Sub;
                }
                break;
        }
    }
}

}  // namespace vandrel::devsim
