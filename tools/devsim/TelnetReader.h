#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vandrel::devsim {

// Telnet command and option bytes (RFC 854 and the option RFCs).
enum TelnetCode : unsigned char {
    IAC = 255,
    DONT = 254,
    DO = 253,
    WONT = 252,
    WILL = 251,
    SB = 250,
    IP = 244,
    SE = 240,
    ECHO = 1,
    SGA = 3,
    LOCATION = 23,
    TTYPE = 24,
    IS = 0,
    SEND = 1,
};

// What the server side makes of the bytes a client sends.
struct TelnetEvent {
    enum class Kind { Data, Option, Subnegotiation, Command };
    Kind kind = Kind::Data;
    std::string data;          // Data: the bytes; Subnegotiation: option byte first, then payload
    unsigned char verb = 0;    // Option: WILL/WONT/DO/DONT; Command: the command byte
    unsigned char option = 0;  // Option only
};

// Byte-in parser for the server side of telnet (RFC 854/855). Keeps its state across
// calls, so a command split over two reads is decoded as one. Malformed input never
// throws: IAC followed by an unknown byte becomes a Command event, an over-long
// subnegotiation is cut at kMaxSubnegotiation bytes.
class TelnetReader {
public:
    static constexpr std::size_t kMaxSubnegotiation = 1024;

    void feed(const char* bytes, std::size_t length, std::vector<TelnetEvent>& events);

private:
    enum class State { Data, Iac, Verb, Sub, SubIac };

    void dataByte(unsigned char byte, std::vector<TelnetEvent>& events);
    void subByte(unsigned char byte);

    State m_state = State::Data;
    unsigned char m_verb = 0;
    std::string m_sub;
};

}  // namespace vandrel::devsim
