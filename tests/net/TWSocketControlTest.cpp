// Listening, accepting, pausing, lookups and address queries, and the
// receive/send paths that batch system calls.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <atomic>
#include <cstring>
#include <memory>

#include "net/SocketWindow.h"
#include "support/EventPump.h"
#include "support/SocketFixture.h"
#include "support/TestSockets.h"

using namespace vandrel::test;
using namespace vandrel::net;
using Events = std::vector<std::string>;
using Codes = std::vector<int>;

namespace {

// A listening TWSocket that adopts each accepted handle in a TWSocket of its own.
struct Listener {
    TWSocket listening;
    std::vector<std::unique_ptr<TWSocket>> accepted;
    std::string received;

    Listener() {
        prepareLoopback(listening, "0");
        listening.OnSessionAvailable = [this](TObject*, Word) {
            auto& c = *accepted.emplace_back(std::make_unique<TWSocket>());
            c.OnDataAvailable = [this, &c](TObject*, Word) { received += c.ReceiveStr(); };
            c.Dup(listening.Accept());
        };
        listening.Listen();
    }
};

// The client's received data and finished lookups are collected.
class TWSocketControl : public SocketFixture {
protected:
    void SetUp() override {
        s.OnDataAvailable = [this](TObject*, Word) { reply += s.ReceiveStr(); };
        s.OnDnsLookupDone = [this](TObject*, Word e) { done.push_back(e); };
    }
    // Connects the client to the listening TWSocket and runs the loop until both ends stand.
    bool connectToListener() {
        prepareLoopback(s, l.listening.BoundPort());
        s.Connect();
        return pumpUntil([&] { return !l.accepted.empty() && rec.has("sent:0"); });
    }

    // Datagrams are read with ReceiveFrom into reply; from is the sender's address:port.
    void collectDatagrams(std::string& from) {
        s.OnDataAvailable = [this, &from](TObject*, Word) {
            char buf[64];
            sockaddr_in sin{};
            int len = sizeof sin;
            const int n = s.ReceiveFrom(buf, sizeof buf, reinterpret_cast<sockaddr*>(&sin), len);
            if (n > 0) {
                reply.append(buf, static_cast<std::size_t>(n));
                from = std::string(inet_ntoa(sin.sin_addr)) + ":" +
                       std::to_string(ntohs(sin.sin_port));
            }
        };
    }

    Listener l;
    std::string reply;
    Codes done;
};

TEST_F(TWSocketControl, ListenAcceptAndDup) {
    ASSERT_EQ(l.listening.State(), wsListening);
    ASSERT_NE(l.listening.BoundPort(), "error");
    EXPECT_EQ(l.listening.BoundAddr(), "127.0.0.1");
    ASSERT_TRUE(connectToListener());
    EXPECT_EQ(l.accepted[0]->State(), wsConnected);
    EXPECT_EQ(l.accepted[0]->PeerPort(), s.BoundPort());

    s.SendStr("hello");
    l.accepted[0]->SendStr("world");
    ASSERT_TRUE(pumpUntil([&] { return l.received == "hello" && reply == "world"; }));
    s.Close();
    ASSERT_TRUE(pumpUntil([&] { return l.accepted[0]->State() == wsClosed; }));
}

TEST_F(TWSocketControl, RefusalsOfASocketNotListening) {
    // Address queries of an unconnected socket fail without an error event.
    EXPECT_EQ(s.GetPeerAddr(), "error");
    EXPECT_EQ(s.GetPeerPort(), "error");
    EXPECT_EQ(s.BoundAddr(), "error");
    sockaddr_in sin{};
    EXPECT_EQ(s.GetPeerName(reinterpret_cast<sockaddr*>(&sin), sizeof sin), -1);
    EXPECT_EQ(rec.errors, 0);

    TWSocket fresh;
    EXPECT_EQ(raised([&] { fresh.Listen(); }),
              "Invalid argument (#10022 in listen: port not assigned)");
    EXPECT_EQ(raised([&] { fresh.Accept(); }),
              "Invalid argument (#10022 in not a listening socket)");

    ASSERT_TRUE(connectToListener());  // a connected socket does not accept either
    rec.events.clear();
    EXPECT_EQ(s.Accept(), INVALID_SOCKET);
    EXPECT_EQ(s.LastError(), 10022);
    EXPECT_EQ(rec.events, (Events{"error"}));
    EXPECT_EQ(s.State(), wsConnected);
}

// A paused or detached socket fires nothing; resumed or attached again, it delivers what
// arrived meanwhile.
TEST_F(TWSocketControl, PausedOrDetachedSocketsKeepTheirData) {
    ASSERT_TRUE(connectToListener());
    l.accepted[0]->Pause();
    s.SendStr("while paused");
    s.OnError = nullptr;
    EXPECT_THROW(s.AttachToThread(), ESocketException);  // not detached yet
    s.DetachFromThread();
    EXPECT_EQ(s.Handle(), nullptr);
    l.accepted[0]->SendStr("while detached");
    pumpFor(100);
    EXPECT_EQ(l.received, "");
    EXPECT_EQ(reply, "");
    l.accepted[0]->Resume();
    s.AttachToThread();
    ASSERT_TRUE(
        pumpUntil([&] { return l.received == "while paused" && reply == "while detached"; }));
}

// A dotted address completes inside the call; names through the event loop, a second lookup
// replacing the first without an event of its own; a cancel reports "interrupted" at once
// and nothing later.
TEST_F(TWSocketControl, Lookups) {
    s.DnsLookup(" 127.0.0.1 ");
    ASSERT_EQ(done, Codes{0});
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");
    EXPECT_EQ(s.DnsResultList(), (std::vector<std::string>{"127.0.0.1"}));

    done.clear();
    s.DnsLookup("localhost");
    EXPECT_TRUE(done.empty());
    s.DnsLookup("localhost");
    ASSERT_TRUE(pumpUntil([&] { return !done.empty(); }));
    pumpFor(100);
    EXPECT_EQ(done, Codes{0});
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");

    done.clear();
    s.DnsLookup("localhost");
    s.CancelLookup();
    EXPECT_EQ(done, Codes{10004});
    pumpFor(100);
    EXPECT_EQ(done.size(), 1u);

    done.clear();
    s.DnsLookup("");
    EXPECT_EQ(rec.errors, 1);
    EXPECT_EQ(done, Codes{10022});
}

TEST_F(TWSocketControl, ReceiveOutsideTheHandlerReoffersTheRest) {
    int calls = 0;
    s.OnDataAvailable = [&](TObject*, Word) {
        if (++calls == 1) {
            s.SetLastError(-1);  // not now
            return;
        }
        reply += s.ReceiveStr();
    };
    ASSERT_TRUE(connect([](int fd) {
        writeAll(fd, std::string(100, 'r').data(), 100);
        std::uint64_t sum = 0;
        readToEnd(fd, sum);
    })) << rec.joined();
    ASSERT_TRUE(pumpUntil([&] { return calls == 1; }));
    pumpFor(30);
    ASSERT_EQ(calls, 1);
    char buf[10];
    ASSERT_EQ(s.Receive(buf, sizeof buf), 10);
    EXPECT_EQ(s.RcvdCount(), 90);
    ASSERT_TRUE(pumpUntil([&] { return reply.size() == 90; })) << reply.size();
    EXPECT_EQ(s.ReadCount(), 100);
}

// Sends made in one pass of the event loop leave with one OnDataSent; a Send from
// OnSendData queues behind the bytes whose sending fired the hook, and none of them goes out
// twice.
TEST_F(TWSocketControl, SendsOfOnePassLeaveTogetherAndOnlyOnce) {
    std::string got;
    ASSERT_TRUE(connect([&](int fd) {
        char buf[4096];
        for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) {
            got.append(buf, static_cast<std::size_t>(n));
        }
    })) << rec.joined();
    rec.events.clear();
    int sentBytes = 0;
    s.OnSendData = [&](TObject*, int n) {
        if ((sentBytes += n) == 30000) {
            s.SendStr("B");
        }
    };
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(s.SendStr(std::string(3000, 'A')), 3000);
    }
    ASSERT_TRUE(pumpUntil([&] { return rec.has("sent:0"); }));
    pumpFor(30);
    EXPECT_EQ(rec.count("sent:0"), 1);
    EXPECT_EQ(sentBytes, 30001);
    s.Flush();
    s.Shutdown(1);
    ASSERT_TRUE(pumpUntil([&] { return server.done(); }));
    EXPECT_EQ(got, std::string(30000, 'A') + "B");
}

// The application's pump makes one pass over what is pending; the thread's own pump goes on
// until nothing is left, events posted meanwhile included.
TEST_F(TWSocketControl, MultiThreadedPumpRunsPendingEvents) {
    server.serve([](int) {}, LoopbackServer::Connections::EachInTurn);
    for (bool multiThreaded : {false, true}) {
        SCOPED_TRACE(multiThreaded ? "MultiThreaded" : "application pump");
        TWSocket c;
        c.SetMultiThreaded(multiThreaded);
        bool closed = false;
        c.OnSessionClosed = [&](TObject*, Word) { closed = true; };
        prepareLoopback(c, server.portText());
        c.Connect();
        c.CloseLater();
        for (int i = 0; i < 200 && !closed; ++i) {
            c.PumpMessages();
            ::usleep(1000);
        }
        EXPECT_TRUE(closed);

        // A chain of five events, each posted by the one before.
        int ran = 0;
        std::function<void()> link = [&] {
            if (++ran < 5) {
                QMetaObject::invokeMethod(QCoreApplication::instance(), link, Qt::QueuedConnection);
            }
        };
        QMetaObject::invokeMethod(QCoreApplication::instance(), link, Qt::QueuedConnection);
        c.PumpMessages();
        if (multiThreaded) {
            EXPECT_EQ(ran, 5);
        } else {
            EXPECT_GE(ran, 1);
            EXPECT_LT(ran, 5);
        }
        ASSERT_TRUE(pumpUntil([&] { return ran == 5; }));
    }
}

int intOption(SocketHandle h, int level, int name) {
    int v = 0;
    socklen_t len = sizeof v;
    ::getsockopt(h, level, name, &v, &len);
    return v;
}

// A datagram listener stands at once and takes datagrams from anyone. A datagram goes out
// with SendTo to a plain UDP peer, which answers; OnSendData and the posted OnDataSent follow
// the send.
TEST_F(TWSocketControl, DatagramSendToAndReceiveFromRoundTrip) {
    std::string from;
    collectDatagrams(from);
    int sent = 0;
    s.OnSendData = [&](TObject*, int n) { sent += n; };
    prepareLoopback(s, "0", "udp");
    s.Listen();
    EXPECT_EQ(rec.events, (Events{"wsClosed->wsBound", "wsBound->wsListening",
                                  "wsListening->wsConnected", "connected:0"}));
    UdpProbe peer;
    ASSERT_TRUE(peer.ok());
    rec.events.clear();
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(peer.port());
    ASSERT_EQ(s.SendTo(reinterpret_cast<sockaddr*>(&to), sizeof to, "ping", 4), 4);
    EXPECT_EQ(sent, 4);
    const auto got = peer.receiveAll(milliseconds(50), milliseconds(2000));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].bytes, "ping");
    EXPECT_EQ(std::to_string(got[0].port), s.BoundPort());
    ASSERT_TRUE(
        peer.sendTo("127.0.0.1", static_cast<std::uint16_t>(std::stoi(s.BoundPort())), "pong"));
    ASSERT_TRUE(pumpUntil([&] { return reply == "pong" && rec.has("sent:0"); }));
    EXPECT_EQ(from, "127.0.0.1:" + std::to_string(peer.port()));
    EXPECT_EQ(s.ReadCount(), 4);
}

// Shutdown(0) ends the own reading, 1 the peer's, 2 both; without a socket it does nothing.
TEST_F(TWSocketControl, ShutdownEndsTheChosenDirections) {
    const struct {
        int how;
        bool peerReadsEnd;
        bool ownReadEnds;
    } cases[] = {{0, false, true}, {1, true, false}, {2, true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE("How " + std::to_string(c.how));
        LoopbackServer peer;
        std::atomic<bool> peerEnd{false};
        peer.serve([&](int fd) {
            const timeval wait{0, 200000};
            ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
            char byte = 0;
            peerEnd = ::recv(fd, &byte, 1, 0) == 0;
            ::usleep(100000);  // the own end reads before this side closes
        });
        RecordedSocket conn;
        ASSERT_TRUE(conn.connectTo(peer.portText())) << conn.rec.joined();
        conn.s.Shutdown(c.how);
        char buf[8];
        const int n = conn.s.Receive(buf, sizeof buf);
        EXPECT_EQ(n == 0, c.ownReadEnds) << n;
        if (!c.ownReadEnds) {
            EXPECT_EQ(conn.s.LastError(), 10035);
        }
        peer.join();  // without running events: a read notification would close the socket
        EXPECT_EQ(peerEnd.load(), c.peerReadsEnd);
    }
    TWSocket closed;
    closed.Shutdown(2);
    EXPECT_EQ(closed.State(), wsClosed);
}

// DrainUntilClosed goes on while the last receive would block (after data, or with that
// error left in the slot), delivering the data, until the peer has closed.
TEST_F(TWSocketControl, DrainUntilClosed) {
    const struct {
        const char* data;
        int preset;
    } cases[] = {{"abc", 0}, {"", 10035}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.data) + " " + std::to_string(c.preset));
        LoopbackServer peer;
        peer.serve([&](int fd) {
            writeAll(fd, c.data, std::strlen(c.data));
            ::usleep(200000);
        });
        RecordedSocket conn;
        std::string got;
        conn.s.OnDataAvailable = [&](TObject*, Word) { got += conn.s.ReceiveStr(); };
        ASSERT_TRUE(conn.connectTo(peer.portText())) << conn.rec.joined();
        WSocket_WSASetLastError(c.preset);
        conn.s.DrainUntilClosed();
        EXPECT_EQ(conn.s.State(), wsClosed);
        EXPECT_TRUE(conn.rec.has("closed:0")) << conn.rec.joined();
        EXPECT_EQ(got, c.data);
    }
    TWSocket unused;
    unused.DrainUntilClosed();
    EXPECT_EQ(unused.LastError(), 0);
}

// A multicast datagram client gets MultiCastIpTTL and LocalAddr as its outgoing options, only
// with MultiCast; nothing is sent.
TEST_F(TWSocketControl, MultiCastOptions) {
    const struct {
        bool multiCast;
        int ttl;
        const char* local;
        int wantTtl;
        const char* wantIf;
    } cases[] = {
        {true, 5, "127.0.0.1", 5, "127.0.0.1"},
        {true, 1, "0.0.0.0", 1, "0.0.0.0"},
        {false, 5, "127.0.0.1", 1, "0.0.0.0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.multiCast) + " " + c.local);
        TWSocket u;
        u.SetMultiCast(c.multiCast);
        u.SetMultiCastIpTTL(c.ttl);
        u.SetLocalAddr(c.local);
        prepareLoopback(u, "9", "udp");
        u.Connect();
        ASSERT_EQ(u.State(), wsConnected);
        EXPECT_EQ(intOption(u.HSocket(), IPPROTO_IP, IP_MULTICAST_TTL), c.wantTtl);
        in_addr iface{};
        socklen_t len = sizeof iface;
        ::getsockopt(u.HSocket(), IPPROTO_IP, IP_MULTICAST_IF, &iface, &len);
        EXPECT_STREQ(inet_ntoa(iface), c.wantIf);
    }

    // A multicast datagram listener joins MultiCastAddrStr on the interface of Addr; a group
    // that is no address is refused.
    const struct {
        bool multiCast;
        const char* group;
        bool joined;
        int errors;
    } listens[] = {
        {true, "239.1.2.3", true, 0},
        {false, "239.1.2.3", false, 0},
        {true, "no group", false, 1},
    };
    for (const auto& c : listens) {
        SCOPED_TRACE(std::string(c.group) + (c.multiCast ? " multicast" : ""));
        RecordedSocket u;
        u.s.SetMultiCast(c.multiCast);
        u.s.SetMultiCastAddrStr(c.group);
        prepareLoopback(u.s, "0", "udp");
        u.s.Listen();
        EXPECT_EQ(u.rec.errors, c.errors);
        ip_mreq mreq{};
        mreq.imr_multiaddr.s_addr = inet_addr("239.1.2.3");
        mreq.imr_interface.s_addr = htonl(INADDR_LOOPBACK);
        // Leaving succeeds only for a member.
        EXPECT_EQ(
            ::setsockopt(u.s.HSocket(), IPPROTO_IP, IP_DROP_MEMBERSHIP, &mreq, sizeof mreq) == 0,
            c.joined);
    }
}

// ReuseAddr applies to datagram listeners only; ListenBacklog reaches the library's listen.
TEST_F(TWSocketControl, ReuseAddrAndListenBacklog) {
    const struct {
        const char* proto;
        bool reuse;
        bool set;
    } cases[] = {{"udp", false, false}, {"udp", true, true}, {"tcp", true, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.proto) + (c.reuse ? " reuse" : ""));
        TWSocket u;
        u.SetReuseAddr(c.reuse);
        prepareLoopback(u, "0", c.proto);
        u.Listen();
        EXPECT_EQ(intOption(u.HSocket(), SOL_SOCKET, SO_REUSEADDR) != 0, c.set);
    }
    for (const int backlog : {5, 7}) {
        TWSocket t;
        if (backlog != 5) {
            t.SetListenBacklog(backlog);
        }
        prepareLoopback(t, "0");
        t.Listen();
        tcp_info info{};
        socklen_t len = sizeof info;
        ASSERT_EQ(::getsockopt(t.HSocket(), IPPROTO_TCP, TCP_INFO, &info, &len), 0);
        EXPECT_EQ(info.tcpi_sacked, static_cast<unsigned>(backlog));  // a listener's backlog
    }
}

// Both reverse lookups refuse an empty or over-long address with 10022 and take 256
// characters; without a window the asynchronous lookups are refused.
TEST_F(TWSocketControl, LookupRefusals) {
    const std::string longest(256, '1');
    const struct {
        bool blocking;
        std::string addr;
        bool refused;
    } cases[] = {{false, "", true},
                 {true, "", true},
                 {false, longest + "1", true},
                 {true, longest + "1", true},
                 {true, longest, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.addr.size()) + (c.blocking ? " blocking" : ""));
        done.clear();
        rec.errors = 0;
        c.blocking ? s.ReverseDnsLookupBlocking(c.addr) : s.ReverseDnsLookup(c.addr);
        EXPECT_EQ(rec.errors, c.refused ? 1 : 0);
        ASSERT_EQ(done.size(), 1u);
        EXPECT_EQ(done[0] == 10022, c.refused);
    }
    s.OnError = nullptr;
    EXPECT_EQ(raised([&] { s.ReverseDnsLookup(""); }), "Reverse DNS Lookup: Invalid host name.");
    s.DetachFromThread();
    EXPECT_EQ(raised([&] { s.ReverseDnsLookup("127.0.0.1"); }),
              "Reverse DNS Lookup: Window not assigned");
    EXPECT_EQ(raised([&] { s.DnsLookup("localhost"); }), "DNS Lookup: Window not assigned");
    s.AttachToThread();
}

// A reverse lookup's list is the record's official name followed by its non-empty aliases;
// the blocking one completes inside the call, the other through the event loop.
TEST_F(TWSocketControl, ReverseLookupListsNameAndAliases) {
    const std::uint32_t loopback = htonl(INADDR_LOOPBACK);
    const hostent* h = ::gethostbyaddr(&loopback, sizeof loopback, AF_INET);
    ASSERT_NE(h, nullptr);
    std::vector<std::string> want{h->h_name};
    for (char** a = h->h_aliases; *a; ++a) {
        if (**a) {
            want.emplace_back(*a);
        }
    }
    for (const bool blocking : {true, false}) {
        SCOPED_TRACE(blocking ? "blocking" : "asynchronous");
        s.DnsLookup("127.0.0.1");  // completes at once with a list of its own
        done.clear();
        blocking ? s.ReverseDnsLookupBlocking("127.0.0.1") : s.ReverseDnsLookup("127.0.0.1");
        EXPECT_EQ(done.size(), blocking ? 1u : 0u);
        ASSERT_TRUE(pumpUntil([&] { return !done.empty(); }));
        EXPECT_EQ(done, Codes{0});
        EXPECT_EQ(s.DnsResultList(), want);
        EXPECT_EQ(s.DnsResult(), want.front());
    }
}

TEST_F(TWSocketControl, ConnectAppliesSocketOptions) {
    server.serve([](int) {}, LoopbackServer::Connections::EachInTurn);
    for (bool custom : {false, true}) {
        SCOPED_TRACE(custom ? "custom keep-alive, no delay" : "defaults");
        TWSocket c;
        if (custom) {
            c.SetKeepAliveOnOff(wsKeepAliveOnCustom);
            c.SetKeepAliveTime(45000);
            c.SetKeepAliveInterval(2500);
            c.SetComponentOptions({wsoTcpNoDelay});
            c.SetLingerOnOff(wsLingerOff);
        }
        prepareLoopback(c, server.portText());
        c.Connect();
        const SocketHandle h = c.HSocket();
        ASSERT_NE(h, INVALID_SOCKET);
        EXPECT_NE(intOption(h, SOL_SOCKET, SO_REUSEADDR), 0);
        EXPECT_EQ(intOption(h, SOL_SOCKET, SO_KEEPALIVE), 1);
        EXPECT_EQ(intOption(h, IPPROTO_TCP, TCP_NODELAY) != 0, custom);
        linger lingering{};
        socklen_t len = sizeof lingering;
        ::getsockopt(h, SOL_SOCKET, SO_LINGER, &lingering, &len);
        EXPECT_EQ(lingering.l_onoff != 0, !custom);  // on with 0 s by default: a reset on close
        EXPECT_EQ(lingering.l_linger, 0);
        if (custom) {
            EXPECT_EQ(intOption(h, IPPROTO_TCP, TCP_KEEPIDLE), 45);
            EXPECT_EQ(intOption(h, IPPROTO_TCP, TCP_KEEPINTVL), 3);  // rounded up to seconds
        }
        c.Abort();
    }
}

TEST_F(TWSocketControl, PostedTestExceptionReachesBgException) {
    std::string caught;
    s.OnBgException = [&](TObject*, const std::exception& e, bool&) { caught = e.what(); };
    ASSERT_TRUE(connect()) << rec.joined();
    s.Handle()->PostMessage(MSG_TEST_EXCEPTION, 0, 0);
    ASSERT_TRUE(pumpUntil([&] { return !caught.empty(); }));
    EXPECT_EQ(caught, "Test exception in WSocket");
    EXPECT_EQ(s.State(), wsClosed);  // aborted by default
}

}  // namespace
