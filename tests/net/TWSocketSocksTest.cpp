// TWSocket through SOCKS proxies on 127.0.0.1: Debian's microsocks and danted
// relaying to an echo server, and a scripted peer for level 4A and the replies
// real proxies do not give on demand.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/EventPump.h"
#include "support/EventRecorder.h"
#include "support/LoopbackListener.h"
#include "support/LoopbackServer.h"
#include "support/RaisedText.h"
#include "support/ScriptedPeer.h"
#include "support/SocksProxyProcess.h"

using namespace vandrel::net;
using namespace vandrel::test;
using Bytes = ScriptedPeer::Bytes;
using Step = ScriptedPeer::Step;
using Then = ScriptedPeer::Then;

namespace {

// The socket with every hook recorded; received data is collected, and
// "data:<bytes>" recorded for each OnDataAvailable that read something.
struct Client : RecordedSocket {
    std::string received;
    std::vector<int> rcvdCounts;

    Client() {
        s.OnDataSent = nullptr;  // the handshake's sends would make the road timing-dependent
        s.OnSocksConnected = [this](TObject*, Word e) { note("socks:" + std::to_string(e)); };
        s.OnSocksError = [this](TObject*, int e, const std::string& m) {
            note("sockserror:" + std::to_string(e) + " " + m);
        };
        s.OnSocksAuthState = [this](TObject*, TSocksAuthState a) {
            note("auth:" + std::to_string(static_cast<int>(a)));
        };
        s.OnDataAvailable = [this](TObject*, Word) {
            rcvdCounts.push_back(s.RcvdCount());
            const std::string got = s.ReceiveStr();
            if (!got.empty()) {
                received += got;
                note("data:" + got);
            }
        };
    }
    void note(const std::string& e) { rec.events.push_back(e); }
    void authenticate(const std::string& user, const std::string& password) {
        s.SetSocksUsercode(user);
        s.SetSocksPassword(password);
        s.SetSocksAuthentication(socksAuthenticateUsercode);
    }
    void through(const std::string& proxyPort, const std::string& level, std::uint16_t target,
                 const std::string& addr = "127.0.0.1") {
        s.SetSocksServer("127.0.0.1");
        s.SetSocksPort(proxyPort);
        s.SetSocksLevel(level);
        prepareLoopback(s, std::to_string(target));
        s.SetAddr(addr);
        s.Connect();
    }
    // Runs the event loop until the owner has been told the outcome of the connect.
    bool settled() {
        return pumpUntil([&] { return rec.hasPrefix("connected:") || rec.hasPrefix("closed:"); });
    }
};

// Every case starts the same: the connection to the proxy itself stands.
const std::string kToTheProxy =
    "wsClosed->wsOpened wsOpened->wsConnecting wsConnecting->wsConnected ";

enum class Proxy { Microsocks, MicrosocksWithPassword, Danted };

SocksProxyProcess start(Proxy p) {
    if (p == Proxy::Danted) {
        return SocksProxyProcess::danted();
    }
    return p == Proxy::Microsocks ? SocksProxyProcess::microsocks()
                                  : SocksProxyProcess::microsocks("vandrel", "s3cret");
}

// Granted, data flows both ways and the close resets the proxy settings; refused, the owner
// sees the level's code and the event order of the handshake.
TEST(TWSocketSocks, RealProxiesRelayOrRefuse) {
    struct Case {
        const char* name;
        Proxy proxy;
        std::string level, user, password;
        bool refusedTarget;
        std::string road;
    };
    const std::string refused = "socks:0 sockserror:20008 connection refused connected:20008";
    const std::vector<Case> cases = {
        {"microsocks", Proxy::Microsocks, "5", "", "", false, "socks:0 connected:0"},
        {"microsocks with user and password", Proxy::MicrosocksWithPassword, "5", "vandrel",
         "s3cret", false, "socks:0 auth:0 auth:1 connected:0"},
        {"danted level 4", Proxy::Danted, "4", "me", "", false, "socks:0 connected:0"},
        {"danted level 5", Proxy::Danted, "5", "", "", false, "socks:0 connected:0"},
        {"wrong password", Proxy::MicrosocksWithPassword, "5", "vandrel", "wrong", false,
         "socks:0 auth:0 sockserror:20015 socks authentication failed connected:20015"},
        {"no method acceptable", Proxy::MicrosocksWithPassword, "5", "", "", false,
         "socks:0 sockserror:20003 authentification method not acceptable connected:20003"},
        {"microsocks, target refused", Proxy::Microsocks, "5", "", "", true, refused},
        {"danted 5, target refused", Proxy::Danted, "5", "", "", true, refused},
        {"danted 4, target refused", Proxy::Danted, "4", "", "", true,
         "socks:0 sockserror:20016 request rejected or failed connected:20016"},
    };
    EchoServer echo;
    const std::string payload = patternText(300 * 1024);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SocksProxyProcess proxy = start(c.proxy);
        ASSERT_TRUE(proxy.ready()) << proxy.error();
        Client cl;
        if (!c.user.empty()) {
            cl.authenticate(c.user, c.password);
        }
        cl.through(proxy.portText(), c.level, c.refusedTarget ? unusedPort() : echo.port());
        ASSERT_TRUE(cl.settled()) << cl.rec.joined();
        if (cl.rec.has("connected:0")) {
            EXPECT_EQ(cl.rec.joined(), kToTheProxy + c.road);
            cl.s.SendStr(payload);
            ASSERT_TRUE(pumpUntil([&] { return cl.received.size() >= payload.size(); }))
                << cl.received.size();
            EXPECT_TRUE(cl.received == payload);
            cl.s.Close();
            EXPECT_EQ(cl.rec.events.back(), "closed:0");
        } else {
            ASSERT_TRUE(pumpUntil([&] { return cl.rec.hasPrefix("closed:"); })) << cl.rec.joined();
            const std::string code = c.road.substr(c.road.rfind(':'));
            EXPECT_EQ(cl.rec.joined(),
                      kToTheProxy + c.road + " wsConnected->wsClosed closed" + code);
        }
        EXPECT_EQ(cl.s.State(), wsClosed);
        EXPECT_EQ(cl.s.SocksServer(), "");
        EXPECT_EQ(cl.s.SocksLevel(), "5");
    }
    EXPECT_EQ(echo.acceptedCount(), 4);
}

TEST(TWSocketSocks, ProxyRefusingTheConnectionGivesTheSocketError) {
    Client cl;
    cl.through(std::to_string(unusedPort()), "5", 9);
    ASSERT_TRUE(pumpUntil([&] { return cl.rec.hasPrefix("closed:"); })) << cl.rec.joined();
    EXPECT_EQ(cl.rec.road(), "socks:10061 connected:10061 closed:0");
}

// A script that answers a level 5 offer without authentication and grants
// the connect request with `grant` (sent at once, or byte by byte).
std::vector<Step> level5Script(const std::string& host, Bytes grant, bool byteByByte = false) {
    return {{3, {5, 0}, byteByByte}, {7 + host.size(), std::move(grant), byteByByte}};
}

TEST(TWSocketSocks, Level4AAndLevel5RequestsOnTheWire) {
    ScriptedPeer peer({{8 + 3 + 10, {0, 90, 0, 0, 0, 0, 0, 0}}}, Then::Echo);
    Client cl;
    cl.s.SetSocksUsercode("me");
    cl.through(peer.portText(), "4a", 0x1234, "localhost");
    EXPECT_EQ(cl.s.SocksLevel(), "4A");
    ASSERT_TRUE(cl.settled()) << cl.rec.joined();
    EXPECT_EQ(cl.rec.road(), "socks:0 connected:0");
    EXPECT_EQ(peer.requests().at(0), (Bytes{4,   1,   0x12, 0x34, 0,   0,   0,   1,   'm', 'e', 0,
                                            'l', 'o', 'c',  'a',  'l', 'h', 'o', 's', 't', 0}));
    cl.s.SendStr("after the grant");  // the peer echoes from here on
    ASSERT_TRUE(pumpUntil([&] { return cl.received == "after the grant"; })) << cl.received;

    ScriptedPeer five(level5Script("10.1.2.3", {5, 0, 0, 1, 10, 1, 2, 3, 0, 99}));
    Client c5;
    c5.through(five.portText(), "5", 2323, "10.1.2.3");
    ASSERT_TRUE(c5.settled()) << c5.rec.joined();
    EXPECT_EQ(five.requests().at(1),
              (Bytes{5, 1, 0, 3, 8, '1', '0', '.', '1', '.', '2', '.', '3', 0x09, 0x13}));
    EXPECT_EQ(c5.s.SocksBoundAddr(), "10.1.2.3");
    EXPECT_EQ(c5.s.SocksBoundPort(), "99");
}

TEST(TWSocketSocks, DataInTheGrantPacketComesRightAfterOnSessionConnected) {
    Bytes grant = {5, 0, 0, 1, 127, 0, 0, 1, 0, 1};
    for (const char ch : std::string("early bytes")) {
        grant.push_back(static_cast<std::uint8_t>(ch));
    }
    ScriptedPeer peer(level5Script("127.0.0.1", grant));
    Client cl;
    cl.s.OnSessionConnected = [&](TObject*, Word e) {
        cl.note("connected:" + std::to_string(e));
        char two[2];
        EXPECT_EQ(cl.s.RcvdCount(), 11);
        ASSERT_EQ(cl.s.Receive(two, 2), 2);  // the leftover comes before the library's bytes
        EXPECT_EQ(std::string(two, 2), "ea");
    };
    cl.through(peer.portText(), "5", 7);
    ASSERT_TRUE(pumpUntil([&] { return cl.received.size() >= 9; })) << cl.rec.joined();
    EXPECT_EQ(cl.rec.road(), "socks:0 connected:0 data:rly bytes");
    EXPECT_EQ(cl.rcvdCounts.front(), 9);

    // Read in small pieces, one per event, the data all comes although the
    // proxy sends nothing more: none of it waits for further bytes.
    ScriptedPeer quiet(level5Script("127.0.0.1", grant));
    Client pieces;
    pieces.s.SetComponentOptions(TWSocketOptions{wsoNoReceiveLoop});
    pieces.s.OnDataAvailable = [&](TObject*, Word) {
        char three[3];
        pieces.received.append(three,
                               static_cast<std::size_t>(std::max(pieces.s.Receive(three, 3), 0)));
    };
    pieces.through(quiet.portText(), "5", 7);
    EXPECT_TRUE(pumpUntil([&] { return pieces.received == "early bytes"; }, 3000))
        << pieces.received;
}

TEST(TWSocketSocks, RepliesSplitByteByByteAndAuthenticationStates) {
    const Bytes nameGrant = {5, 0, 0, 3, 5, 'p', 'r', 'o', 'x', 'y', 0x04, 0x00};
    struct Case {
        const char* name;
        std::vector<Step> script;
        Then then;
        std::string road;
    };
    const std::vector<Case> cases = {
        {"authentication, byte by byte",
         {{3, {5, 2}, true}, {3 + 2 + 2, {1, 0}, true}, {7 + 9, nameGrant, true}},
         Then::Hold,
         "socks:0 auth:0 auth:1 connected:0"},
        {"authentication offered, not required",
         {{3, {5, 0}}, {7 + 9, nameGrant}},
         Then::Hold,
         "socks:0 auth:3 connected:0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer(c.script, c.then);
        Client cl;
        cl.authenticate("me", "pw");
        cl.through(peer.portText(), "5", 1024);
        ASSERT_TRUE(cl.settled()) << cl.rec.joined();
        EXPECT_EQ(cl.rec.road(), c.road);
        if (cl.s.State() == wsConnected) {
            EXPECT_EQ(cl.s.SocksBoundAddr(), "proxy");
            EXPECT_EQ(cl.s.SocksBoundPort(), "1024");
        }
    }
}

// A proxy answering ahead: its method reply, grant and first data in one read are taken
// like the same bytes one at a time.
TEST(TWSocketSocks, MethodReplyAndGrantInOneRead) {
    Bytes replies = {5, 0, 5, 0, 0, 1, 127, 0, 0, 1, 0, 1};
    replies.insert(replies.end(), {'h', 'i'});
    ScriptedPeer peer({{3, replies}, {7 + 9, {}}});
    Client cl;
    cl.through(peer.portText(), "5", 7);
    ASSERT_TRUE(pumpUntil([&] { return cl.received == "hi"; }, 3000)) << cl.rec.joined();
    EXPECT_EQ(cl.rec.road(), "socks:0 connected:0 data:hi");
    ASSERT_TRUE(pumpUntil([&] { return peer.stepsDone() == 2; }, 3000));
    EXPECT_EQ(peer.requests().at(1),
              (Bytes{5, 1, 0, 3, 9, '1', '2', '7', '.', '0', '.', '0', '.', '1', 0, 7}));
}

// However the proxy stops answering, the owner learns that the connect failed: a proxy that
// stalls is given up at the connect's deadline, counted from Connect (10060), one that closes
// (10053) or resets (10054) fails the connect at once; a reply sent before the close decides.
TEST(TWSocketSocks, StalledOrClosingProxyFailsTheConnect) {
    using std::chrono::milliseconds;
    const auto failed = [](const std::string& code, const std::string& text) {
        return "sockserror:" + code + " " + text + " connected:" + code + " closed:" + code;
    };
    const std::string timedOut = failed("10060", "socks server did not answer in time");
    const std::string closedBy = failed("10053", "socks server closed the connection");
    enum class End { Stall, Close, Reset };
    struct Case {
        const char* name;
        std::vector<Step> script;
        End end;
        std::string road;
    };
    const std::vector<Case> cases = {
        {"silent", {}, End::Stall, "socks:0 " + timedOut},
        {"half a grant",
         {{3, {5, 0}}, {16, {5, 0, 0, 1, 127}}},
         End::Stall,
         "socks:0 auth:3 " + timedOut},
        {"closes before the method reply", {{3, {}}}, End::Close, "socks:0 " + closedBy},
        {"closes while authenticating",
         {{3, {5, 2}}, {7, {}}},
         End::Close,
         "socks:0 auth:0 auth:2 " + closedBy},
        {"refuses, then closes",
         {{3, {5, 2}}, {7, {1, 1}}},
         End::Close,
         "socks:0 auth:0 " + failed("20015", "socks authentication failed")},
        {"resets",
         {{3, {}}},
         End::Reset,
         "socks:0 " + failed("10054", "socks server closed the connection")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer(c.script, c.end == End::Close ? Then::Close : Then::Hold);
        Client cl;
        cl.authenticate("me", "pw");
        cl.s.SetConnectTimeout(milliseconds(c.end == End::Stall ? 600 : 5000));
        const auto start = std::chrono::steady_clock::now();
        cl.through(peer.portText(), "5", 80);
        // The connection to the proxy stands meanwhile; this time counts.
        std::this_thread::sleep_for(milliseconds(300));
        if (c.end == End::Reset) {
            ASSERT_TRUE(pumpUntil([&] { return peer.stepsDone() == 1; }, 3000));
            peer.resetClient();
        }
        ASSERT_TRUE(pumpUntil([&] { return cl.rec.hasPrefix("closed:"); }, 3000))
            << cl.rec.joined();
        const auto elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(cl.rec.road(), c.road);
        if (c.end == End::Stall) {
            EXPECT_GE(elapsed, milliseconds(600));
            EXPECT_LT(elapsed, milliseconds(850));
            EXPECT_TRUE(pumpUntil([&] { return peer.clientClosedByPeer(); }, 3000));
        }
        pumpFor(30);
        EXPECT_EQ(cl.rec.road(), c.road);  // nothing follows
    }
}

TEST(TWSocketSocks, RareRepliesFailTheHandshake) {
    Bytes overlong = {5, 0, 0, 3, 200};
    overlong.insert(overlong.end(), 202, 'n');
    const auto grant5 = [](Bytes reply) { return level5Script("127.0.0.1", std::move(reply)); };
    const auto reply4 = [](std::uint8_t version, std::uint8_t code) {
        return std::vector<Step>{{8 + 1, {version, code, 0, 0, 0, 0, 0, 0}}};
    };
    const auto authReply = [](Bytes reply) { return std::vector<Step>{{3, {5, 2}}, {3, reply}}; };
    struct Case {
        std::string level;
        std::vector<Step> script;
        std::string failure;
    };
    const std::vector<Case> cases = {
        {"5", grant5({5, 1}), "20004 general SOCKS server failure"},
        {"5", grant5({5, 2, 0}), "20005 connection not allowed by ruleset"},
        {"5", grant5({5, 6}), "20009 time to live expired"},
        {"5", grant5({5, 42}), "20012 unassigned error #42"},
        {"5", grant5({5, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
         "20011 address type not supported"},  // an IPv6 bound address
        {"5", level5Script("127.0.0.1", overlong, true), "20001 socks reply too long"},
        {"5", authReply({1, 0, 0}), "20001 too much data availaible"},
        {"5", authReply({5, 0}), "20002 socks version error"},
        {"4", reply4(0, 93), "20015 authentification failed"},  // identd disagrees
        {"4", reply4(0, 92), "20008 connection refused"},       // no identd
        {"4", reply4(0, 7), "20012 unassigned error #7"},
        {"4", reply4(4, 90), "20002 socks version error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failure);
        ScriptedPeer peer(c.script);
        Client cl;
        cl.s.SetSocksAuthentication(socksAuthenticateUsercode);
        cl.through(peer.portText(), c.level, 80);
        ASSERT_TRUE(pumpUntil([&] { return cl.rec.hasPrefix("closed:"); })) << cl.rec.joined();
        const std::string code = c.failure.substr(0, 5);
        EXPECT_NE(cl.rec.road().find("sockserror:" + c.failure + " connected:" + code +
                                     " closed:" + code),
                  std::string::npos)
            << cl.rec.road();
    }
}

TEST(TWSocketSocks, Level4TargetThatCannotBeResolved) {
    ScriptedPeer peer({Step{1, {}}});
    Client cl;
    const std::string name(300, 'x');
    cl.through(peer.portText(), "4", 80, name);
    ASSERT_TRUE(pumpUntil([&] { return cl.rec.hasPrefix("closed:"); })) << cl.rec.joined();
    EXPECT_EQ(cl.rec.road(), "socks:0 sockserror:20017 ESocketException Winsock Resolve Host: '" +
                                 name + "' Invalid Hostname. connected:20017 closed:20017");
    pumpFor(50);
    EXPECT_TRUE(peer.requests().at(0).empty());  // nothing was sent
}

TEST(TWSocketSocks, PropertyRulesAndRefusedConnects) {
    const std::string tooLong(256, 'x');
    struct Case {
        std::function<void(TWSocket&)> setUp;  // before Connect
        std::string raised;
    };
    const std::vector<Case> cases = {
        {[](TWSocket& s) { s.SetSocksLevel("5A"); }, "Invalid socks level. Must be 4, 4A or 5."},
        {[](TWSocket& s) { s.SetProto("udp"); },
         "TCP is the only protocol supported thru socks server"},
        {[](TWSocket& s) { s.Listen(); }, "Listening is not supported thru socks server"},
        {[&](TWSocket& s) { s.SetSocksUsercode(tooLong); },
         "Connect: Socks user code longer than 255 bytes"},
        {[&](TWSocket& s) { s.SetSocksPassword(tooLong); },
         "Connect: Socks password longer than 255 bytes"},
        {[&](TWSocket& s) { s.SetAddr(tooLong); },
         "Connect: Host name longer than 255 bytes for the socks server"},
        {[](TWSocket& s) { s.SetSocksPort(""); }, "Connect: Winsock Resolve Port: Invalid Port."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.raised);
        Client cl;
        cl.s.SetSocksServer(" 127.0.0.1 ");
        cl.s.SetSocksPort("1080");
        prepareLoopback(cl.s, "80");
        cl.rec.events.clear();
        cl.s.OnError = nullptr;
        EXPECT_EQ(raisedText<ESocketException>([&] {
                      c.setUp(cl.s);
                      cl.s.Connect();
                  }),
                  c.raised);
        EXPECT_TRUE(cl.rec.events.empty()) << cl.rec.joined();  // no connection was tried
        EXPECT_EQ(cl.s.SocksServer(), "127.0.0.1");
    }
}

TEST(TWSocketSocks, SettingsWhileConnectedAndAfterClose) {
    ScriptedPeer peer(level5Script("127.0.0.1", {5, 0, 0, 1, 127, 0, 0, 1, 0, 1}));
    Client cl;
    cl.through(peer.portText(), "5", 1);
    ASSERT_TRUE(cl.settled());
    cl.s.OnError = nullptr;
    const auto raised = [&](auto f) { return raisedText<ESocketException>(f); };
    EXPECT_EQ(raised([&] { cl.s.SetSocksServer("x"); }), "Can't change socks server if not closed");
    EXPECT_EQ(raised([&] { cl.s.SetSocksPort("1"); }), "Can't change socks port if not closed");
    EXPECT_EQ(raised([&] { cl.s.SetSocksLevel("4"); }), "Can't change socks level if not closed");
    cl.s.Close();
    EXPECT_EQ(cl.s.SocksServer(), "");
    EXPECT_EQ(cl.s.SocksPort(), "");
    EXPECT_EQ(cl.s.SocksLevel(), "5");

    // The next Connect goes direct.
    EchoServer echo;
    cl.rec.events.clear();
    prepareLoopback(cl.s, echo.portText());
    cl.s.Connect();
    ASSERT_TRUE(cl.settled());
    EXPECT_EQ(cl.rec.road(), "connected:0");
    cl.s.SendStr("direct");
    EXPECT_TRUE(pumpUntil([&] { return cl.received == "direct"; })) << cl.received;
}

}  // namespace
