// The event road of a TCP client against real peers on 127.0.0.1.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <regex>
#include <stdexcept>

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

void prepare(TWSocket& s, const std::string& port) {
    s.SetProto("tcp");
    s.SetAddr("127.0.0.1");
    s.SetPort(port);
}

// Connects s to server and pumps until the first OnDataSent.
void connectTo(TWSocket& s, EventRecorder& rec, const std::string& port) {
    prepare(s, port);
    s.Connect();
    ASSERT_TRUE(pumpUntil([&] { return rec.has("sent:0") || rec.has("closed:0"); }))
        << rec.joined();
    ASSERT_EQ(s.State(), wsConnected) << rec.joined();
}

void serveBytesThenClose(LoopbackServer& server, std::string payload) {
    server.serve([payload](int fd) { writeAll(fd, payload.data(), payload.size()); });
}

std::string patternText(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        s[i] = static_cast<char>(patternByte(i));
    }
    return s;
}

TEST(TWSocketEvents, ConnectThenLocalClose) {
    LoopbackServer server;
    server.serveSink();
    TWSocket s;
    EventRecorder rec;
    rec.attach(s);
    prepare(s, server.portText());
    s.Connect();
    EXPECT_EQ(rec.events, (Events{"wsClosed->wsOpened", "wsOpened->wsConnecting"}));
    ASSERT_TRUE(pumpUntil([&] { return rec.has("sent:0"); })) << rec.joined();
    EXPECT_EQ(rec.events, (Events{"wsClosed->wsOpened", "wsOpened->wsConnecting",
                                  "wsConnecting->wsConnected", "connected:0", "sent:0"}));
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
TEST(TWSocketEvents, PortMustBeAssignedAgainAfterCloseAndOldNotificationsStayBehind) {
    std::uint16_t port = 0;
    const int listener = listenLoopback(port);  // the backlog completes both connections
    TWSocket s;
    EventRecorder rec;
    rec.attach(s);
    connectTo(s, rec, std::to_string(port));
    ASSERT_EQ(s.SendStr("x"), 1);  // sent at once; its write notification is posted
    const TSocket first = s.HSocket();
    s.Close();
    s.OnError = nullptr;
    EXPECT_EQ(s.Port(), std::to_string(port));  // still readable
    EXPECT_EQ(raisedText<ESocketException>([&] { s.Connect(); }), "Connect: No Port Specified");
    s.SetPort(std::to_string(port));  // the same text is enough
    EXPECT_EQ(raisedText<ESocketException>([&] { s.Connect(); }),
              "Connect: No IP Address Specified");
    s.SetAddr("127.0.0.1");
    EXPECT_EQ(s.Proto(), "tcp");
    rec.events.clear();
    s.Connect();
    ASSERT_EQ(s.HSocket(), first) << "the number was not reused, so nothing is checked";
    EXPECT_EQ(s.State(), wsConnecting);
    ASSERT_TRUE(pumpUntil([&] { return rec.has("sent:0"); })) << rec.joined();
    pumpFor(30);
    EXPECT_EQ(rec.events, (Events{"wsClosed->wsOpened", "wsOpened->wsConnecting",
                                  "wsConnecting->wsConnected", "connected:0", "sent:0"}));
    s.Abort();
    EXPECT_EQ(s.State(), wsClosed);
    ::close(listener);
}

TEST(TWSocketEvents, RefusedConnect) {
    TWSocket s;
    EventRecorder rec;
    rec.attach(s);
    prepare(s, std::to_string(unusedPort()));
    s.Connect();
    ASSERT_TRUE(pumpUntil([&] { return rec.has("closed:0"); })) << rec.joined();
    EXPECT_EQ(rec.events,
              (Events{"wsClosed->wsOpened", "wsOpened->wsConnecting", "wsConnecting->wsConnected",
                      "connected:10061", "wsConnected->wsClosed", "closed:0"}));
    EXPECT_EQ(s.State(), wsClosed);
    pumpFor(30);
    EXPECT_EQ(rec.events.size(), 6u) << rec.joined();
}

TEST(TWSocketEvents, ConnectTwiceIsRefused) {
    LoopbackServer server;
    server.serve([](int) {});
    TWSocket s;
    prepare(s, server.portText());
    s.Connect();
    EXPECT_EQ(raisedText<ESocketException>([&] { s.Connect(); }), "Connect: Socket already in use");
    s.Abort();
}

TEST(TWSocketEvents, PortAboveSixteenBitsWraps) {
    LoopbackServer server;
    server.serve([](int) {});
    TWSocket s;
    EventRecorder rec;
    rec.attach(s);
    connectTo(s, rec, std::to_string(server.port() + 65536));
    EXPECT_TRUE(rec.has("connected:0"));
    EXPECT_EQ(s.PeerPort(), server.portText());
    s.Close();
}

TEST(TWSocketEvents, PropertiesRefuseChangesWhileOpen) {
    LoopbackServer server;
    server.serve([](int) {});
    TWSocket s;
    EventRecorder rec;
    rec.attach(s);
    connectTo(s, rec, server.portText());
    s.OnError = nullptr;
    EXPECT_NO_THROW(s.SetPort(server.portText()));
    EXPECT_EQ(raisedText<ESocketException>([&] { s.SetPort("24"); }),
              "Cannot change Port if not closed");
    EXPECT_EQ(raisedText<ESocketException>([&] { s.SetAddr("127.0.0.2"); }),
              "Cannot change Addr if not closed");
    EXPECT_EQ(raisedText<ESocketException>([&] { s.SetProto("udp"); }),
              "Cannot change Proto if not closed");
    EXPECT_EQ(raisedText<ESocketException>([&] { s.SetLocalPort("5000"); }),
              "Cannot change LocalPort if not closed");
    EXPECT_EQ(raisedText<ESocketException>([&] { s.SetLocalAddr(""); }),
              "Cannot change LocalAddr if not closed");
    s.Close();
    s.SetLocalAddr("");
    EXPECT_EQ(s.LocalAddr(), "0.0.0.0");
}

TEST(TWSocketEvents, RemoteCloseDeliversDataFirst) {
    for (bool noLoop : {false, true}) {
        SCOPED_TRACE(noLoop ? "wsoNoReceiveLoop" : "receive loop");
        const std::string payload = patternText(10000);
        LoopbackServer server;
        serveBytesThenClose(server, payload);
        TWSocket s;
        EventRecorder rec;
        rec.attach(s);
        if (noLoop) {
            s.SetComponentOptions({wsoNoReceiveLoop});
        }
        std::string got;
        std::size_t gotAtClose = 0;
        s.OnDataAvailable = [&](TObject*, Word) {
            char buf[7];
            const int n = s.Receive(buf, sizeof buf);
            if (n > 0) {
                got.append(buf, static_cast<std::size_t>(n));
            }
        };
        s.OnSessionClosed = [&](TObject*, Word e) {
            gotAtClose = got.size();
            rec.events.push_back("closed:" + std::to_string(e));
        };
        prepare(s, server.portText());
        s.Connect();
        ASSERT_TRUE(pumpUntil([&] { return rec.has("closed:0"); })) << rec.joined();
        EXPECT_EQ(gotAtClose, payload.size());
        EXPECT_EQ(got, payload);
        EXPECT_EQ(s.State(), wsClosed);
        EXPECT_EQ(rec.count("closed:0"), 1);
        EXPECT_EQ(rec.events.back(), "wsConnected->wsClosed");
    }
}

TEST(TWSocketEvents, CloseInsideOnSessionClosedFiresNoSecondEvent) {
    // Remote close, then local close.
    for (bool remote : {true, false}) {
        SCOPED_TRACE(remote ? "remote close" : "local close");
        LoopbackServer server;
        if (remote) {
            serveBytesThenClose(server, "bye");
        } else {
            server.serveSink();
        }
        TWSocket s;
        EventRecorder rec;
        rec.attach(s);
        int closed = 0;
        s.OnDataAvailable = [&](TObject*, Word) { s.ReceiveStr(); };
        s.OnSessionClosed = [&](TObject*, Word) {
            ++closed;
            s.Close();
        };
        connectTo(s, rec, server.portText());
        if (!remote) {
            s.Close();
        }
        ASSERT_TRUE(pumpUntil([&] { return closed > 0; }));
        pumpFor(50);
        EXPECT_EQ(closed, 1);
        EXPECT_EQ(s.State(), wsClosed);
    }
}

TEST(TWSocketEvents, CloseInsideDataHandlerDuringRemoteClose) {
    LoopbackServer server;
    serveBytesThenClose(server, "last words");
    TWSocket s;
    EventRecorder rec;
    rec.attach(s);
    s.OnDataAvailable = [&](TObject*, Word) {
        char buf[64];
        if (s.Receive(buf, sizeof buf) == 0) {
            s.Close();  // end of stream seen by the handler itself
        }
    };
    connectTo(s, rec, server.portText());
    ASSERT_TRUE(pumpUntil([&] { return s.State() == wsClosed; }));
    pumpFor(50);
    EXPECT_EQ(rec.count("closed:0"), 1) << rec.joined();
}

TEST(TWSocketEvents, SendOnClosedSocket) {
    TWSocket s;
    EventRecorder rec;
    rec.attach(s);
    EXPECT_EQ(s.SendStr("x"), -1);
    EXPECT_EQ(s.LastError(), 10057);
    EXPECT_EQ(rec.errors, 1);
    EXPECT_EQ(rec.events, (Events{"error"}));

    TWSocket plain;
    EXPECT_EQ(raisedText<ESocketException>([&] { plain.SendStr("x"); }),
              "Socket is not connected (#10057 in Send)");
}

TEST(TWSocketEvents, ZeroLengthSendStillReportsDataSent) {
    LoopbackServer server;
    server.serveSink();
    TWSocket s;
    EventRecorder rec;
    rec.attach(s);
    connectTo(s, rec, server.portText());
    rec.events.clear();
    char none = 0;
    EXPECT_EQ(s.Send(&none, 0), 0);
    EXPECT_TRUE(rec.events.empty());  // posted, never from inside Send
    ASSERT_TRUE(pumpUntil([&] { return rec.has("sent:0"); }));
    pumpFor(30);
    EXPECT_EQ(rec.events, (Events{"sent:0"}));
    s.Close();
}

// The peer resets while Send's write notification is pending: the bytes queued behind it
// meet the reset in that notification's send, not inside Send. The connection closes with
// OnSessionClosed(10054) and no OnDataSent follows, as nothing was sent.
TEST(TWSocketEvents, PeerResetMetByTheWriteNotification) {
    LoopbackServer server;
    server.serve([](int fd) {
        char c;
        ::recv(fd, &c, 1, MSG_WAITALL);
        resetClose(fd);
    });
    TWSocket s;
    EventRecorder rec;
    rec.attach(s);
    connectTo(s, rec, server.portText());
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

TEST(TWSocketEvents, HookExceptionGoesToBgExceptionAndAborts) {
    for (bool keep : {false, true}) {
        SCOPED_TRACE(keep ? "CanClose cleared" : "default");
        LoopbackServer server;
        server.serveSink();
        TWSocket s;
        EventRecorder rec;
        rec.attach(s);
        std::string caught;
        s.OnSessionConnected = [](TObject*, Word) { throw std::runtime_error("boom"); };
        s.OnBgException = [&](TObject* sender, const std::exception& e, bool& canClose) {
            EXPECT_EQ(sender, &s);
            caught = e.what();
            canClose = !keep;
        };
        prepare(s, server.portText());
        s.Connect();
        ASSERT_TRUE(pumpUntil([&] { return !caught.empty(); }));
        EXPECT_EQ(caught, "boom");
        pumpFor(30);
        EXPECT_EQ(s.State(), keep ? wsConnected : wsClosed) << rec.joined();
        s.Close();
    }
}

TEST(TWSocketEvents, UnhandledDataIsDiscarded) {
    LoopbackServer server;
    serveBytesThenClose(server, patternText(5000));
    TWSocket s;
    EventRecorder rec;
    rec.attach(s);
    connectTo(s, rec, server.portText());
    ASSERT_TRUE(pumpUntil([&] { return rec.has("closed:0"); })) << rec.joined();
    EXPECT_EQ(s.State(), wsClosed);
}

TEST(TWSocketEvents, HandlerEndsLoopWithMinusOne) {
    LoopbackServer server;
    server.serve([](int fd) {
        const std::string data = patternText(3000);
        writeAll(fd, data.data(), data.size());
        std::uint64_t sum = 0;
        readToEnd(fd, sum);
    });
    TWSocket s;
    EventRecorder rec;
    rec.attach(s);
    int calls = 0;
    s.OnDataAvailable = [&](TObject*, Word) {
        ++calls;
        s.SetLastError(-1);  // reads nothing, ends the loop
    };
    connectTo(s, rec, server.portText());
    ASSERT_TRUE(pumpUntil([&] { return calls > 0; }));
    pumpFor(50);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(s.LastError(), 0);
    EXPECT_EQ(s.RcvdCount(), 3000);
    EXPECT_EQ(s.ReceiveStr().size(), 3000u);
    EXPECT_EQ(s.ReadCount(), 3000);
    s.Close();
}

TEST(TWSocketEvents, ReceiveStrWithNothingReadable) {
    LoopbackServer server;
    server.serveSink();
    TWSocket s;
    EventRecorder rec;
    rec.attach(s);
    connectTo(s, rec, server.portText());
    EXPECT_EQ(s.ReceiveStr(), "");
    EXPECT_EQ(s.LastError(), 10035);
    s.Close();
}

TEST(TWSocketEvents, DatagramSocketConnectsAtOnce) {
    const int udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sin;
    ASSERT_EQ(::bind(udp, reinterpret_cast<sockaddr*>(&sin), sizeof sin), 0);
    ::getsockname(udp, reinterpret_cast<sockaddr*>(&sin), &len);
    setTimeouts(udp, 5);

    TWSocket s;
    EventRecorder rec;
    rec.attach(s);
    std::string reply;
    s.OnDataAvailable = [&](TObject*, Word) { reply += s.ReceiveStr(); };
    s.SetProto("udp");
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(ntohs(sin.sin_port)));
    s.Connect();
    EXPECT_EQ(rec.events, (Events{"wsClosed->wsOpened", "wsOpened->wsConnected", "connected:0"}));
    EXPECT_NE(s.LocalPort(), "0");  // the port actually bound
    EXPECT_EQ(s.SendStr("ping"), 4);

    char buf[16] = {};
    sockaddr_in from{};
    socklen_t flen = sizeof from;
    const ssize_t n =
        ::recvfrom(udp, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &flen);
    ASSERT_EQ(n, 4);
    EXPECT_EQ(std::string(buf, 4), "ping");
    EXPECT_EQ(std::to_string(ntohs(from.sin_port)), s.LocalPort());
    ::sendto(udp, "pong", 4, 0, reinterpret_cast<sockaddr*>(&from), flen);
    ASSERT_TRUE(pumpUntil([&] { return reply == "pong"; })) << reply;
    s.Close();
    ::close(udp);
}

// A socket whose destructor is observable, for hooks that destroy it.
struct CountedSocket : TWSocket {
    explicit CountedSocket(bool& gone) : m_gone(gone) {}
    ~CountedSocket() override { m_gone = true; }
    bool& m_gone;
};

TEST(TWSocketEvents, HookMayDeleteItsSocket) {
    LoopbackServer server;
    serveBytesThenClose(server, patternText(4000));
    bool gone = false;
    auto* s = new CountedSocket(gone);
    s->OnDataAvailable = [s](TObject*, Word) { s->ReceiveStr(); };
    s->OnSessionClosed = [s](TObject*, Word) { delete s; };
    prepare(*s, server.portText());
    s->Connect();
    ASSERT_TRUE(pumpUntil([&] { return gone; }));
    pumpFor(30);
}

TEST(TWSocketEvents, FreeLaterReleasesAfterTheHook) {
    bool gone = false;
    auto* s = new CountedSocket(gone);
    bool closedSeen = false;
    s->OnSessionClosed = [s, &closedSeen, &gone](TObject*, Word) {
        closedSeen = true;
        s->FreeLater();
        EXPECT_FALSE(gone);  // never from inside the call
    };
    prepare(*s, std::to_string(unusedPort()));
    s->Connect();
    ASSERT_TRUE(pumpUntil([&] { return gone; }));
    EXPECT_TRUE(closedSeen);
}

TEST(TWSocketEvents, CloseLaterClosesFromTheLoop) {
    LoopbackServer server;
    server.serveSink();
    TWSocket s;
    EventRecorder rec;
    rec.attach(s);
    connectTo(s, rec, server.portText());
    s.CloseLater();
    EXPECT_EQ(s.State(), wsConnected);
    ASSERT_TRUE(pumpUntil([&] { return s.State() == wsClosed; }));
    EXPECT_EQ(rec.count("closed:0"), 1);
}

TEST(TWSocketEvents, LoggerLinesOfTheConnectRoad) {
    LoopbackServer server;
    server.serve([](int) {});
    TSocketLogger log;
    std::vector<std::string> lines;
    log.SetOnSocketLogEvent([&](TObject*, TLogOption o, const std::string& m) {
        lines.push_back(std::to_string(o) + ":" + m);
    });
    log.SetLogOptions({loDestEvent, loWsockInfo});
    TWSocket s;
    s.SetSocketLogger(&log);
    prepare(s, server.portText());
    s.Connect();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "5:TWSocket will connect to 127.0.0.1:" + server.portText());
    s.Abort();
}

TEST(TWSocketEvents, LoggerDumpLines) {
    LoopbackServer server;
    server.serve([](int) {});
    TSocketLogger log;
    std::vector<std::string> lines;
    log.SetOnSocketLogEvent([&](TObject*, TLogOption o, const std::string& m) {
        lines.push_back(std::to_string(o) + ":" + m);
    });
    log.SetLogOptions({loDestEvent, loWsockDump});
    TWSocket s;
    EventRecorder rec;
    rec.attach(s);
    s.SetSocketLogger(&log);
    prepare(s, server.portText());
    s.Connect();
    ASSERT_TRUE(pumpUntil([&] { return rec.has("sent:0"); }));
    const std::string h = std::to_string(s.HSocket());
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "12:AsyncSelect CtrlSocket" + h + ", 16 FD_CONNECT");
    EXPECT_EQ(lines[1], "12:AsyncSelect CtrlSocket" + h + ", 2 FD_WRITE");
    EXPECT_TRUE(std::regex_match(lines[2], std::regex("6:[0-9A-F]{8} TriggerDataSent " + h)))
        << lines[2];
    s.Abort();
}

TEST(TWSocketEvents, DestroyedLoggerIsForgotten) {
    TWSocket s;
    {
        TSocketLogger log;
        s.SetSocketLogger(&log);
        EXPECT_EQ(s.SocketLogger(), &log);
    }
    EXPECT_EQ(s.SocketLogger(), nullptr);
}

TEST(TWSocketEvents, SendFlagsRefuseUnknownValues) {
    TWSocket s;
    s.SetSendFlags(wsSendUrgent);
    EXPECT_EQ(s.SendFlags(), wsSendUrgent);
    EXPECT_EQ(
        raisedText<ESocketException>([&] { s.SetSendFlags(static_cast<TSocketSendFlags>(7)); }),
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
TEST(TWSocketEvents, FailedConnectOrListenLeavesNoHandleOpen) {
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
         [](TWSocket& s) {
             s.SetAddr("127.0.0.1");
             s.SetPort("nosuchservice");
             s.Connect();
         },
         "connect: Winsock Resolve Port: Cannot convert port 'nosuchservice'"},
        {"local address of another computer",
         [&](TWSocket& s) {
             s.SetLocalAddr("192.0.2.1");
             prepare(s, portText);
             s.Connect();
         },
         "Bind socket failed - "},
        {"listening on a port that is taken",
         [&](TWSocket& s) {
             prepare(s, portText);
             s.Listen();
         },
         "Address already in use (#10048 in Bind)"},
    };
    for (const Case& c : cases) {
        for (const char* then : {"Close", "Connect", "destroy"}) {
            SCOPED_TRACE(std::string(c.what) + ", then " + then);
            auto s = std::make_unique<TWSocket>();
            const std::string text = raisedText<ESocketException>([&] { c.fail(*s); });
            EXPECT_EQ(text.rfind(c.text, 0), 0u) << text;
            if (std::string(then) == "Close") {
                s->Close();
                EXPECT_EQ(s->HSocket(), INVALID_SOCKET);
            } else if (std::string(then) == "Connect") {
                try {  // refused while a failed Connect's handle is still in use
                    s->SetLocalAddr("0.0.0.0");
                    prepare(*s, portText);
                    s->Connect();
                } catch (const ESocketException&) {
                }
                s->Abort();
            }
            s.reset();
            EXPECT_EQ(openSockets(), before);
        }
    }
    ::close(taken);
}

}  // namespace
