// Large transfers through the send queue and the receive loop, and a socket
// living in a worker thread.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "net/TWSocket.h"
#include "support/EventPump.h"
#include "support/EventRecorder.h"
#include "support/LoopbackListener.h"
#include "support/LoopbackServer.h"

using namespace vandrel::test;
using namespace vandrel::net;

namespace {

constexpr std::size_t kMiB = 1 << 20;

std::vector<std::uint8_t> pattern(std::size_t n, std::uint64_t offset = 0) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) {
        v[i] = patternByte(offset + i);
    }
    return v;
}

std::uint64_t patternSum(std::size_t n) {
    const std::vector<std::uint8_t> v = pattern(n);
    return fold(0, v.data(), v.size());
}

// Reads exactly n bytes (or until the peer goes away); optional pause per read.
std::uint64_t readExactly(int fd, std::size_t n, std::uint64_t& sum, int pauseUs = 0) {
    std::vector<char> buf(64 * 1024);
    std::uint64_t total = 0;
    while (total < n) {
        const ssize_t r = ::recv(fd, buf.data(), std::min(buf.size(), n - total), 0);
        if (r <= 0) {
            break;
        }
        sum = fold(sum, buf.data(), static_cast<std::size_t>(r));
        total += static_cast<std::uint64_t>(r);
        if (pauseUs > 0) {
            ::usleep(static_cast<useconds_t>(pauseUs));
        }
    }
    return total;
}

// Counts the write notifications the socket handles.
struct ProbeSocket : TWSocket {
    int writeEvents = 0;
    void HandleWriteEvent(Word e) override {
        ++writeEvents;
        TWSocket::HandleWriteEvent(e);
    }
    using TCustomWSocket::Queue;
    using TCustomWSocket::QueueSendData;
};

void prepare(TWSocket& s, const std::string& port) {
    s.SetProto("tcp");
    s.SetAddr("127.0.0.1");
    s.SetPort(port);
}

TEST(TWSocketBulk, QueueSplitsIntoBlocks) {
    ProbeSocket s;
    const std::vector<std::uint8_t> data = pattern(5000);
    s.QueueSendData(data.data(), 4000);
    ASSERT_EQ(s.Queue().BlockCount(), 3u);
    int len = 0;
    EXPECT_NE(s.Queue().Block(0).Peek(len), nullptr);
    EXPECT_EQ(len, 1460);
    s.Queue().Block(2).Peek(len);
    EXPECT_EQ(len, 1080);
    EXPECT_EQ(s.BufferedByteCount(), 4000);
    EXPECT_FALSE(s.AllSent());

    ProbeSocket t;
    t.QueueSendData(data.data(), 5000);
    ASSERT_EQ(t.Queue().BlockCount(), 4u);
    t.Queue().Block(3).Peek(len);
    EXPECT_EQ(len, 620);
    t.QueueSendData(data.data(), 0);
    t.QueueSendData(nullptr, 10);
    EXPECT_EQ(t.BufferedByteCount(), 5000);
}

TEST(TWSocketBulk, SixtyFourMiBEachWay) {
    const std::size_t total = 64 * kMiB;
    const std::uint64_t expected = patternSum(total);
    LoopbackServer server;
    std::atomic<std::uint64_t> serverGot{0};
    std::atomic<std::uint64_t> serverSum{0};
    server.serve([&](int fd) {
        std::thread writer([fd, total] {
            const std::vector<std::uint8_t> chunk = pattern(total);
            writeAll(fd, chunk.data(), chunk.size());
        });
        std::uint64_t sum = 0;
        serverGot = readExactly(fd, total, sum);
        serverSum = sum;
        writer.join();
    });

    ProbeSocket s;
    EventRecorder rec;
    rec.attach(s);
    std::uint64_t got = 0;
    std::uint64_t sum = 0;
    int readCount = 0;
    std::vector<char> buf(64 * 1024);
    s.OnDataAvailable = [&](TObject*, Word) {
        const int n = s.Receive(buf.data(), static_cast<int>(buf.size()));
        if (n > 0) {
            sum = fold(sum, buf.data(), static_cast<std::size_t>(n));
            got += static_cast<std::uint64_t>(n);
        }
        readCount = s.ReadCount();
    };
    prepare(s, server.portText());
    s.Connect();
    ASSERT_TRUE(pumpUntil([&] { return rec.has("sent:0"); }));
    rec.events.clear();

    const std::vector<std::uint8_t> data = pattern(total);
    for (std::size_t off = 0; off < total; off += kMiB) {
        ASSERT_EQ(s.Send(data.data() + off, kMiB), static_cast<int>(kMiB));
    }
    ASSERT_TRUE(pumpUntil([&] { return server.done() && got == total && s.AllSent(); }, 60000))
        << "client got " << got << ", server got " << serverGot.load();
    pumpFor(30);
    EXPECT_EQ(sum, expected);
    EXPECT_EQ(serverSum.load(), expected);
    EXPECT_EQ(rec.count("sent:0"), 1) << "OnDataSent exactly once after the last byte";
    EXPECT_EQ(s.BufferedByteCount(), 0);
    EXPECT_EQ(readCount, static_cast<int>(total));
    s.Close();
}

TEST(TWSocketBulk, SlowReaderForcesRepeatedWriteNotifications) {
    const std::size_t total = 32 * kMiB;
    LoopbackServer server;
    std::atomic<std::uint64_t> serverSum{0};
    std::atomic<std::uint64_t> serverGot{0};
    server.serve([&](int fd) {
        std::uint64_t sum = 0;
        serverGot = readExactly(fd, total, sum, 300);
        serverSum = sum;
    });
    ProbeSocket s;
    EventRecorder rec;
    rec.attach(s);
    prepare(s, server.portText());
    s.Connect();
    ASSERT_TRUE(pumpUntil([&] { return rec.has("sent:0"); }));
    rec.events.clear();
    const int writesBefore = s.writeEvents;
    const std::vector<std::uint8_t> data = pattern(total);
    ASSERT_EQ(s.Send(data.data(), static_cast<int>(total)), static_cast<int>(total));
    EXPECT_FALSE(s.AllSent());  // more than the system takes at once
    ASSERT_TRUE(pumpUntil([&] { return rec.has("sent:0"); }, 60000));
    EXPECT_TRUE(pumpUntil([&] { return server.done(); }, 60000));
    pumpFor(30);
    EXPECT_GE(s.writeEvents - writesBefore, 3);
    EXPECT_EQ(rec.count("sent:0"), 1);
    EXPECT_EQ(serverGot.load(), total);
    EXPECT_EQ(serverSum.load(), fold(0, data.data(), data.size()));
    s.Close();
}

TEST(TWSocketBulk, WorkerThreadRunsItsOwnEvents) {
    LoopbackServer server;
    server.serve([](int fd) { writeAll(fd, "from the server", 15); });
    const std::string port = server.portText();

    // The worker runs an event loop of its own; the main thread runs none
    // meanwhile. Results travel back through join().
    std::thread::id workerId;
    std::vector<std::thread::id> hookThreads;
    std::string got;
    bool done = false;
    std::thread worker([&] {
        workerId = std::this_thread::get_id();
        QEventLoop loop;
        auto* s = new TWSocket;
        s->OnSessionConnected = [&](TObject*, Word) {
            hookThreads.push_back(std::this_thread::get_id());
        };
        s->OnDataAvailable = [&, s](TObject*, Word) {
            hookThreads.push_back(std::this_thread::get_id());
            got += s->ReceiveStr();
        };
        s->OnSessionClosed = [&, s](TObject*, Word) {
            hookThreads.push_back(std::this_thread::get_id());
            done = true;
            s->FreeLater();
        };
        bool released = false;
        prepare(*s, port);
        s->Connect();
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (done && !released) {
                released = true;
                QTimer::singleShot(20, &loop, &QEventLoop::quit);  // let FreeLater run
            }
        });
        poll.start(5);
        loop.exec();
    });
    worker.join();
    ASSERT_TRUE(done);
    EXPECT_EQ(got, "from the server");
    EXPECT_NE(workerId, std::this_thread::get_id());
    ASSERT_GE(hookThreads.size(), 3u);
    for (const std::thread::id& id : hookThreads) {
        EXPECT_EQ(id, workerId);
    }
}

}  // namespace
