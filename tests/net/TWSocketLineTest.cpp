// Line mode and waiting on TWSocket against peers on 127.0.0.1.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/EventPump.h"
#include "support/EventRecorder.h"
#include "support/LoopbackServer.h"
#include "support/ScriptedPeer.h"

using namespace vandrel::net;
using namespace vandrel::test;
using Texts = std::vector<std::string>;

namespace {

// A line-mode socket whose data hook records "RcvdCount:bytes" per delivery.
struct LineClient : RecordedSocket {
    Texts deliveries;
    int readSize = 0;  // 0: the whole RcvdCount

    LineClient() {
        s.OnDataSent = nullptr;
        s.SetLineMode(true);
        s.OnDataAvailable = [this](TObject*, Word) {
            const int pending = s.RcvdCount();
            std::string got(readSize > 0 ? readSize : std::max(pending, 255), '\0');
            got.resize(std::max(s.Receive(got.data(), static_cast<int>(got.size())), 0));
            if (!got.empty()) {
                deliveries.push_back(std::to_string(pending) + ":" + got);
                rec.events.push_back("data");
            }
        };
    }
    void connectTo(const std::string& port) {
        prepareLoopback(s, port);
        s.Connect();
    }
};

TEST(TWSocketLine, DeliveriesEchoAndLastLine) {
    struct Case {
        const char* name;
        Texts chunks;  // sent with a pause between them, then the peer closes
        Texts deliveries;
        std::string echoed = "";
        bool edit = false, echo = false;
        std::string lineEnd = "\r\n";
        bool lineMode = true;
    };
    const std::vector<Case> cases = {
        {"two lines in one packet", {"ab\r\ncd\r\n"}, {"4:ab\r\n", "4:cd\r\n"}},
        {"line end split, last line at close", {"ab\r", "\ncd"}, {"4:ab\r\n", "2:cd"}},
        {"edited and echoed", {"abc\bd\r\n"}, {"5:abd\r\n"}, "abc\b \bd\r\n", true, true},
        {"echo without edit", {"a\tb\n", "\r\n"}, {"6:a\tb\n\r\n"}, "a\tb\n\r\n", false, true},
        {"tab stops", {"a\tb\r\n"}, {"11:a       b\r\n"}, "", true},
        {"other line end", {"xEN", "Dy"}, {"4:xEND", "1:y"}, "", false, false, "END"},
        {"line mode off", {"ab\r\ncd"}, {"6:ab\r\ncd"}, "", false, false, "\r\n", false},
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
            echoed = readBytes(fd, c.echoed.size());
        });
        LineClient cl;
        cl.s.SetLineMode(c.lineMode);
        cl.s.SetLineEnd(c.lineEnd);
        cl.s.SetLineEdit(c.edit);
        cl.s.SetLineEcho(c.echo);
        cl.connectTo(server.portText());
        ASSERT_TRUE(pumpUntil([&] { return cl.rec.has("closed:0"); })) << cl.rec.joined();
        server.join();
        EXPECT_EQ(cl.deliveries, c.deliveries);
        EXPECT_EQ(echoed, c.echoed);
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
    cl.s.SetLineEnd("#");
    cl.connectTo(server.portText());
    ASSERT_TRUE(pumpUntil([&] { return cl.rec.has("sent:0") || cl.s.State() == wsConnected; }));
    pumpFor(100);
    EXPECT_EQ(cl.s.RcvdCount(), 0);  // no line yet
    cl.s.SetLineMode(false);
    EXPECT_TRUE(cl.deliveries.empty());  // nothing from inside the setter
    ASSERT_TRUE(pumpUntil([&] { return !cl.deliveries.empty(); }));
    EXPECT_EQ(cl.deliveries, (Texts{"0:ab\r\ncd"}));  // RcvdCount is the system's count
}

TEST(TWSocketLine, LinesBehindASocksGrant) {
    ScriptedPeer peer(
        {{3, {5, 0}}, {7 + 9, {5, 0, 0, 1, 127, 0, 0, 1, 0, 1, 'h', 'i', '\r', '\n', 'y', 'o'}}},
        ScriptedPeer::Then::Echo);
    LineClient cl;
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
    prepareLoopback(s, server.portText());
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
    prepareLoopback(s, server.portText());
    EXPECT_EQ(s.RunAndWait([&] { s.Connect(); }, connected), 0);
    EXPECT_EQ(s.State(), wsConnected);

    bool never = false;
    s.SetWaitTimeout(50);
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(s.WaitForFlag(never), kWaitForFlagFailed);
    EXPECT_GE(t.elapsed(), 50);
    EXPECT_LT(t.elapsed(), 2000);
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
