// Line mode and waiting on TWSocket against peers on 127.0.0.1.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "net/TWSocket.h"
#include "support/EventPump.h"
#include "support/EventRecorder.h"
#include "support/LoopbackListener.h"
#include "support/LoopbackServer.h"
#include "support/RaisedText.h"
#include "support/ScriptedSocksPeer.h"

using namespace vandrel::net;
using namespace vandrel::test;
using Texts = std::vector<std::string>;

namespace {

// Reads exactly n bytes (or what comes within the socket's timeout).
std::string readBytes(int fd, std::size_t n) {
    std::string out;
    char buf[4096];
    while (out.size() < n) {
        const ssize_t got = ::recv(fd, buf, std::min(sizeof buf, n - out.size()), 0);
        if (got <= 0) {
            break;
        }
        out.append(buf, static_cast<std::size_t>(got));
    }
    return out;
}

// A line-mode socket whose data hook records "RcvdCount:bytes" per delivery.
struct LineClient {
    EventRecorder rec;  // declared first: it outlives the socket, whose close it records
    TWSocket s;
    Texts deliveries;
    int readSize = 0;  // 0: the whole RcvdCount

    LineClient() {
        rec.attach(s);
        s.OnDataSent = nullptr;
        s.OnDataAvailable = [this](TObject*, Word) {
            const int pending = s.RcvdCount();
            std::string got(
                static_cast<std::size_t>(readSize > 0 ? readSize : std::max(pending, 255)), '\0');
            const int n = s.Receive(got.data(), static_cast<int>(got.size()));
            if (n > 0) {
                deliveries.push_back(std::to_string(pending) + ":" +
                                     got.substr(0, static_cast<std::size_t>(n)));
                rec.events.push_back("data");
            }
        };
    }
    void connectTo(const std::string& port) {
        s.SetProto("tcp");
        s.SetAddr("127.0.0.1");
        s.SetPort(port);
        s.Connect();
    }
};

struct LineCase {
    const char* name;
    std::function<void(TWSocket&)> setUp;
    Texts chunks;  // sent with a pause between them, then the peer closes
    Texts deliveries;
    std::string echo;
};

TEST(TWSocketLine, DeliveriesEchoAndLastLine) {
    const std::vector<LineCase> cases = {
        {"two lines in one packet",
         [](TWSocket&) {},
         {"ab\r\ncd\r\n"},
         {"4:ab\r\n", "4:cd\r\n"},
         ""},
        {"line end split, last line at close",
         [](TWSocket&) {},
         {"ab\r", "\ncd"},
         {"4:ab\r\n", "2:cd"},
         ""},
        {"edited and echoed",
         [](TWSocket& s) {
             s.SetLineEdit(true);
             s.SetLineEcho(true);
         },
         {"abc\bd\r\n"},
         {"5:abd\r\n"},
         "abc\b \bd\r\n"},
        {"echo without edit",
         [](TWSocket& s) { s.SetLineEcho(true); },
         {"a\tb\n", "\r\n"},
         {"6:a\tb\n\r\n"},
         "a\tb\n\r\n"},
        {"tab stops",
         [](TWSocket& s) { s.SetLineEdit(true); },
         {"a\tb\r\n"},
         {"11:a       b\r\n"},
         ""},
        {"other line end",
         [](TWSocket& s) { s.SetLineEnd("END"); },
         {"xEN", "Dy"},
         {"4:xEND", "1:y"},
         ""},
        {"line mode off",
         [](TWSocket& s) { s.SetLineMode(false); },
         {"ab\r\ncd"},
         {"6:ab\r\ncd"},
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackServer server;
        std::string echoed;
        server.serve([&](int fd) {
            for (const auto& chunk : c.chunks) {
                writeAll(fd, chunk.data(), chunk.size());
                std::this_thread::sleep_for(std::chrono::milliseconds(40));
            }
            echoed = readBytes(fd, c.echo.size());
        });
        LineClient cl;
        cl.s.SetLineMode(true);
        c.setUp(cl.s);
        cl.connectTo(server.portText());
        ASSERT_TRUE(pumpUntil([&] { return cl.rec.has("closed:0"); })) << cl.rec.joined();
        server.join();
        EXPECT_EQ(cl.deliveries, c.deliveries);
        EXPECT_EQ(echoed, c.echo);
        // Every delivery, the last line too, comes before OnSessionClosed.
        const auto closed = std::find(cl.rec.events.begin(), cl.rec.events.end(), "closed:0");
        EXPECT_EQ(std::count(closed, cl.rec.events.end(), "data"), 0) << cl.rec.joined();
    }
}

TEST(TWSocketLine, PiecewiseReadsLimitAndSendLine) {
    LoopbackServer server;
    std::string sent;
    server.serve([&](int fd) {
        writeAll(fd, "abcdef", 6);
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        writeAll(fd, "gh\r\n", 4);
        sent = readBytes(fd, 3);
    });
    LineClient cl;
    cl.readSize = 2;
    std::vector<int> limits;
    cl.s.OnLineLimitExceeded = [&](TObject*, int length, bool& clear) {
        limits.push_back(length);
        EXPECT_TRUE(clear);
    };
    cl.s.SetLineMode(true);
    cl.s.SetLineLimit(4);
    cl.connectTo(server.portText());
    ASSERT_TRUE(pumpUntil([&] { return cl.deliveries.size() == 2; })) << cl.rec.joined();
    EXPECT_EQ(limits, (std::vector<int>{6}));
    EXPECT_EQ(cl.deliveries, (Texts{"4:gh", "2:\r\n"}));
    EXPECT_EQ(cl.s.SendLine(""), 0);
    EXPECT_EQ(cl.s.SendLine("x"), 3);
    server.join();
    EXPECT_EQ(sent, "x\r\n");
}

TEST(TWSocketLine, SwitchingLineModeOffRedispatchesBufferedBytes) {
    LoopbackServer server;
    server.serve([](int fd) {
        writeAll(fd, "ab\r\ncd", 6);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    });
    LineClient cl;
    cl.s.SetLineMode(true);
    cl.s.SetLineEnd("#");
    cl.connectTo(server.portText());
    ASSERT_TRUE(pumpUntil([&] { return cl.rec.has("sent:0") || cl.s.State() == wsConnected; }));
    pumpFor(100);
    EXPECT_EQ(cl.s.RcvdCount(), 0);  // no line yet
    cl.s.SetLineMode(false);
    EXPECT_TRUE(cl.deliveries.empty());  // nothing from inside the setter
    ASSERT_TRUE(pumpUntil([&] { return !cl.deliveries.empty(); }));
    EXPECT_EQ(cl.deliveries, (Texts{"0:ab\r\ncd"}));  // RcvdCount is the system's count
    cl.s.Close();
    server.join();
}

TEST(TWSocketLine, LinesBehindASocksGrant) {
    ScriptedSocksPeer peer(
        {{3, {5, 0}}, {7 + 9, {5, 0, 0, 1, 127, 0, 0, 1, 0, 1, 'h', 'i', '\r', '\n', 'y', 'o'}}},
        ScriptedSocksPeer::Then::Echo);
    LineClient cl;
    cl.s.SetLineMode(true);
    cl.s.SetSocksServer("127.0.0.1");
    cl.s.SetSocksPort(peer.portText());
    cl.connectTo("25");
    ASSERT_TRUE(pumpUntil([&] { return !cl.deliveries.empty(); })) << cl.rec.joined();
    EXPECT_EQ(cl.deliveries, (Texts{"4:hi\r\n"}));
    cl.s.SendStr("u\r\n");  // echoed: completes "you"
    ASSERT_TRUE(pumpUntil([&] { return cl.deliveries.size() == 2; })) << cl.rec.joined();
    EXPECT_EQ(cl.deliveries.back(), "5:you\r\n");
}

// Ten megabytes of lines of random length, written in pieces cut at random
// points, arrive as exactly the same lines; the hook reads in random pieces.
TEST(TWSocketLine, RandomLinesArriveUnchanged) {
    std::mt19937 rng(20240611);
    Texts lines;
    std::string stream;
    while (stream.size() < 10u * 1024 * 1024) {
        std::string line(std::uniform_int_distribution<std::size_t>(0, 2000)(rng), '.');
        for (auto& ch : line) {
            ch = static_cast<char>(std::uniform_int_distribution<int>(0, 255)(rng));
            if (ch == '\n') {
                ch = 'n';
            }
        }
        line += '\n';
        stream += line;
        lines.push_back(std::move(line));
    }
    LoopbackServer server;
    server.serve([&stream](int fd) {
        std::mt19937 cut(7);
        for (std::size_t pos = 0; pos < stream.size();) {
            const std::size_t n = std::min(
                stream.size() - pos, std::uniform_int_distribution<std::size_t>(1, 9000)(cut));
            writeAll(fd, stream.data() + pos, n);
            pos += n;
        }
    });
    TWSocket s;
    s.SetLineMode(true);
    s.SetLineEnd("\n");
    s.SetLineLimit(0);
    Texts got;
    std::string current;
    bool closed = false;
    s.OnDataAvailable = [&](TObject*, Word) {
        char buf[4096];
        const int n = s.Receive(buf, std::uniform_int_distribution<int>(1, 4096)(rng));
        if (n > 0) {
            current.append(buf, static_cast<std::size_t>(n));
        }
        if (s.RcvdCount() == 0 && !current.empty()) {
            got.push_back(std::move(current));
            current.clear();
        }
    };
    s.OnSessionClosed = [&](TObject*, Word) { closed = true; };
    s.SetAddr("127.0.0.1");
    s.SetPort(server.portText());
    s.Connect();
    ASSERT_TRUE(pumpUntil([&] { return closed; }, 60000));
    server.join();
    EXPECT_EQ(got.size(), lines.size());
    EXPECT_TRUE(got == lines);
}

TEST(TWSocketSync, RunAndWaitAndTimeout) {
    LoopbackServer server;
    server.serve([](int fd) { readBytes(fd, 1); });
    TWSocket s;
    bool connected = false;
    s.OnSessionConnected = [&](TObject*, Word) { connected = true; };
    s.SetAddr("127.0.0.1");
    s.SetPort(server.portText());
    EXPECT_EQ(s.RunAndWait([&] { s.Connect(); }, connected), 0);
    EXPECT_EQ(s.State(), wsConnected);

    bool never = false;
    s.SetWaitTimeout(50);
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(s.WaitForFlag(never), kWaitForFlagFailed);
    EXPECT_GE(t.elapsed(), 50);
    EXPECT_LT(t.elapsed(), 2000);
    s.Close();
}

// A request to quit the thread's event loop ends the wait: the application's
// quit on the main thread, QThread::quit on a worker that pumps its own queue.
TEST(TWSocketSync, QuitEndsTheWait) {
    // Bounded, so that a wait which misses the quit fails instead of hanging.
    constexpr int kBound = 4000;
    int mainResult = -1;
    TWSocket s;
    s.SetWaitTimeout(kBound);
    bool never = false;
    QElapsedTimer t;
    t.start();
    QTimer::singleShot(0, [&] {
        QTimer::singleShot(30, [] { QCoreApplication::quit(); });
        mainResult = s.WaitForFlag(never);
    });
    QCoreApplication::exec();
    EXPECT_EQ(mainResult, kWaitForFlagFailed);
    EXPECT_LT(t.elapsed(), kBound / 2);

    std::atomic<int> workerResult{-1};
    std::atomic<bool> waiting{false};
    QThread* worker = QThread::create([&] {
        TWSocket w;
        w.SetMultiThreaded(true);
        w.SetWaitTimeout(kBound);
        bool flag = false;
        waiting = true;
        workerResult = w.WaitForFlag(flag);
    });
    worker->start();
    ASSERT_TRUE(pumpUntil([&] { return waiting.load(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    t.restart();
    worker->quit();
    ASSERT_TRUE(worker->wait(kBound * 2));
    EXPECT_LT(t.elapsed(), kBound / 2);
    delete worker;
    EXPECT_EQ(workerResult.load(), kWaitForFlagFailed);
}

}  // namespace
