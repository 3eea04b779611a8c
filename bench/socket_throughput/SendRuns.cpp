#include "SendRuns.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <vector>

#include "BlockingPeer.h"

namespace vandrel::bench {

namespace {

using Clock = std::chrono::steady_clock;

// The event loop until a hook quits it, at most 120 s.
void runUntil(QEventLoop& loop) {
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    loop.exec();
}

// The sink's bytes per second since start, once it has read them all. The event loop
// keeps running meanwhile: a proxy engine may still hold bytes that only it sends on.
double sinkMBps(BlockingPeer& sink, std::size_t total, Clock::time_point start) {
    QEventLoop wait;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (sink.finished()) {
            wait.quit();
        }
    });
    poll.start(1);
    runUntil(wait);
    if (!sink.finished()) {
        return 0.0;  // the caller's close lets the sink end
    }
    const std::size_t moved = sink.join();
    const double secs = std::chrono::duration<double>(Clock::now() - start).count();
    return moved == total ? static_cast<double>(moved) / (1 << 20) / secs : 0.0;
}

}  // namespace

double twsocketSendMBps(std::size_t total,
                        const std::function<void(net::TWSocket&, std::uint16_t)>& prepare) {
    using namespace net;
    BlockingPeer sink(BlockingPeer::Role::Sink, total);
    TWSocket s;
    QEventLoop loop;
    std::vector<char> block(kSendBlock, 't');
    std::size_t queued = 0;
    bool connected = false;
    Clock::time_point start;
    auto pump = [&] {
        while (connected && queued < total &&
               static_cast<std::size_t>(s.BufferedByteCount()) < kSendHighWater) {
            const int n = static_cast<int>(std::min<std::size_t>(kSendBlock, total - queued));
            s.Send(block.data(), n);
            queued += static_cast<std::size_t>(n);
        }
        if (!connected || (queued >= total && s.AllSent())) {
            loop.quit();
        }
    };
    s.OnSessionConnected = [&](TObject*, Word e) {
        connected = e == 0;
        start = Clock::now();
        pump();
    };
    // A handshake through a proxy sends too: only the owner's bytes count.
    s.OnDataSent = [&](TObject*, Word) {
        if (connected) {
            pump();
        }
    };
    prepare(s, sink.port());
    s.Connect();
    runUntil(loop);
    // The last bytes may still be in the kernel: close once the sink has them.
    const double r = connected ? sinkMBps(sink, total, start) : 0.0;
    s.Abort();
    return r;
}

double qtSendMBps(std::size_t total, const std::function<void(QTcpSocket&)>& prepare) {
    BlockingPeer sink(BlockingPeer::Role::Sink, total);
    QTcpSocket sock;
    if (prepare) {
        prepare(sock);
    }
    QEventLoop loop;
    std::vector<char> block(kSendBlock, 'q');
    std::size_t queued = 0;
    Clock::time_point start;
    auto pump = [&] {
        while (queued < total && static_cast<std::size_t>(sock.bytesToWrite()) < kSendHighWater) {
            const qint64 n = static_cast<qint64>(std::min<std::size_t>(kSendBlock, total - queued));
            sock.write(block.data(), n);
            queued += static_cast<std::size_t>(n);
        }
        if (queued >= total && sock.bytesToWrite() == 0) {
            loop.quit();
        }
    };
    QObject::connect(&sock, &QTcpSocket::connected, [&] {
        start = Clock::now();
        pump();
    });
    QObject::connect(&sock, &QTcpSocket::bytesWritten, [&](qint64) { pump(); });
    QObject::connect(&sock, &QTcpSocket::errorOccurred, &loop, &QEventLoop::quit);
    sock.connectToHost(QHostAddress::LocalHost, sink.port());
    runUntil(loop);
    const bool ok = sock.state() == QAbstractSocket::ConnectedState;
    const double r = ok ? sinkMBps(sink, total, start) : 0.0;
    sock.abort();
    return r;
}

}  // namespace vandrel::bench
