// The SOCKS requests and the reading of the proxy's replies, without sockets.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "net/SocksReplyParser.h"
#include "net/SocksRequest.h"

using namespace vandrel::net;
using Bytes = std::vector<std::uint8_t>;
using Phase = SocksReplyParser::Phase;
using Action = SocksReplyParser::Action;

namespace {

Bytes bytesOf(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

TEST(SocksRequest, Bytes) {
    EXPECT_EQ(SocksMethodOffer(2), (Bytes{5, 1, 2}));
    EXPECT_EQ(*SocksAuthRequest("u", "pw"), (Bytes{1, 1, 'u', 2, 'p', 'w'}));
    EXPECT_EQ(*SocksAuthRequest("", ""), (Bytes{1, 0, 0}));
    const std::uint32_t loopback = htonl(0x7F000001);
    EXPECT_EQ(*SocksConnectRequest(ProxyLevel::Socks4, 8080, loopback, "me", "ignored"),
              (Bytes{4, 1, 0x1F, 0x90, 127, 0, 0, 1, 'm', 'e', 0}));
    EXPECT_EQ(*SocksConnectRequest(ProxyLevel::Socks4A, 23, 0, "me", "host"),
              (Bytes{4, 1, 0, 23, 0, 0, 0, 1, 'm', 'e', 0, 'h', 'o', 's', 't', 0}));
    EXPECT_EQ(*SocksConnectRequest(ProxyLevel::Socks5, 23, loopback, "me", "host"),
              (Bytes{5, 1, 0, 3, 4, 'h', 'o', 's', 't', 0, 23}));
    // A dotted address still goes as a name at level 5.
    EXPECT_EQ(*SocksConnectRequest(ProxyLevel::Socks5, 1, 0, "", "1.2.3.4"),
              (Bytes{5, 1, 0, 3, 7, '1', '.', '2', '.', '3', '.', '4', 0, 1}));
}

TEST(SocksRequest, OverlongValuesAreRefusedNotCut) {
    const std::string longest(255, 'x');
    const std::string tooLong(256, 'x');
    const std::string zero("a\0b", 3);
    struct Case {
        ProxyLevel level;
        std::string user, password, host;
        std::string refusal;
    };
    const std::vector<Case> cases = {
        {ProxyLevel::Socks5, longest, longest, longest, ""},
        {ProxyLevel::Socks5, tooLong, "", "h", "Connect: Socks user code longer than 255 bytes"},
        {ProxyLevel::Socks5, "", tooLong, "h", "Connect: Socks password longer than 255 bytes"},
        {ProxyLevel::Socks5, "", "", tooLong,
         "Connect: Host name longer than 255 bytes for the socks server"},
        {ProxyLevel::Socks4A, "", "", tooLong,
         "Connect: Host name longer than 255 bytes for the socks server"},
        {ProxyLevel::Socks4, tooLong, "", "h", "Connect: Socks user code longer than 255 bytes"},
        {ProxyLevel::Socks4, "", tooLong, tooLong, ""},  // neither is sent at level 4
        {ProxyLevel::Socks4, zero, "", "h",
         "Connect: Socks user code or host name holds a zero byte"},
        {ProxyLevel::Socks4A, "", "", zero,
         "Connect: Socks user code or host name holds a zero byte"},
        {ProxyLevel::Socks5, zero, zero, zero, ""},  // counted, not terminated
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.refusal);
        EXPECT_EQ(SocksRequestRefusal(c.level, c.user, c.password, c.host), c.refusal);
    }
    EXPECT_FALSE(SocksAuthRequest(tooLong, ""));
    EXPECT_FALSE(SocksAuthRequest("", tooLong));
    EXPECT_EQ(SocksAuthRequest(longest, longest)->size(), 3u + 255 + 255);
    EXPECT_FALSE(SocksConnectRequest(ProxyLevel::Socks5, 1, 0, "", tooLong));
    EXPECT_FALSE(SocksConnectRequest(ProxyLevel::Socks4, 1, 0, tooLong, ""));
    EXPECT_EQ(SocksConnectRequest(ProxyLevel::Socks5, 1, 0, "", longest)->size(), 7u + 255);
}

// Plays the layer's part: reads the proxy's bytes in pieces of at most
// `piece` (never more than room()), acts on each result, and describes what
// happened in one text.
struct Handshake {
    SocksReplyParser parser;
    std::string log;
    Bytes unread;  // what room() left in the library

    explicit Handshake(ProxyLevel level, std::uint8_t offered = 0) {
        parser.Start(level);
        parser.SetOfferedMethod(offered);
    }
    Handshake& at(Phase phase) {
        parser.SetPhase(phase);
        return *this;
    }
    std::string feed(const Bytes& reply, std::size_t piece) {
        log.clear();
        std::size_t pos = 0;
        do {
            const std::size_t n =
                std::min({piece, reply.size() - pos, static_cast<std::size_t>(parser.Room())});
            std::copy_n(reply.begin() + static_cast<long>(pos), n, parser.Tail());
            pos += n;
            if (!act(parser.Received(static_cast<int>(n)))) {
                break;
            }
        } while (pos < reply.size() && parser.Room() > 0);
        unread.assign(reply.begin() + static_cast<long>(pos), reply.end());
        return log;
    }
    bool act(const SocksReplyParser::Result& r) {
        if (r.authState >= 0) {
            log += "auth" + std::to_string(r.authState) + " ";
        }
        switch (r.action) {
            case Action::Wait:
                return true;
            case Action::SendAuthRequest:
                log += "send auth";
                parser.SetPhase(Phase::AuthReply);
                return false;
            case Action::SendConnectRequest:
                log += "send connect";
                parser.SetPhase(Phase::ConnectReply);
                return false;
            case Action::Granted:
                log += "granted " + parser.BoundAddr() + ":" + parser.BoundPort();
                return false;
            case Action::Fail:
                log += std::to_string(r.code) + " " + r.text;
                parser.SetPhase(Phase::Data);
                return false;
        }
        return false;
    }
    std::string leftover() {
        return std::string(reinterpret_cast<const char*>(parser.Leftover()),
                           static_cast<std::size_t>(parser.LeftoverCount()));
    }
};

struct ReplyCase {
    const char* name;
    ProxyLevel level;
    Phase phase;
    std::uint8_t offered;
    Bytes reply;
    std::string outcome;  // "" means: still waiting
};

// Every case is read whole and byte by byte, with the same outcome.
void checkReplies(const std::vector<ReplyCase>& cases) {
    for (const auto& c : cases) {
        for (const std::size_t piece : {std::size_t{1000}, std::size_t{1}}) {
            SCOPED_TRACE(std::string(c.name) + (piece == 1 ? " (byte by byte)" : ""));
            Handshake h(c.level, c.offered);
            EXPECT_EQ(h.at(c.phase).feed(c.reply, piece), c.outcome);
        }
    }
}

TEST(SocksReplyParser, MethodAndAuthenticationReplies) {
    const auto L5 = ProxyLevel::Socks5;
    checkReplies({
        {"no authentication", L5, Phase::MethodReply, 0, {5, 0}, "send connect"},
        {"offer declined", L5, Phase::MethodReply, 2, {5, 0}, "auth3 send connect"},
        {"user and password", L5, Phase::MethodReply, 2, {5, 2}, "send auth"},
        {"no acceptable method",
         L5,
         Phase::MethodReply,
         0,
         {5, 0xFF},
         "20003 authentification method not acceptable"},
        {"method reply version", L5, Phase::MethodReply, 0, {4, 0}, "20002 socks version error"},
        {"half a method reply", L5, Phase::MethodReply, 0, {5}, ""},
        {"level 4 has no method reply",
         ProxyLevel::Socks4,
         Phase::MethodReply,
         0,
         {0, 90},
         "20001 TWSocket logic error"},
        {"accepted", L5, Phase::AuthReply, 2, {1, 0}, "auth1 send connect"},
        {"wrong password", L5, Phase::AuthReply, 2, {1, 1}, "20015 socks authentication failed"},
        {"auth version at once", L5, Phase::AuthReply, 2, {5}, "20002 socks version error"},
        {"not in a handshake", L5, Phase::Data, 0, {5, 0}, "20013 internal error"},
    });
    // Three bytes in one read are too many; read singly, the first two decide.
    Handshake h(ProxyLevel::Socks5, 2);
    EXPECT_EQ(h.at(Phase::AuthReply).feed({1, 0, 0}, 3), "20001 too much data availaible");
}

TEST(SocksReplyParser, Level4Replies) {
    const auto L4 = ProxyLevel::Socks4;
    const auto L4A = ProxyLevel::Socks4A;
    const Phase C = Phase::ConnectReply;
    checkReplies({
        {"granted", L4, C, 0, {0, 90, 0, 0, 0, 0, 0, 0}, "granted :"},
        {"granted 4A", L4A, C, 0, {0, 90, 1, 2, 3, 4, 5, 6}, "granted :"},
        {"rejected", L4, C, 0, {0, 91, 0, 0, 0, 0, 0, 0}, "20016 request rejected or failed"},
        {"no identd", L4, C, 0, {0, 92, 0, 0, 0, 0, 0, 0}, "20008 connection refused"},
        {"identd disagrees", L4A, C, 0, {0, 93, 0, 0, 0, 0, 0, 0}, "20015 authentification failed"},
        {"unassigned", L4, C, 0, {0, 94, 0, 0, 0, 0, 0, 0}, "20012 unassigned error #94"},
        {"version", L4, C, 0, {4, 90, 0, 0, 0, 0, 0, 0}, "20002 socks version error"},
        {"seven bytes", L4, C, 0, {0, 90, 0, 0, 0, 0, 0}, ""},
    });
    // Data behind a level 4 grant is not read by the handshake.
    Handshake h(L4);
    EXPECT_EQ(h.at(C).feed({0, 90, 0, 0, 0, 0, 0, 0, 'h', 'i'}, 1000), "granted :");
    EXPECT_EQ(h.unread, bytesOf("hi"));
    EXPECT_EQ(h.parser.LeftoverCount(), 0);
}

TEST(SocksReplyParser, Level5ConnectReplies) {
    const auto L5 = ProxyLevel::Socks5;
    const Phase C = Phase::ConnectReply;
    std::vector<ReplyCase> cases = {
        {"IPv4", L5, C, 0, {5, 0, 0, 1, 127, 0, 0, 1, 0x1F, 0x90}, "granted 127.0.0.1:8080"},
        {"name", L5, C, 0, {5, 0, 0, 3, 4, 'h', 'o', 's', 't', 0, 80}, "granted host:80"},
        {"empty name", L5, C, 0, {5, 0, 0, 3, 0, 1, 0}, "granted :256"},
        {"other type",
         L5,
         C,
         0,
         {5, 0, 0, 4, 0, 0, 0, 0, 0, 0},
         "20011 address type not supported"},
        {"version", L5, C, 0, {4}, "20002 socks version error"},
        {"short", L5, C, 0, {5, 0, 0, 1, 127, 0, 0, 1, 0}, ""},
        {"unassigned", L5, C, 0, {5, 9}, "20012 unassigned error #9"},
        {"unassigned 255", L5, C, 0, {5, 255}, "20012 unassigned error #255"},
    };
    const char* texts[] = {"general SOCKS server failure", "connection not allowed by ruleset",
                           "network unreachable",          "host unreachable",
                           "connection refused",           "time to live expired",
                           "command not supported",        "address type not supported"};
    for (int code = 1; code <= 8; ++code) {
        cases.push_back({texts[code - 1],
                         L5,
                         C,
                         0,
                         {5, static_cast<std::uint8_t>(code)},
                         std::to_string(20003 + code) + " " + texts[code - 1]});
    }
    checkReplies(cases);
}

TEST(SocksReplyParser, Level5GrantWithDataBehindIt) {
    Bytes reply = {5, 0, 0, 1, 10, 0, 0, 9, 0, 21};
    const Bytes data = bytesOf("hello");
    reply.insert(reply.end(), data.begin(), data.end());
    for (const std::size_t piece : {std::size_t{1000}, std::size_t{3}}) {
        Handshake h(ProxyLevel::Socks5);
        EXPECT_EQ(h.at(Phase::ConnectReply).feed(reply, piece), "granted 10.0.0.9:21");
        // Read whole, all of the data is leftover; read in threes, the reply
        // ends inside the fourth read and two bytes of it are leftover.
        const std::string expected = piece == 1000 ? "hello" : "he";
        EXPECT_EQ(h.leftover(), expected);
        EXPECT_EQ(h.parser.Room(), 0);
    }
}

// The reply buffer holds 127 bytes: a bound name that makes the reply longer
// fails the handshake instead of being read past the buffer or waited for.
TEST(SocksReplyParser, OverlongReplyFailsTheHandshake) {
    for (const int nameLength : {120, 121, 255}) {
        SCOPED_TRACE(nameLength);
        Bytes reply = {5, 0, 0, 3, static_cast<std::uint8_t>(nameLength)};
        reply.insert(reply.end(), static_cast<std::size_t>(nameLength), 'n');
        reply.insert(reply.end(), {0, 7});
        for (const std::size_t piece : {std::size_t{1000}, std::size_t{1}}) {
            Handshake h(ProxyLevel::Socks5);
            const std::string outcome = h.at(Phase::ConnectReply).feed(reply, piece);
            if (nameLength == 120) {
                EXPECT_EQ(outcome, "granted " + std::string(120, 'n') + ":7");
            } else {
                EXPECT_EQ(outcome, "20001 socks reply too long");
            }
        }
    }
}

TEST(SocksReplyParser, StartForgetsTheLastHandshake) {
    Handshake h(ProxyLevel::Socks5);
    h.at(Phase::ConnectReply).feed({5, 0, 0, 1, 1, 2, 3, 4, 0, 1, 'x'}, 1000);
    EXPECT_EQ(h.parser.LeftoverCount(), 1);
    h.parser.Start(ProxyLevel::Socks4);
    EXPECT_EQ(h.parser.LeftoverCount(), 0);
    EXPECT_EQ(h.parser.BufferedCount(), 0);
    EXPECT_EQ(h.parser.CurrentPhase(), Phase::MethodReply);
    h.parser.Reset();
    EXPECT_EQ(h.parser.Room(), 0);
}

}  // namespace
