// Loopback throughput of TWSocket against a plain blocking read loop (the
// limit) and QTcpSocket, and the memory a large queued send costs.
// Last line of output: one JSON object.
#include <malloc.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "BlockingPeer.h"
#include "SendRuns.h"
#include "net/TWSocket.h"

using namespace vandrel::net;

using vandrel::bench::BlockingPeer;

namespace {

constexpr std::size_t kMiB = 1 << 20;
constexpr std::size_t kTotal = 256 * kMiB;
constexpr int kRuns = 5;

using Clock = std::chrono::steady_clock;

double mbps(std::size_t bytes, Clock::time_point start) {
    const double secs = std::chrono::duration<double>(Clock::now() - start).count();
    return static_cast<double>(bytes) / kMiB / secs;
}

// Runs the event loop until done() is set by a hook, at most 120 s.
void runUntil(QEventLoop& loop) {
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    loop.exec();
}

void prepare(TWSocket& s, std::uint16_t port) {
    s.SetProto("tcp");
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(port));
}

double twsocketSend() {
    return vandrel::bench::twsocketSendMBps(kTotal, prepare);
}

double qtSend() {
    return vandrel::bench::qtSendMBps(kTotal);
}

double twsocketRecv(int receiveSize) {
    BlockingPeer source(BlockingPeer::Role::Source, kTotal);
    TWSocket s;
    QEventLoop loop;
    std::vector<char> buf(static_cast<std::size_t>(receiveSize));
    std::size_t got = 0;
    Clock::time_point start;
    s.OnSessionConnected = [&](TObject*, Word) { start = Clock::now(); };
    s.OnDataAvailable = [&](TObject*, Word) {
        const int n = s.Receive(buf.data(), receiveSize);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        }
    };
    s.OnSessionClosed = [&](TObject*, Word) { loop.quit(); };
    prepare(s, source.port());
    s.Connect();
    runUntil(loop);
    const double r = mbps(got, start);
    source.join();
    return got == kTotal ? r : 0.0;
}

double qtRecv() {
    BlockingPeer source(BlockingPeer::Role::Source, kTotal);
    QTcpSocket sock;
    QEventLoop loop;
    std::vector<char> buf(64 * 1024);
    std::size_t got = 0;
    Clock::time_point start;
    QObject::connect(&sock, &QTcpSocket::connected, [&] { start = Clock::now(); });
    QObject::connect(&sock, &QTcpSocket::readyRead, [&] {
        for (;;) {
            const qint64 n = sock.read(buf.data(), static_cast<qint64>(buf.size()));
            if (n <= 0) {
                break;
            }
            got += static_cast<std::size_t>(n);
        }
    });
    QObject::connect(&sock, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
    sock.connectToHost(QHostAddress::LocalHost, source.port());
    runUntil(loop);
    const double r = mbps(got, start);
    source.join();
    return got == kTotal ? r : 0.0;
}

std::size_t heapInUse() {
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

// Heap growth per byte waiting in the send queue of a 64 MiB send to a peer
// that does not read.
double queueMemoryRatio() {
    BlockingPeer hold(BlockingPeer::Role::Hold, 0);
    TWSocket s;
    QEventLoop loop;
    s.OnDataSent = [&](TObject*, Word) { loop.quit(); };
    prepare(s, hold.port());
    s.Connect();
    runUntil(loop);
    const std::vector<char> data(64 * kMiB, 'm');
    const std::size_t before = heapInUse();
    s.Send(data.data(), static_cast<int>(data.size()));
    const std::size_t after = heapInUse();
    const auto queued = static_cast<double>(s.BufferedByteCount());
    std::printf("queued %.1f MiB of 64 MiB (the system holds the rest), heap +%.1f MiB\n",
                queued / kMiB, static_cast<double>(after - before) / kMiB);
    s.Abort();
    hold.release();
    return queued > 0 ? static_cast<double>(after - before) / queued : 0.0;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Case {
    const char* name;
    std::function<double()> run;
    std::vector<double> results;
};

// Runs the cases round-robin, so that a change of load on the machine hits
// every case alike; prints and returns the median of each.
std::vector<double> measureInterleaved(std::vector<Case>& cases) {
    for (int i = 0; i < kRuns; ++i) {
        for (Case& c : cases) {
            c.results.push_back(c.run());
        }
    }
    std::vector<double> medians;
    for (Case& c : cases) {
        const double m = median(c.results);
        char all[128] = {};
        std::size_t used = 0;
        for (double r : c.results) {
            used +=
                static_cast<std::size_t>(std::snprintf(all + used, sizeof all - used, " %.0f", r));
        }
        std::printf("%-34s %8.0f MB/s (median of %d:%s)\n", c.name, m, kRuns, all);
        medians.push_back(m);
    }
    std::fflush(stdout);
    return medians;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // "--only recv2k|recv64k|send|qtrecv|qtsend": one case, for profiling.
    if (argc == 3 && std::string(argv[1]) == "--only") {
        const std::string c = argv[2];
        const double r = c == "recv2k"    ? twsocketRecv(2048)
                         : c == "recv64k" ? twsocketRecv(64 * 1024)
                         : c == "send"    ? twsocketSend()
                         : c == "qtrecv"  ? qtRecv()
                         : c == "qtsend"  ? qtSend()
                                          : -1.0;
        std::printf("%s %.0f MB/s\n", c.c_str(), r);
        return r < 0 ? 2 : 0;
    }
    std::printf("256 MiB over loopback, MB = 2^20 bytes\n");
    std::vector<Case> cases = {
        {"blocking read() loop (limit)",
         [] { return vandrel::bench::plainReadLoopMBps(kTotal); },
         {}},
        {"TWSocket receive, 2048 per event", [] { return twsocketRecv(2048); }, {}},
        {"TWSocket receive, 64 KiB per event", [] { return twsocketRecv(64 * 1024); }, {}},
        {"QTcpSocket receive", qtRecv, {}},
        {"TWSocket Send, 1460-byte blocks", twsocketSend, {}},
        {"QTcpSocket write, 1460-byte blocks", qtSend, {}},
    };
    const std::vector<double> m = measureInterleaved(cases);
    const double limit = m[0];
    const double recv2k = m[1];
    const double recv64k = m[2];
    const double qtR = m[3];
    const double send = m[4];
    const double qtS = m[5];
    const double ratio = queueMemoryRatio();
    std::printf("receive vs QTcpSocket: %.2f (2 KiB), %.2f (64 KiB); send vs QTcpSocket: %.2f\n",
                recv2k / qtR, recv64k / qtR, send / qtS);
    std::printf("queue memory per queued byte: %.3f\n", ratio);
    std::printf(
        "{\"recv_mb_s_2k\": %.0f, \"recv_mb_s_64k\": %.0f, \"send_mb_s\": %.0f, "
        "\"qt_recv_mb_s\": %.0f, \"qt_send_mb_s\": %.0f, \"limit_recv_mb_s\": %.0f, "
        "\"queue_memory_ratio\": %.3f}\n",
        recv2k, recv64k, send, qtR, qtS, limit, ratio);
    return 0;
}
