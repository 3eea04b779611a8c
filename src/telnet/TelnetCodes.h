#pragma once

#include <array>
#include <cstdint>

// Telnet command bytes (RFC 854) and the option numbers this client knows, with the fixed
// answer table of the client. Upper-case names are avoided because system headers define
// macros such as ECHO.
namespace vandrel::telnet {

inline constexpr std::uint8_t kIac = 255;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kEl = 248;
inline constexpr std::uint8_t kEc = 247;
inline constexpr std::uint8_t kAyt = 246;
inline constexpr std::uint8_t kAo = 245;
inline constexpr std::uint8_t kIp = 244;
inline constexpr std::uint8_t kSe = 240;
inline constexpr std::uint8_t kEor = 239;

inline constexpr std::uint8_t kOptBinary = 0;
inline constexpr std::uint8_t kOptEcho = 1;
inline constexpr std::uint8_t kOptSuppressGoAhead = 3;
inline constexpr std::uint8_t kOptSendLocation = 23;
inline constexpr std::uint8_t kOptTerminalType = 24;
inline constexpr std::uint8_t kOptEndOfRecord = 25;

inline constexpr std::uint8_t kSubIs = 0;
inline constexpr std::uint8_t kSubSend = 1;

// What the client does besides the three-byte reply, which always goes out first.
enum class OptionEffect : std::uint8_t {
    None,
    ServerEchoes,  // LocalEcho := false, then OnLocalEcho
    ClientEchoes,  // LocalEcho := true, then OnLocalEcho
    EchoNotify,    // OnLocalEcho only
    SendLocation,  // OnSendLoc, then the location subnegotiation
};

struct OptionAnswer {
    std::uint8_t reply;  // verb of the reply; 0 means no reply
    OptionEffect effect;
};

// Answers indexed by verb - kWill: WILL, WONT, DO, DONT.
struct OptionRule {
    std::uint8_t option;
    std::array<OptionAnswer, 4> answers;
};

inline constexpr OptionAnswer kNoReply{0, OptionEffect::None};
constexpr OptionAnswer reply(std::uint8_t verb, OptionEffect e = OptionEffect::None) {
    return OptionAnswer{verb, e};
}

// The client never starts a negotiation; every entry answers one the server started.
// The same request always gets the same answer, so repeated requests are answered again.
inline constexpr std::array<OptionRule, 6> kOptionTable{{
    {kOptBinary, {reply(kDo), kNoReply, kNoReply, kNoReply}},
    {kOptEcho,
     {reply(kDo, OptionEffect::ServerEchoes), reply(0, OptionEffect::ClientEchoes),
      reply(0, OptionEffect::EchoNotify), reply(0, OptionEffect::EchoNotify)}},
    {kOptSuppressGoAhead, {reply(kDo), kNoReply, kNoReply, kNoReply}},
    {kOptSendLocation, {kNoReply, kNoReply, reply(kWill, OptionEffect::SendLocation), kNoReply}},
    {kOptTerminalType, {kNoReply, kNoReply, reply(kWill), kNoReply}},
    {kOptEndOfRecord, {kNoReply, kNoReply, reply(kWill), kNoReply}},
}};

// Every option not in the table is refused.
inline constexpr OptionRule kUnknownOption{
    0, {reply(kDont), reply(kWont), reply(kWont), reply(kWont)}};

// verb must be one of WILL, WONT, DO, DONT.
constexpr OptionAnswer optionAnswer(std::uint8_t verb, std::uint8_t option) {
    const std::size_t index = static_cast<std::size_t>(verb - kWill) & 3u;
    for (const OptionRule& rule : kOptionTable) {
        if (rule.option == option) {
            return rule.answers[index];
        }
    }
    return kUnknownOption.answers[index];
}

}  // namespace vandrel::telnet
