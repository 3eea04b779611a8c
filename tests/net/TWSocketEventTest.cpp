// The event road of a TCP client against real peers on 127.0.0.1.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <regex>
#include <stdexcept>

#include "support/EventPump.h"
#include "support/LoopbackListener.h"
#include "support/SocketFixture.h"

using namespace vandrel::test;
using namespace vandrel::net;
using Events = std::vector<std::string>;

namespace {

const Events kConnectRoad = {"wsClosed->wsOpened", "wsOpened->wsConnecting",
                             "wsConnecting->wsConnected", "connected:0", "sent:0"};

class TWSocketEvents : public SocketFixture {};

LoopbackServer::Session sending(const std::string& payload) {
    return [payload](int fd) { writeAll(fd, payload.data(), payload.size()); };
}

TEST_F(TWSocketEvents, ConnectThenLocalClose) {
    server.serveSink();
    prepareLoopback(s, server.portText());
    s.Connect();
    EXPECT_EQ(rec.events, (Events{"wsClosed->wsOpened", "wsOpened->wsConnecting"}));
    ASSERT_TRUE(pumpUntil([&] { return rec.has("sent:0"); })) << rec.joined();
    EXPECT_EQ(rec.events, kConnectRoad);
    EXPECT_EQ(s.PeerAddr(), "127.0.0.1");
    EXPECT_EQ(s.PeerPort(), server.portText());
    EXPECT_NE(s.SocketSndBufSize(), 0);

    rec.events.clear();
    s.Close();
    EXPECT_EQ(rec.events, (Events{"wsConnected->wsClosed", "closed:0"}));
    EXPECT_EQ(s.HSocket(), INVALID_SOCKET);
    server.join();
    pumpFor(30);
    EXPECT_EQ(rec.events.size(), 2u) << rec.joined();
}

// The same object connects again at once, so the system hands out the descriptor number
// just freed: the write notification Send posted for the old connection must stay behind
// (delivered, it would report OnDataSent before the new connection exists).
TEST_F(TWSocketEvents, PortMustBeAssignedAgainAfterCloseAndOldNotificationsStayBehind) {
    std::uint16_t port = 0;
    const int listener = listenLoopback(port);  // the backlog completes both connections
    ASSERT_TRUE(client.connectTo(std::to_string(port))) << rec.joined();
    ASSERT_EQ(s.SendStr("x"), 1);  // sent at once; its write notification is posted
    const SocketHandle first = s.HSocket();
    s.Close();
    s.OnError = nullptr;
    EXPECT_EQ(s.Port(), std::to_string(port));  // still readable
    EXPECT_EQ(raised([&] { s.Connect(); }), "Connect: No Port Specified");
    s.SetPort(std::to_string(port));  // the same text is enough
    EXPECT_EQ(raised([&] { s.Connect(); }), "Connect: No IP Address Specified");
    s.SetAddr("127.0.0.1");
    EXPECT_EQ(s.Proto(), "tcp");
    rec.events.clear();
    s.Connect();
    ASSERT_EQ(s.HSocket(), first) << "the number was not reused, so nothing is checked";
    EXPECT_EQ(s.State(), wsConnecting);
    ASSERT_TRUE(pumpUntil([&] { return rec.has("sent:0"); })) << rec.joined();
    pumpFor(30);
    EXPECT_EQ(rec.events, kConnectRoad);
    s.Abort();
    EXPECT_EQ(s.State(), wsClosed);
    ::close(listener);
}

TEST_F(TWSocketEvents, RefusedConnect) {
    EXPECT_FALSE(client.connectTo(std::to_string(unusedPort())));
    EXPECT_EQ(rec.events,
              (Events{"wsClosed->wsOpened", "wsOpened->wsConnecting", "wsConnecting->wsConnected",
                      "connected:10061", "wsConnected->wsClosed", "closed:0"}));
    EXPECT_EQ(s.State(), wsClosed);
    pumpFor(30);
    EXPECT_EQ(rec.events.size(), 6u) << rec.joined();
}

// Nobody answers a connect to a listener whose queue is full (its SYN is dropped): the
// connect gives up after ConnectTimeout, with the road of a refusal.
TEST_F(TWSocketEvents, UnansweredConnectGivesUpAfterConnectTimeout) {
    std::uint16_t port = 0;
    const int listener = listenLoopback(port, 0);
    const int filler = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(filler, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    s.SetConnectTimeout(std::chrono::milliseconds(300));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.connectTo(std::to_string(port)));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(300));
    EXPECT_LT(elapsed, std::chrono::milliseconds(2000));
    EXPECT_EQ(rec.road(), "connected:10060 closed:0");
    ::close(filler);
    ::close(listener);
}

// A port above 16 bits wraps; while connected, the address settings and a second Connect are
// refused, and only an unchanged value may be set.
TEST_F(TWSocketEvents, ConnectedSocketRefusesChanges) {
    server.serve([](int) {});
    ASSERT_TRUE(client.connectTo(std::to_string(server.port() + 65536))) << rec.joined();
    EXPECT_EQ(s.PeerPort(), server.portText());
    s.OnError = nullptr;
    EXPECT_EQ(raised([&] { s.Connect(); }), "Connect: Socket already in use");
    EXPECT_NO_THROW(s.SetPort(s.Port()));
    EXPECT_EQ(raised([&] { s.SetPort("24"); }), "Cannot change Port if not closed");
    EXPECT_EQ(raised([&] { s.SetAddr("127.0.0.2"); }), "Cannot change Addr if not closed");
    EXPECT_EQ(raised([&] { s.SetProto("udp"); }), "Cannot change Proto if not closed");
    EXPECT_EQ(raised([&] { s.SetLocalPort("5000"); }), "Cannot change LocalPort if not closed");
    EXPECT_EQ(raised([&] { s.SetLocalAddr(""); }), "Cannot change LocalAddr if not closed");
    s.Close();
    s.SetLocalAddr("");
    EXPECT_EQ(s.LocalAddr(), "0.0.0.0");
}

TEST_F(TWSocketEvents, RemoteCloseDeliversDataFirst) {
    for (bool noLoop : {false, true}) {
        SCOPED_TRACE(noLoop ? "wsoNoReceiveLoop" : "receive loop");
        const std::string payload = patternText(10000);
        LoopbackServer peer;
        peer.serve(sending(payload));
        RecordedSocket c;
        if (noLoop) {
            c.s.SetComponentOptions({wsoNoReceiveLoop});
        }
        std::string got;
        std::size_t gotAtClose = 0;
        c.s.OnDataAvailable = [&](TObject*, Word) {
            char buf[7];
            got.append(buf, static_cast<std::size_t>(std::max(c.s.Receive(buf, sizeof buf), 0)));
        };
        c.s.OnSessionClosed = [&](TObject*, Word e) {
            gotAtClose = got.size();
            c.rec.events.push_back("closed:" + std::to_string(e));
        };
        prepareLoopback(c.s, peer.portText());
        c.s.Connect();
        ASSERT_TRUE(pumpUntil([&] { return c.rec.has("closed:0"); })) << c.rec.joined();
        EXPECT_EQ(gotAtClose, payload.size());
        EXPECT_EQ(got, payload);
        EXPECT_EQ(c.s.State(), wsClosed);
        EXPECT_EQ(c.rec.count("closed:0"), 1);
        EXPECT_EQ(c.rec.events.back(), "wsConnected->wsClosed");
    }
}

// A Close from inside OnSessionClosed (after a remote or a local close), or from the data
// hook that meets the end of the stream, fires no second OnSessionClosed.
TEST_F(TWSocketEvents, CloseInsideTheHooksFiresNoSecondEvent) {
    for (const char* how : {"remote close", "local close", "data hook"}) {
        SCOPED_TRACE(how);
        const std::string kind = how;
        LoopbackServer peer;
        kind == "local close" ? peer.serveSink() : peer.serve(sending("last words"));
        RecordedSocket c;
        c.s.OnDataAvailable = [&](TObject*, Word) {
            char buf[64];
            if (c.s.Receive(buf, sizeof buf) == 0 && kind == "data hook") {
                c.s.Close();  // end of stream seen by the hook itself
            }
        };
        if (kind != "data hook") {
            c.s.OnSessionClosed = [&](TObject*, Word) {
                c.rec.events.push_back("closed");
                c.s.Close();
            };
        }
        ASSERT_TRUE(c.connectTo(peer.portText())) << c.rec.joined();
        if (kind == "local close") {
            c.s.Close();
        }
        ASSERT_TRUE(pumpUntil([&] { return c.s.State() == wsClosed; }));
        pumpFor(50);
        EXPECT_EQ(c.rec.count("closed") + c.rec.count("closed:0"), 1) << c.rec.joined();
    }
}

TEST_F(TWSocketEvents, SendOnClosedSocket) {
    EXPECT_EQ(s.SendStr("x"), -1);
    EXPECT_EQ(s.LastError(), 10057);
    EXPECT_EQ(rec.errors, 1);
    EXPECT_EQ(rec.events, (Events{"error"}));

    TWSocket plain;
    EXPECT_EQ(raised([&] { plain.SendStr("x"); }), "Socket is not connected (#10057 in Send)");
}

TEST_F(TWSocketEvents, ZeroLengthSendStillReportsDataSent) {
    ASSERT_TRUE(connect()) << rec.joined();
    rec.events.clear();
    char none = 0;
    EXPECT_EQ(s.Send(&none, 0), 0);
    EXPECT_TRUE(rec.events.empty());  // posted, never from inside Send
    ASSERT_TRUE(pumpUntil([&] { return rec.has("sent:0"); }));
    pumpFor(30);
    EXPECT_EQ(rec.events, (Events{"sent:0"}));
}

// The peer resets while Send's write notification is pending: the bytes queued behind it
// meet the reset in that notification's send, not inside Send. The connection closes with
// OnSessionClosed(10054) and no OnDataSent follows, as nothing was sent.
TEST_F(TWSocketEvents, PeerResetMetByTheWriteNotification) {
    ASSERT_TRUE(connect([](int fd) {
        char c;
        ::recv(fd, &c, 1, MSG_WAITALL);
        resetClose(fd);
    })) << rec.joined();
    rec.events.clear();
    ASSERT_EQ(s.SendStr("a"), 1);  // leaves at once and posts a write notification
    server.join();                 // the peer has reset
    pollfd p{s.HSocket(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1);  // the reset has arrived; nothing has read it
    ASSERT_EQ(s.SendStr("b"), 1);       // waits for the pending notification
    EXPECT_EQ(s.State(), wsConnected);
    EXPECT_TRUE(rec.events.empty()) << rec.joined();
    ASSERT_TRUE(pumpUntil([&] { return s.State() == wsClosed; })) << rec.joined();
    pumpFor(30);
    EXPECT_EQ(rec.events, (Events{"wsConnected->wsClosed", "closed:10054"}));
    EXPECT_EQ(rec.errors, 0);
}

TEST_F(TWSocketEvents, HookExceptionGoesToBgExceptionAndAborts) {
    for (bool keep : {false, true}) {
        SCOPED_TRACE(keep ? "CanClose cleared" : "default");
        LoopbackServer peer;
        peer.serveSink();
        TWSocket c;
        std::string caught;
        c.OnSessionConnected = [](TObject*, Word) { throw std::runtime_error("boom"); };
        c.OnBgException = [&](TObject* sender, const std::exception& e, bool& canClose) {
            EXPECT_EQ(sender, &c);
            caught = e.what();
            canClose = !keep;
        };
        prepareLoopback(c, peer.portText());
        c.Connect();
        ASSERT_TRUE(pumpUntil([&] { return !caught.empty(); }));
        EXPECT_EQ(caught, "boom");
        pumpFor(30);
        EXPECT_EQ(c.State(), keep ? wsConnected : wsClosed);
        c.Close();
    }
}

TEST_F(TWSocketEvents, UnhandledDataIsDiscarded) {
    ASSERT_TRUE(connect(sending(patternText(5000)))) << rec.joined();
    ASSERT_TRUE(pumpUntil([&] { return rec.has("closed:0"); })) << rec.joined();
    EXPECT_EQ(s.State(), wsClosed);
}

TEST_F(TWSocketEvents, HandlerEndsLoopWithMinusOne) {
    int calls = 0;
    s.OnDataAvailable = [&](TObject*, Word) {
        ++calls;
        s.SetLastError(-1);  // reads nothing, ends the loop
    };
    ASSERT_TRUE(connect([](int fd) {
        const std::string data = patternText(3000);
        writeAll(fd, data.data(), data.size());
        std::uint64_t sum = 0;
        readToEnd(fd, sum);
    })) << rec.joined();
    ASSERT_TRUE(pumpUntil([&] { return calls > 0; }));
    pumpFor(50);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(s.LastError(), 0);
    EXPECT_EQ(s.RcvdCount(), 3000);
    EXPECT_EQ(s.ReceiveStr().size(), 3000u);
    EXPECT_EQ(s.ReadCount(), 3000);
}

TEST_F(TWSocketEvents, ReceiveStrWithNothingReadable) {
    ASSERT_TRUE(connect()) << rec.joined();
    EXPECT_EQ(s.ReceiveStr(), "");
    EXPECT_EQ(s.LastError(), 10035);
}

TEST_F(TWSocketEvents, DatagramSocketConnectsAtOnce) {
    const int udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sin;
    ASSERT_EQ(::bind(udp, reinterpret_cast<sockaddr*>(&sin), sizeof sin), 0);
    ::getsockname(udp, reinterpret_cast<sockaddr*>(&sin), &len);
    setTimeouts(udp, 5);

    std::string reply;
    s.OnDataAvailable = [&](TObject*, Word) { reply += s.ReceiveStr(); };
    prepareLoopback(s, std::to_string(ntohs(sin.sin_port)), "udp");
    s.Connect();
    EXPECT_EQ(rec.events, (Events{"wsClosed->wsOpened", "wsOpened->wsConnected", "connected:0"}));
    EXPECT_NE(s.LocalPort(), "0");  // the port actually bound
    EXPECT_EQ(s.SendStr("ping"), 4);

    char buf[16] = {};
    sockaddr_in from{};
    socklen_t flen = sizeof from;
    ASSERT_EQ(::recvfrom(udp, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &flen), 4);
    EXPECT_EQ(std::string(buf, 4), "ping");
    EXPECT_EQ(std::to_string(ntohs(from.sin_port)), s.LocalPort());
    ::sendto(udp, "pong", 4, 0, reinterpret_cast<sockaddr*>(&from), flen);
    ASSERT_TRUE(pumpUntil([&] { return reply == "pong"; })) << reply;
    ::close(udp);
}

// A socket whose destructor is observable, for hooks that destroy it.
struct CountedSocket : TWSocket {
    explicit CountedSocket(bool& gone) : m_gone(gone) {}
    ~CountedSocket() override { m_gone = true; }
    bool& m_gone;
};

TEST_F(TWSocketEvents, HookMayDeleteItsSocket) {
    server.serve(sending(patternText(4000)));
    bool gone = false;
    auto* c = new CountedSocket(gone);
    c->OnDataAvailable = [c](TObject*, Word) { c->ReceiveStr(); };
    c->OnSessionClosed = [c](TObject*, Word) { delete c; };
    prepareLoopback(*c, server.portText());
    c->Connect();
    ASSERT_TRUE(pumpUntil([&] { return gone; }));
    pumpFor(30);
}

TEST_F(TWSocketEvents, FreeLaterReleasesAfterTheHook) {
    bool gone = false;
    auto* c = new CountedSocket(gone);
    bool closedSeen = false;
    c->OnSessionClosed = [c, &closedSeen, &gone](TObject*, Word) {
        closedSeen = true;
        c->FreeLater();
        EXPECT_FALSE(gone);  // never from inside the call
    };
    prepareLoopback(*c, std::to_string(unusedPort()));
    c->Connect();
    ASSERT_TRUE(pumpUntil([&] { return gone; }));
    EXPECT_TRUE(closedSeen);
}

TEST_F(TWSocketEvents, CloseLaterClosesFromTheLoop) {
    ASSERT_TRUE(connect()) << rec.joined();
    s.CloseLater();
    EXPECT_EQ(s.State(), wsConnected);
    ASSERT_TRUE(pumpUntil([&] { return s.State() == wsClosed; }));
    EXPECT_EQ(rec.count("closed:0"), 1);
}

// The logger's lines of a connect: the information line, and with dumps the notifications
// asked for and the posted OnDataSent.
TEST_F(TWSocketEvents, LoggerLinesOfTheConnectRoad) {
    TSocketLogger log;
    std::vector<std::string> lines;
    log.SetOnSocketLogEvent([&](TObject*, TLogOption o, const std::string& m) {
        lines.push_back(std::to_string(o) + ":" + m);
    });
    log.SetLogOptions({loDestEvent, loWsockInfo, loWsockDump});
    s.SetSocketLogger(&log);
    ASSERT_TRUE(connect()) << rec.joined();
    const std::string h = std::to_string(s.HSocket());
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "5:TWSocket will connect to 127.0.0.1:" + server.portText());
    EXPECT_EQ(lines[1], "12:AsyncSelect CtrlSocket" + h + ", 16 FD_CONNECT");
    EXPECT_EQ(lines[2], "12:AsyncSelect CtrlSocket" + h + ", 2 FD_WRITE");
    EXPECT_TRUE(std::regex_match(lines[3], std::regex("6:[0-9A-F]{8} TriggerDataSent " + h)))
        << lines[3];
}

TEST_F(TWSocketEvents, DestroyedLoggerIsForgotten) {
    {
        TSocketLogger log;
        s.SetSocketLogger(&log);
        EXPECT_EQ(s.SocketLogger(), &log);
    }
    EXPECT_EQ(s.SocketLogger(), nullptr);
}

TEST_F(TWSocketEvents, SendFlagsRefuseUnknownValues) {
    s.SetSendFlags(wsSendUrgent);
    s.OnError = nullptr;
    EXPECT_EQ(raised([&] { s.SetSendFlags(static_cast<TSocketSendFlags>(7)); }),
              "Invalid SendFlags");
    EXPECT_EQ(s.SendFlags(), wsSendUrgent);
}

// Sockets of this process that are open now.
int openSockets() {
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        n += std::filesystem::read_symlink(entry.path(), ec).string().rfind("socket:", 0) == 0;
    }
    return n;
}

// An operation that fails, before or after its handle was created, leaves nothing open
// once the owner closes the socket, connects it again or destroys it.
TEST_F(TWSocketEvents, FailedConnectOrListenLeavesNoHandleOpen) {
    std::uint16_t port = 0;
    const int taken = listenLoopback(port);
    const std::string portText = std::to_string(port);
    const int before = openSockets();
    struct Case {
        const char* what;
        std::function<void(TWSocket&)> fail;
        const char* text;  // start of the reported text
    };
    const Case cases[] = {
        {"unknown service",
         [](TWSocket& c) {
             prepareLoopback(c, "nosuchservice");
             c.Connect();
         },
         "connect: Winsock Resolve Port: Cannot convert port 'nosuchservice'"},
        {"local address of another computer",
         [&](TWSocket& c) {
             c.SetLocalAddr("192.0.2.1");
             prepareLoopback(c, portText);
             c.Connect();
         },
         "Bind socket failed - "},
        {"listening on a port that is taken",
         [&](TWSocket& c) {
             prepareLoopback(c, portText);
             c.Listen();
         },
         "Address already in use (#10048 in Bind)"},
    };
    for (const Case& c : cases) {
        for (const std::string then : {"Close", "Connect", "destroy"}) {
            SCOPED_TRACE(std::string(c.what) + ", then " + then);
            auto failed = std::make_unique<TWSocket>();
            const std::string text = raised([&] { c.fail(*failed); });
            EXPECT_EQ(text.rfind(c.text, 0), 0u) << text;
            if (then == "Close") {
                failed->Close();
                EXPECT_EQ(failed->HSocket(), INVALID_SOCKET);
            } else if (then == "Connect") {
                try {  // refused while a failed Connect's handle is still in use
                    failed->SetLocalAddr("0.0.0.0");
                    prepareLoopback(*failed, portText);
                    failed->Connect();
                } catch (const ESocketException&) {
                }
                failed->Abort();
            }
            failed.reset();
            EXPECT_EQ(openSockets(), before);
        }
    }
    ::close(taken);
}

}  // namespace
