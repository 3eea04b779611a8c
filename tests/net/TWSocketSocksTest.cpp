// TWSocket through SOCKS proxies on 127.0.0.1: Debian's microsocks and danted
// relaying to an echo server, and a scripted peer for level 4A and the replies
// real proxies do not give on demand.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "net/TWSocket.h"
#include "support/EchoServer.h"
#include "support/EventPump.h"
#include "support/EventRecorder.h"
#include "support/LoopbackListener.h"
#include "support/LoopbackServer.h"
#include "support/RaisedText.h"
#include "support/ScriptedSocksPeer.h"
#include "support/SocksProxyProcess.h"

using namespace vandrel::net;
using namespace vandrel::test;
using Bytes = ScriptedSocksPeer::Bytes;
using Step = ScriptedSocksPeer::Step;

namespace {

// The socket with every hook recorded; received data is collected, and
// "data:<bytes>" recorded for each OnDataAvailable that read something.
struct Client {
    EventRecorder rec;  // declared first: it outlives the socket, whose close it records
    TWSocket s;
    std::string received;
    std::vector<int> rcvdCounts;

    Client() {
        rec.attach(s);
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

    void through(const std::string& proxyPort, const std::string& level, std::uint16_t target,
                 const std::string& addr = "127.0.0.1") {
        s.SetSocksServer("127.0.0.1");
        s.SetSocksPort(proxyPort);
        s.SetSocksLevel(level);
        s.SetProto("tcp");
        s.SetAddr(addr);
        s.SetPort(std::to_string(target));
        s.Connect();
    }
    bool settled() {
        return pumpUntil([&] { return rec.has("closed:0") || hasPrefix("connected:"); });
    }
    bool hasPrefix(const std::string& p) const {
        for (const auto& e : rec.events) {
            if (e.rfind(p, 0) == 0) {
                return true;
            }
        }
        return false;
    }
    // The road without the state changes.
    std::string road() const {
        std::string out;
        for (const auto& e : rec.events) {
            if (e.find("->") == std::string::npos) {
                out += (out.empty() ? "" : " ") + e;
            }
        }
        return out;
    }
};

std::string pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        s[i] = static_cast<char>(patternByte(i));
    }
    return s;
}

struct ProxyCase {
    const char* name;
    std::function<SocksProxyProcess()> start;
    std::string level;
    std::string user, password;
    std::string road;
};

TEST(TWSocketSocks, DataFlowsBothWaysThroughRealProxies) {
    EchoServer echo;
    const std::vector<ProxyCase> cases = {
        {"microsocks", [] { return SocksProxyProcess::microsocks(); }, "5", "", "",
         "socks:0 connected:0"},
        {"microsocks with user and password",
         [] { return SocksProxyProcess::microsocks("vandrel", "s3cret"); }, "5", "vandrel",
         "s3cret", "socks:0 auth:0 auth:1 connected:0"},
        {"danted level 4", [] { return SocksProxyProcess::danted(); }, "4", "me", "",
         "socks:0 connected:0"},
        {"danted level 5", [] { return SocksProxyProcess::danted(); }, "5", "", "",
         "socks:0 connected:0"},
    };
    const std::string payload = pattern(300 * 1024);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SocksProxyProcess proxy = c.start();
        ASSERT_TRUE(proxy.ready()) << proxy.error();
        Client cl;
        cl.s.SetSocksUsercode(c.user);
        cl.s.SetSocksPassword(c.password);
        cl.s.SetSocksAuthentication(c.user.empty() ? socksNoAuthentication
                                                   : socksAuthenticateUsercode);
        cl.through(proxy.portText(), c.level, echo.port());
        ASSERT_TRUE(cl.settled()) << cl.rec.joined();
        EXPECT_EQ(cl.road(), c.road);
        EXPECT_EQ(cl.s.State(), wsConnected);
        cl.s.SendStr(payload);
        ASSERT_TRUE(pumpUntil([&] { return cl.received.size() >= payload.size(); }))
            << cl.received.size();
        EXPECT_TRUE(cl.received == payload);
        cl.s.Close();
        EXPECT_EQ(cl.rec.events.back(), "closed:0");
        EXPECT_EQ(cl.s.SocksServer(), "");
        EXPECT_EQ(cl.s.SocksLevel(), "5");
    }
    EXPECT_EQ(echo.acceptedCount(), static_cast<int>(cases.size()));
}

struct FailureCase {
    const char* name;
    std::function<SocksProxyProcess()> start;
    std::string level;
    std::string password;  // user "vandrel" when set
    bool refusedTarget;
    std::string road;
};

TEST(TWSocketSocks, RealProxiesRefuse) {
    const std::vector<FailureCase> cases = {
        {"wrong password", [] { return SocksProxyProcess::microsocks("vandrel", "s3cret"); }, "5",
         "wrong", false,
         "socks:0 auth:0 sockserror:20015 socks authentication failed connected:20015"
         " wsConnected->wsClosed closed:20015"},
        {"no method acceptable", [] { return SocksProxyProcess::microsocks("vandrel", "s3cret"); },
         "5", "", false,
         "socks:0 sockserror:20003 authentification method not acceptable connected:20003"
         " wsConnected->wsClosed closed:20003"},
        {"microsocks, target refused", [] { return SocksProxyProcess::microsocks(); }, "5", "",
         true,
         "socks:0 sockserror:20008 connection refused connected:20008 wsConnected->wsClosed "
         "closed:20008"},
        {"danted 5, target refused", [] { return SocksProxyProcess::danted(); }, "5", "", true,
         "socks:0 sockserror:20008 connection refused connected:20008 wsConnected->wsClosed "
         "closed:20008"},
        {"danted 4, target refused", [] { return SocksProxyProcess::danted(); }, "4", "", true,
         "socks:0 sockserror:20016 request rejected or failed connected:20016 "
         "wsConnected->wsClosed closed:20016"},
    };
    EchoServer echo;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SocksProxyProcess proxy = c.start();
        ASSERT_TRUE(proxy.ready()) << proxy.error();
        Client cl;
        if (!c.password.empty()) {
            cl.s.SetSocksUsercode("vandrel");
            cl.s.SetSocksPassword(c.password);
            cl.s.SetSocksAuthentication(socksAuthenticateUsercode);
        }
        cl.through(proxy.portText(), c.level, c.refusedTarget ? unusedPort() : echo.port());
        ASSERT_TRUE(pumpUntil([&] { return cl.hasPrefix("closed:"); })) << cl.rec.joined();
        std::string all;
        for (const auto& e : cl.rec.events) {
            all += (all.empty() ? "" : " ") + e;
        }
        EXPECT_EQ(all,
                  "wsClosed->wsOpened wsOpened->wsConnecting wsConnecting->wsConnected " + c.road);
        EXPECT_EQ(cl.s.State(), wsClosed);
    }
}

TEST(TWSocketSocks, ProxyRefusingTheConnectionGivesTheSocketError) {
    Client cl;
    cl.through(std::to_string(unusedPort()), "5", 9);
    ASSERT_TRUE(pumpUntil([&] { return cl.hasPrefix("closed:"); })) << cl.rec.joined();
    EXPECT_EQ(cl.road(), "socks:10061 connected:10061 closed:0");
}

// A script that answers a level 5 offer without authentication and grants
// the connect request with `grant` (sent at once, or byte by byte).
std::vector<Step> level5Script(const std::string& host, Bytes grant, bool byteByByte = false) {
    return {{3, {5, 0}, byteByByte}, {7 + host.size(), std::move(grant), byteByByte}};
}

TEST(TWSocketSocks, Level4AAndLevel5RequestsOnTheWire) {
    ScriptedSocksPeer peer({{8 + 3 + 10, {0, 90, 0, 0, 0, 0, 0, 0}}});
    Client cl;
    cl.s.SetSocksUsercode("me");
    cl.through(peer.portText(), "4a", 0x1234, "localhost");
    EXPECT_EQ(cl.s.SocksLevel(), "4A");
    ASSERT_TRUE(cl.settled()) << cl.rec.joined();
    EXPECT_EQ(cl.road(), "socks:0 connected:0");
    EXPECT_EQ(peer.requests().at(0), (Bytes{4,   1,   0x12, 0x34, 0,   0,   0,   1,   'm', 'e', 0,
                                            'l', 'o', 'c',  'a',  'l', 'h', 'o', 's', 't', 0}));
    cl.s.SendStr("after the grant");  // the peer echoes from here on
    ASSERT_TRUE(pumpUntil([&] { return cl.received == "after the grant"; })) << cl.received;

    ScriptedSocksPeer five(level5Script("10.1.2.3", {5, 0, 0, 1, 10, 1, 2, 3, 0, 99}));
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
    ScriptedSocksPeer peer(level5Script("127.0.0.1", grant));
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
    EXPECT_EQ(cl.road(), "socks:0 connected:0 data:rly bytes");
    EXPECT_EQ(cl.rcvdCounts.front(), 9);

    // Read in small pieces, one per event, the data all comes although the
    // proxy sends nothing more: none of it waits for further bytes.
    ScriptedSocksPeer quiet(level5Script("127.0.0.1", grant), ScriptedSocksPeer::Then::Hold);
    Client pieces;
    pieces.s.SetComponentOptions(TWSocketOptions{wsoNoReceiveLoop});
    pieces.s.OnDataAvailable = [&](TObject*, Word) {
        char three[3];
        const int n = pieces.s.Receive(three, 3);
        if (n > 0) {
            pieces.received.append(three, static_cast<std::size_t>(n));
        }
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
        ScriptedSocksPeer::Then then;
        std::string road;
    };
    const std::vector<Case> cases = {
        {"authentication, byte by byte",
         {{3, {5, 2}, true}, {3 + 2 + 2, {1, 0}, true}, {7 + 9, nameGrant, true}},
         ScriptedSocksPeer::Then::Hold,
         "socks:0 auth:0 auth:1 connected:0"},
        {"authentication offered, not required",
         {{3, {5, 0}}, {7 + 9, nameGrant}},
         ScriptedSocksPeer::Then::Hold,
         "socks:0 auth:3 connected:0"},
        {"proxy closes while authenticating",
         {{3, {5, 2}}, {3 + 2 + 2, {}}},
         ScriptedSocksPeer::Then::Close,
         "socks:0 auth:0 auth:2 closed:0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedSocksPeer peer(c.script, c.then);
        Client cl;
        cl.s.SetSocksUsercode("me");
        cl.s.SetSocksPassword("pw");
        cl.s.SetSocksAuthentication(socksAuthenticateUsercode);
        cl.through(peer.portText(), "5", 1024, "127.0.0.1");
        ASSERT_TRUE(pumpUntil([&] {
            return cl.hasPrefix("connected:") || cl.hasPrefix("closed:");
        })) << cl.rec.joined();
        EXPECT_EQ(cl.road(), c.road);
        if (cl.s.State() == wsConnected) {
            EXPECT_EQ(cl.s.SocksBoundAddr(), "proxy");
            EXPECT_EQ(cl.s.SocksBoundPort(), "1024");
        }
    }
}

TEST(TWSocketSocks, RareRepliesFailTheHandshake) {
    Bytes overlong = {5, 0, 0, 3, 200};
    overlong.insert(overlong.end(), 202, 'n');
    struct Case {
        const char* name;
        std::string level;
        std::vector<Step> script;
        std::string failure;
    };
    const std::vector<Case> cases = {
        {"general failure", "5", level5Script("127.0.0.1", {5, 1}),
         "20004 general SOCKS server failure"},
        {"ruleset", "5", level5Script("127.0.0.1", {5, 2, 0}),
         "20005 connection not allowed by ruleset"},
        {"TTL", "5", level5Script("127.0.0.1", {5, 6}), "20009 time to live expired"},
        {"unassigned", "5", level5Script("127.0.0.1", {5, 42}), "20012 unassigned error #42"},
        {"IPv6 bound address", "5", level5Script("127.0.0.1", {5, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0,
                                                               0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
         "20011 address type not supported"},
        {"reply longer than the buffer", "5", level5Script("127.0.0.1", overlong, true),
         "20001 socks reply too long"},
        {"too much authentication reply",
         "5",
         {{3, {5, 2}}, {3, {1, 0, 0}}},
         "20001 too much data availaible"},
        {"authentication reply version",
         "5",
         {{3, {5, 2}}, {3, {5, 0}}},
         "20002 socks version error"},
        {"level 4 identd",
         "4",
         {{8 + 1, {0, 93, 0, 0, 0, 0, 0, 0}}},
         "20015 authentification failed"},
        {"level 4 no identd",
         "4",
         {{8 + 1, {0, 92, 0, 0, 0, 0, 0, 0}}},
         "20008 connection refused"},
        {"level 4 unassigned",
         "4",
         {{8 + 1, {0, 7, 0, 0, 0, 0, 0, 0}}},
         "20012 unassigned error #7"},
        {"level 4 version", "4", {{8 + 1, {4, 90, 0, 0, 0, 0, 0, 0}}}, "20002 socks version error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedSocksPeer peer(c.script, ScriptedSocksPeer::Then::Hold);
        Client cl;
        cl.s.SetSocksAuthentication(socksAuthenticateUsercode);
        cl.through(peer.portText(), c.level, 80, "127.0.0.1");
        ASSERT_TRUE(pumpUntil([&] { return cl.hasPrefix("closed:"); })) << cl.rec.joined();
        const std::string code = c.failure.substr(0, 5);
        EXPECT_TRUE(cl.road().find("sockserror:" + c.failure + " connected:" + code +
                                   " closed:" + code) != std::string::npos)
            << cl.road();
    }
}

TEST(TWSocketSocks, Level4TargetThatCannotBeResolved) {
    ScriptedSocksPeer peer({{1, {}}}, ScriptedSocksPeer::Then::Hold);
    Client cl;
    const std::string name(300, 'x');
    cl.through(peer.portText(), "4", 80, name);
    ASSERT_TRUE(pumpUntil([&] { return cl.hasPrefix("closed:"); })) << cl.rec.joined();
    EXPECT_EQ(cl.road(), "socks:0 sockserror:20017 ESocketException Winsock Resolve Host: '" +
                             name + "' Invalid Hostname. connected:20017 closed:20017");
    pumpFor(50);
    EXPECT_TRUE(peer.requests().at(0).empty());  // nothing was sent
}

TEST(TWSocketSocks, PropertyRulesAndRefusedConnects) {
    const std::string tooLong(256, 'x');
    struct Case {
        const char* name;
        std::function<void(TWSocket&)> setUp;
        std::string raised;
    };
    const std::vector<Case> cases = {
        {"invalid level", [](TWSocket& s) { s.SetSocksLevel("5A"); },
         "Invalid socks level. Must be 4, 4A or 5."},
        {"udp",
         [](TWSocket& s) {
             s.SetProto("udp");
             s.Connect();
         },
         "TCP is the only protocol supported thru socks server"},
        {"listen", [](TWSocket& s) { s.Listen(); }, "Listening is not supported thru socks server"},
        {"long user",
         [&](TWSocket& s) {
             s.SetSocksUsercode(tooLong);
             s.Connect();
         },
         "Connect: Socks user code longer than 255 bytes"},
        {"long password",
         [&](TWSocket& s) {
             s.SetSocksPassword(tooLong);
             s.Connect();
         },
         "Connect: Socks password longer than 255 bytes"},
        {"long host",
         [&](TWSocket& s) {
             s.SetAddr(tooLong);
             s.Connect();
         },
         "Connect: Host name longer than 255 bytes for the socks server"},
        {"no proxy port",
         [](TWSocket& s) {
             s.SetSocksPort("");
             s.Connect();
         },
         "Connect: Winsock Resolve Port: Invalid Port."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Client cl;
        cl.s.SetSocksServer(" 127.0.0.1 ");
        cl.s.SetSocksPort("1080");
        cl.s.SetAddr("127.0.0.1");
        cl.s.SetPort("80");
        cl.rec.events.clear();
        cl.s.OnError = nullptr;
        EXPECT_EQ(raisedText<ESocketException>([&] { c.setUp(cl.s); }), c.raised);
        EXPECT_TRUE(cl.rec.events.empty()) << cl.rec.joined();  // no connection was tried
        EXPECT_EQ(cl.s.SocksServer(), "127.0.0.1");
    }
}

TEST(TWSocketSocks, SettingsWhileConnectedAndAfterClose) {
    ScriptedSocksPeer peer(level5Script("127.0.0.1", {5, 0, 0, 1, 127, 0, 0, 1, 0, 1}),
                           ScriptedSocksPeer::Then::Hold);
    Client cl;
    cl.through(peer.portText(), "5", 1);
    ASSERT_TRUE(cl.settled());
    cl.s.OnError = nullptr;
    EXPECT_EQ(raisedText<ESocketException>([&] { cl.s.SetSocksServer("x"); }),
              "Can't change socks server if not closed");
    EXPECT_EQ(raisedText<ESocketException>([&] { cl.s.SetSocksPort("1"); }),
              "Can't change socks port if not closed");
    EXPECT_EQ(raisedText<ESocketException>([&] { cl.s.SetSocksLevel("4"); }),
              "Can't change socks level if not closed");
    cl.s.Close();
    EXPECT_EQ(cl.s.SocksServer(), "");
    EXPECT_EQ(cl.s.SocksPort(), "");
    EXPECT_EQ(cl.s.SocksLevel(), "5");

    // The next Connect goes direct.
    EchoServer echo;
    cl.rec.events.clear();
    cl.s.SetAddr("127.0.0.1");
    cl.s.SetPort(echo.portText());
    cl.s.Connect();
    ASSERT_TRUE(cl.settled());
    EXPECT_EQ(cl.road(), "connected:0");
    cl.s.SendStr("direct");
    EXPECT_TRUE(pumpUntil([&] { return cl.received == "direct"; })) << cl.received;
}

}  // namespace
