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

#include <functional>
#include <memory>

#include "net/TSocketWindow.h"
#include "net/TWSocket.h"
#include "support/EventPump.h"
#include "support/EventRecorder.h"
#include "support/LoopbackListener.h"
#include "support/LoopbackServer.h"
#include "support/RaisedText.h"

using namespace vandrel::test;
using namespace vandrel::net;
using Events = std::vector<std::string>;

namespace {

void prepare(TWSocket& s, const std::string& port, const std::string& proto = "tcp") {
    s.SetProto(proto);
    s.SetAddr("127.0.0.1");
    s.SetPort(port);
}

// A listening TWSocket that adopts each accepted handle in a TWSocket of its own.
struct Listener {
    TWSocket server;
    std::vector<std::unique_ptr<TWSocket>> accepted;
    std::string received;

    Listener() {
        prepare(server, "0");
        server.OnSessionAvailable = [this](TObject*, Word) {
            auto client = std::make_unique<TWSocket>();
            TWSocket* c = client.get();
            c->OnDataAvailable = [this, c](TObject*, Word) { received += c->ReceiveStr(); };
            c->Dup(server.Accept());
            accepted.push_back(std::move(client));
        };
        server.Listen();
    }
};

TEST(TWSocketControl, ListenAcceptAndDup) {
    Listener l;
    ASSERT_EQ(l.server.State(), wsListening);
    const std::string port = l.server.BoundPort();
    ASSERT_NE(port, "error");
    EXPECT_EQ(l.server.BoundAddr(), "127.0.0.1");

    TWSocket client;
    EventRecorder rec;
    rec.attach(client);
    std::string reply;
    client.OnDataAvailable = [&](TObject*, Word) { reply += client.ReceiveStr(); };
    prepare(client, port);
    client.Connect();
    ASSERT_TRUE(pumpUntil([&] { return !l.accepted.empty() && rec.has("sent:0"); }));
    EXPECT_EQ(l.accepted[0]->State(), wsConnected);
    EXPECT_EQ(l.accepted[0]->PeerPort(), client.BoundPort());

    client.SendStr("hello");
    l.accepted[0]->SendStr("world");
    ASSERT_TRUE(pumpUntil([&] { return l.received == "hello" && reply == "world"; }));
    client.Close();
    ASSERT_TRUE(pumpUntil([&] { return l.accepted[0]->State() == wsClosed; }));
}

TEST(TWSocketControl, ListenAndAcceptRefusals) {
    TWSocket s;
    EventRecorder rec;
    rec.attach(s);
    s.OnError = nullptr;
    EXPECT_EQ(raisedText<ESocketException>([&] { s.Listen(); }),
              "Invalid argument (#10022 in listen: port not assigned)");
    EXPECT_EQ(raisedText<ESocketException>([&] { s.Accept(); }),
              "Invalid argument (#10022 in not a listening socket)");
}

TEST(TWSocketControl, AcceptOnAConnectedSocketIsRefused) {
    Listener l;
    TWSocket client;
    EventRecorder rec;
    rec.attach(client);
    prepare(client, l.server.BoundPort());
    client.Connect();
    ASSERT_TRUE(pumpUntil([&] { return rec.has("sent:0"); }));
    rec.events.clear();
    EXPECT_EQ(client.Accept(), INVALID_SOCKET);
    EXPECT_EQ(client.LastError(), 10022);
    EXPECT_EQ(rec.events, (Events{"error"}));
    EXPECT_EQ(client.State(), wsConnected);
    client.Close();
}

TEST(TWSocketControl, PausedSocketFiresNothingUntilResumed) {
    Listener l;
    TWSocket client;
    EventRecorder rec;
    rec.attach(client);
    prepare(client, l.server.BoundPort());
    client.Connect();
    ASSERT_TRUE(pumpUntil([&] { return !l.accepted.empty() && rec.has("sent:0"); }));
    TWSocket& peer = *l.accepted[0];
    peer.Pause();
    client.SendStr("while paused");
    pumpFor(100);
    EXPECT_EQ(l.received, "");
    peer.Resume();
    ASSERT_TRUE(pumpUntil([&] { return l.received == "while paused"; }));
    client.Close();
}

TEST(TWSocketControl, DetachAndAttachKeepTheConnection) {
    Listener l;
    TWSocket client;
    EventRecorder rec;
    rec.attach(client);
    std::string reply;
    client.OnDataAvailable = [&](TObject*, Word) { reply += client.ReceiveStr(); };
    prepare(client, l.server.BoundPort());
    client.Connect();
    ASSERT_TRUE(pumpUntil([&] { return !l.accepted.empty() && rec.has("sent:0"); }));
    client.OnError = nullptr;
    EXPECT_THROW(client.AttachToThread(), ESocketException);  // not detached yet
    client.DetachFromThread();
    EXPECT_EQ(client.Handle(), nullptr);
    l.accepted[0]->SendStr("while detached");
    pumpFor(50);
    EXPECT_EQ(reply, "");
    client.AttachToThread();
    ASSERT_TRUE(pumpUntil([&] { return reply == "while detached"; }));
    client.Close();
}

TEST(TWSocketControl, DatagramListenReceivesFromAnyone) {
    TWSocket s;
    EventRecorder rec;
    rec.attach(s);
    std::string got;
    std::string from;
    s.OnDataAvailable = [&](TObject*, Word) {
        char buf[64];
        sockaddr_in sin{};
        int len = sizeof sin;
        const int n = s.ReceiveFrom(buf, sizeof buf, reinterpret_cast<sockaddr*>(&sin), len);
        if (n > 0) {
            got.append(buf, static_cast<std::size_t>(n));
            from = inet_ntoa(sin.sin_addr);
        }
    };
    prepare(s, "0", "udp");
    s.Listen();
    EXPECT_EQ(rec.events, (Events{"wsClosed->wsBound", "wsBound->wsListening",
                                  "wsListening->wsConnected", "connected:0"}));
    const int udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<std::uint16_t>(std::stoi(s.BoundPort())));
    ::sendto(udp, "datagram", 8, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    ASSERT_TRUE(pumpUntil([&] { return got == "datagram"; }));
    EXPECT_EQ(from, "127.0.0.1");
    EXPECT_EQ(s.ReadCount(), 8);
    ::close(udp);
    s.Close();
}

TEST(TWSocketControl, DottedLookupCompletesBeforeReturning) {
    TWSocket s;
    std::vector<int> done;
    s.OnDnsLookupDone = [&](TObject*, Word e) { done.push_back(e); };
    s.DnsLookup(" 127.0.0.1 ");
    ASSERT_EQ(done, (std::vector<int>{0}));
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");
    EXPECT_EQ(s.DnsResultList(), (std::vector<std::string>{"127.0.0.1"}));
}

TEST(TWSocketControl, NameLookupCompletesThroughTheLoop) {
    TWSocket s;
    std::vector<int> done;
    s.OnDnsLookupDone = [&](TObject*, Word e) { done.push_back(e); };
    s.DnsLookup("localhost");
    EXPECT_TRUE(done.empty());
    s.DnsLookup("localhost");  // replaces the first without an event
    ASSERT_TRUE(pumpUntil([&] { return !done.empty(); }));
    pumpFor(100);
    EXPECT_EQ(done, (std::vector<int>{0}));
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");
}

TEST(TWSocketControl, CancelledLookupReportsInterrupted) {
    TWSocket s;
    std::vector<int> done;
    s.OnDnsLookupDone = [&](TObject*, Word e) { done.push_back(e); };
    s.DnsLookup("localhost");
    s.CancelLookup();
    EXPECT_EQ(done, (std::vector<int>{10004}));
    pumpFor(100);
    EXPECT_EQ(done.size(), 1u);
}

TEST(TWSocketControl, EmptyLookupIsReported) {
    TWSocket s;
    EventRecorder rec;
    rec.attach(s);
    std::vector<int> done;
    s.OnDnsLookupDone = [&](TObject*, Word e) { done.push_back(e); };
    s.DnsLookup("");
    EXPECT_EQ(rec.errors, 1);
    EXPECT_EQ(done, (std::vector<int>{10022}));
}

TEST(TWSocketControl, BlockingReverseLookupOfLoopback) {
    TWSocket s;
    std::vector<int> done;
    s.OnDnsLookupDone = [&](TObject*, Word e) { done.push_back(e); };
    s.ReverseDnsLookupBlocking("127.0.0.1");
    ASSERT_EQ(done, (std::vector<int>{0}));
    EXPECT_FALSE(s.DnsResult().empty());
    EXPECT_EQ(s.DnsResultList().front(), s.DnsResult());
}

TEST(TWSocketControl, ReverseLookupCompletesThroughTheLoop) {
    TWSocket s;
    std::vector<int> done;
    s.OnDnsLookupDone = [&](TObject*, Word e) { done.push_back(e); };
    s.ReverseDnsLookup("127.0.0.1");
    EXPECT_TRUE(done.empty());
    ASSERT_TRUE(pumpUntil([&] { return !done.empty(); }));
    EXPECT_EQ(done, (std::vector<int>{0}));
    EXPECT_FALSE(s.DnsResult().empty());
}

TEST(TWSocketControl, AddressQueriesWhenNotConnected) {
    TWSocket s;
    EventRecorder rec;
    rec.attach(s);
    EXPECT_EQ(s.GetPeerAddr(), "error");
    EXPECT_EQ(s.GetPeerPort(), "error");
    EXPECT_EQ(s.BoundAddr(), "error");
    sockaddr_in sin{};
    EXPECT_EQ(s.GetPeerName(reinterpret_cast<sockaddr*>(&sin), sizeof sin), -1);
    EXPECT_EQ(rec.errors, 0);
}

TEST(TWSocketControl, ReceiveOutsideTheHandlerReoffersTheRest) {
    LoopbackServer server;
    server.serve([](int fd) {
        std::string data(100, 'r');
        writeAll(fd, data.data(), data.size());
        std::uint64_t sum = 0;
        readToEnd(fd, sum);
    });
    TWSocket s;
    EventRecorder rec;
    rec.attach(s);
    int calls = 0;
    std::string got;
    s.OnDataAvailable = [&](TObject*, Word) {
        if (++calls == 1) {
            s.SetLastError(-1);  // not now
            return;
        }
        got += s.ReceiveStr();
    };
    prepare(s, server.portText());
    s.Connect();
    ASSERT_TRUE(pumpUntil([&] { return calls == 1; }));
    pumpFor(30);
    ASSERT_EQ(calls, 1);
    char buf[10];
    ASSERT_EQ(s.Receive(buf, sizeof buf), 10);
    EXPECT_EQ(s.RcvdCount(), 90);
    ASSERT_TRUE(pumpUntil([&] { return got.size() == 90; })) << got.size();
    EXPECT_EQ(s.ReadCount(), 100);
    s.Close();
}

TEST(TWSocketControl, SendsOfOnePassLeaveTogether) {
    LoopbackServer server;
    std::atomic<std::uint64_t> serverGot{0};
    server.serve([&](int fd) {
        std::uint64_t sum = 0;
        serverGot = readToEnd(fd, sum);
    });
    TWSocket s;
    EventRecorder rec;
    rec.attach(s);
    int sentBytes = 0;
    s.OnSendData = [&](TObject*, int n) { sentBytes += n; };
    prepare(s, server.portText());
    s.Connect();
    ASSERT_TRUE(pumpUntil([&] { return rec.has("sent:0"); }));
    rec.events.clear();
    const std::string chunk(3000, 'c');
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(s.SendStr(chunk), 3000);
    }
    ASSERT_TRUE(pumpUntil([&] { return rec.has("sent:0"); }));
    pumpFor(30);
    EXPECT_EQ(rec.count("sent:0"), 1);
    EXPECT_EQ(sentBytes, 30000);
    s.Flush();
    s.Shutdown(1);
    ASSERT_TRUE(pumpUntil([&] { return server.done(); }));
    EXPECT_EQ(serverGot.load(), 30000u);
    s.Close();
}

// The application's pump makes one pass over what is pending; the thread's own pump goes on
// until nothing is left, events posted meanwhile included.
TEST(TWSocketControl, MultiThreadedPumpRunsPendingEvents) {
    for (bool multiThreaded : {false, true}) {
        SCOPED_TRACE(multiThreaded ? "MultiThreaded" : "application pump");
        TWSocket s;
        s.SetMultiThreaded(multiThreaded);
        bool closed = false;
        LoopbackServer server;
        server.serve([](int) {});
        s.OnSessionClosed = [&](TObject*, Word) { closed = true; };
        prepare(s, server.portText());
        s.Connect();
        s.CloseLater();
        for (int i = 0; i < 200 && !closed; ++i) {
            s.PumpMessages();
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
        s.PumpMessages();
        if (multiThreaded) {
            EXPECT_EQ(ran, 5);
        } else {
            EXPECT_GE(ran, 1);
            EXPECT_LT(ran, 5);
        }
        ASSERT_TRUE(pumpUntil([&] { return ran == 5; }));
    }
}

}  // namespace

namespace {

int intOption(TSocket h, int level, int name) {
    int v = 0;
    socklen_t len = sizeof v;
    ::getsockopt(h, level, name, &v, &len);
    return v;
}

TEST(TWSocketControl, ConnectAppliesSocketOptions) {
    for (bool custom : {false, true}) {
        SCOPED_TRACE(custom ? "custom keep-alive, no delay" : "defaults");
        LoopbackServer server;
        server.serve([](int) {});
        TWSocket s;
        if (custom) {
            s.SetKeepAliveOnOff(wsKeepAliveOnCustom);
            s.SetKeepAliveTime(45000);
            s.SetKeepAliveInterval(2500);
            s.SetComponentOptions({wsoTcpNoDelay});
            s.SetLingerOnOff(wsLingerOff);
        }
        prepare(s, server.portText());
        s.Connect();
        const TSocket h = s.HSocket();
        ASSERT_NE(h, INVALID_SOCKET);
        EXPECT_NE(intOption(h, SOL_SOCKET, SO_REUSEADDR), 0);
        EXPECT_EQ(intOption(h, SOL_SOCKET, SO_KEEPALIVE), 1);
        EXPECT_EQ(intOption(h, IPPROTO_TCP, TCP_NODELAY) != 0, custom);
        linger l{};
        socklen_t len = sizeof l;
        ::getsockopt(h, SOL_SOCKET, SO_LINGER, &l, &len);
        EXPECT_EQ(l.l_onoff != 0, !custom);  // on with 0 s by default: a reset on close
        EXPECT_EQ(l.l_linger, 0);
        if (custom) {
            EXPECT_EQ(intOption(h, IPPROTO_TCP, TCP_KEEPIDLE), 45);
            EXPECT_EQ(intOption(h, IPPROTO_TCP, TCP_KEEPINTVL), 3);  // rounded up to seconds
        }
        s.Abort();
    }
}

TEST(TWSocketControl, PostedTestExceptionReachesBgException) {
    LoopbackServer server;
    server.serveSink();
    TWSocket s;
    EventRecorder rec;
    rec.attach(s);
    std::string caught;
    s.OnBgException = [&](TObject*, const std::exception& e, bool&) { caught = e.what(); };
    prepare(s, server.portText());
    s.Connect();
    ASSERT_TRUE(pumpUntil([&] { return rec.has("sent:0"); }));
    s.Handle()->PostMessage(MSG_TEST_EXCEPTION, 0, 0);
    ASSERT_TRUE(pumpUntil([&] { return !caught.empty(); }));
    EXPECT_EQ(caught, "Test exception in WSocket");
    EXPECT_EQ(s.State(), wsClosed);  // aborted by default
}

}  // namespace

// A Send from OnSendData queues behind the bytes whose sending fired the hook; none of
// them goes out twice.
TEST(TWSocketControl, SendFromOnSendDataKeepsTheStream) {
    LoopbackServer server;
    std::string got;
    server.serve([&](int fd) {
        char buf[4096];
        for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) {
            got.append(buf, static_cast<std::size_t>(n));
        }
    });
    TWSocket s;
    EventRecorder rec;
    rec.attach(s);
    prepare(s, server.portText());
    s.Connect();
    ASSERT_TRUE(pumpUntil([&] { return rec.has("sent:0"); }));
    int hooks = 0;
    s.OnSendData = [&](TObject*, int) {
        if (++hooks == 1) {
            s.SendStr("B");
        }
    };
    s.SendStr(std::string(5000, 'A'));
    s.Flush();
    s.Shutdown(1);
    ASSERT_TRUE(pumpUntil([&] { return server.done(); }));
    EXPECT_EQ(got, std::string(5000, 'A') + "B");
    s.Close();
}
