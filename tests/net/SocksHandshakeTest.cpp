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
// `piece` (never more than room()), acts on each result (reading what is
// still buffered once a request is out), and describes what happened in one
// text.
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
            auto r = act(parser.Received(static_cast<int>(n)));
            while (isRequest(r) && parser.BufferedCount() > 0) {
                r = act(parser.Received(0));
            }
            if (r.action == Action::Granted || r.action == Action::Fail) {
                break;
            }
        } while (pos < reply.size() && parser.Room() > 0);
        unread.assign(reply.begin() + static_cast<long>(pos), reply.end());
        return log;
    }
    static bool isRequest(const SocksReplyParser::Result& r) {
        return r.action == Action::SendAuthRequest || r.action == Action::SendConnectRequest;
    }
    SocksReplyParser::Result act(SocksReplyParser::Result r) {
        if (r.action != Action::Wait && !log.empty() && log.back() != ' ') {
            log += ", ";
        }
        if (r.authState >= 0) {
            log += "auth" + std::to_string(r.authState) + " ";
        }
        switch (r.action) {
            case Action::Wait:
                break;
            case Action::SendAuthRequest:
                log += "send auth";
                parser.SetPhase(Phase::AuthReply);
                break;
            case Action::SendConnectRequest:
                log += "send connect";
                parser.SetPhase(Phase::ConnectReply);
                break;
            case Action::Granted:
                log += "granted " + parser.BoundAddr() + ":" + parser.BoundPort();
                break;
            case Action::Fail:
                log += std::to_string(r.code) + " " + r.text;
                parser.SetPhase(Phase::Data);
                break;
        }
        return r;
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
    const Phase M = Phase::MethodReply;
    const Phase A = Phase::AuthReply;
    const Bytes methodAndGrant = {5, 0, 5, 0, 0, 1, 10, 0, 0, 9, 0, 21};
    checkReplies({
        {"no authentication", L5, M, 0, {5, 0}, "send connect"},
        {"offer declined", L5, M, 2, {5, 0}, "auth3 send connect"},
        {"user and password", L5, M, 2, {5, 2}, "send auth"},
        {"no method", L5, M, 0, {5, 0xFF}, "20003 authentification method not acceptable"},
        {"method reply version", L5, M, 0, {4, 0}, "20002 socks version error"},
        {"half a method reply", L5, M, 0, {5}, ""},
        {"level 4 method reply", ProxyLevel::Socks4, M, 0, {0, 90}, "20001 TWSocket logic error"},
        {"accepted", L5, A, 2, {1, 0}, "auth1 send connect"},
        {"wrong password", L5, A, 2, {1, 1}, "20015 socks authentication failed"},
        {"auth version at once", L5, A, 2, {5}, "20002 socks version error"},
        {"not in a handshake", L5, Phase::Data, 0, {5, 0}, "20013 internal error"},
        // A proxy answering ahead: what follows the method reply is the next reply's.
        {"method reply and grant", L5, M, 0, methodAndGrant, "send connect, granted 10.0.0.9:21"},
        {"method and auth replies", L5, M, 2, {5, 2, 1, 0}, "send auth, auth1 send connect"},
    });
    // Three bytes in one read are too many; read singly, the first two decide.
    Handshake h(L5, 2);
    EXPECT_EQ(h.at(A).feed({1, 0, 0}, 3), "20001 too much data availaible");
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
}

// A level 5 grant naming a bound host of the given length, port 7.
Bytes boundNameReply(int length) {
    Bytes reply = {5, 0, 0, 3, static_cast<std::uint8_t>(length)};
    reply.insert(reply.end(), static_cast<std::size_t>(length), 'n');
    reply.insert(reply.end(), {0, 7});
    return reply;
}

TEST(SocksReplyParser, Level5ConnectReplies) {
    const auto L5 = ProxyLevel::Socks5;
    const Phase C = Phase::ConnectReply;
    const std::string tooLong = "20001 socks reply too long";
    checkReplies({
        {"IPv4", L5, C, 0, {5, 0, 0, 1, 127, 0, 0, 1, 0x1F, 0x90}, "granted 127.0.0.1:8080"},
        {"name", L5, C, 0, {5, 0, 0, 3, 4, 'h', 'o', 's', 't', 0, 80}, "granted host:80"},
        {"empty name", L5, C, 0, {5, 0, 0, 3, 0, 1, 0}, "granted :256"},
        {"type 4", L5, C, 0, {5, 0, 0, 4, 0, 0, 0, 0, 0, 0}, "20011 address type not supported"},
        {"version", L5, C, 0, {4}, "20002 socks version error"},
        {"short", L5, C, 0, {5, 0, 0, 1, 127, 0, 0, 1, 0}, ""},
        {"code 1", L5, C, 0, {5, 1}, "20004 general SOCKS server failure"},
        {"code 2", L5, C, 0, {5, 2}, "20005 connection not allowed by ruleset"},
        {"code 3", L5, C, 0, {5, 3}, "20006 network unreachable"},
        {"code 4", L5, C, 0, {5, 4}, "20007 host unreachable"},
        {"code 5", L5, C, 0, {5, 5}, "20008 connection refused"},
        {"code 6", L5, C, 0, {5, 6}, "20009 time to live expired"},
        {"code 7", L5, C, 0, {5, 7}, "20010 command not supported"},
        {"code 8", L5, C, 0, {5, 8}, "20011 address type not supported"},
        {"unassigned", L5, C, 0, {5, 9}, "20012 unassigned error #9"},
        {"unassigned 255", L5, C, 0, {5, 255}, "20012 unassigned error #255"},
        // The reply buffer holds 127 bytes: a longer reply fails instead of being read past
        // the buffer or waited for.
        {"name of 120", L5, C, 0, boundNameReply(120), "granted " + std::string(120, 'n') + ":7"},
        {"name of 121", L5, C, 0, boundNameReply(121), tooLong},
        {"name of 255", L5, C, 0, boundNameReply(255), tooLong},
    });
}

// Data behind a grant is not the handshake's: at level 4 it stays unread, at level 5 what
// the last read took past the reply is leftover.
TEST(SocksReplyParser, DataBehindAGrant) {
    struct Case {
        ProxyLevel level;
        Bytes reply;
        std::size_t piece;
        std::string outcome, leftover, unread;
        Phase from = Phase::ConnectReply;
    };
    const Bytes l4 = {0, 90, 0, 0, 0, 0, 0, 0, 'h', 'i'};
    const Bytes l5 = {5, 0, 0, 1, 10, 0, 0, 9, 0, 21, 'h', 'e', 'l', 'l', 'o'};
    Bytes withMethodReply = {5, 0};
    withMethodReply.insert(withMethodReply.end(), l5.begin(), l5.end());
    const std::vector<Case> cases = {
        {ProxyLevel::Socks4, l4, 1000, "granted :", "", "hi"},
        {ProxyLevel::Socks5, l5, 1000, "granted 10.0.0.9:21", "hello", ""},
        {ProxyLevel::Socks5, l5, 3, "granted 10.0.0.9:21", "he", "llo"},  // ends in read 4
        {ProxyLevel::Socks5, withMethodReply, 1000, "send connect, granted 10.0.0.9:21", "hello",
         "", Phase::MethodReply},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.outcome + " in pieces of " + std::to_string(c.piece));
        Handshake h(c.level);
        EXPECT_EQ(h.at(c.from).feed(c.reply, c.piece), c.outcome);
        EXPECT_EQ(h.leftover(), c.leftover);
        EXPECT_EQ(h.unread, bytesOf(c.unread));
        EXPECT_EQ(h.parser.Room(), 0);
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
