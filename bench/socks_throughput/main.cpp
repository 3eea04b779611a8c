// Bytes and handshakes through a SOCKS 5 proxy (Debian's microsocks on
// 127.0.0.1): TWSocket against QTcpSocket with a QNetworkProxy, both to the
// same loopback sink and echo server in the same run.
// Last line of output: one JSON object.
#include <QCoreApplication>
#include <QEventLoop>
#include <QHostAddress>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "SendRuns.h"
#include "net/TWSocket.h"
#include "support/LoopbackServer.h"
#include "support/SocksProxyProcess.h"

using namespace vandrel::net;
using vandrel::test::EchoServer;
using vandrel::test::SocksProxyProcess;

namespace {

constexpr std::size_t kMiB = 1 << 20;
constexpr std::size_t kTotal = 256 * kMiB;
constexpr int kRuns = 5;
constexpr int kHandshakes = 1000;

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void runUntil(QEventLoop& loop) {
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    loop.exec();
}

void throughProxy(TWSocket& s, std::uint16_t proxy, std::uint16_t target) {
    s.SetSocksServer("127.0.0.1");
    s.SetSocksPort(std::to_string(proxy));
    s.SetSocksLevel("5");
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(target));
}

double twsocketSend(std::uint16_t proxy) {
    return vandrel::bench::twsocketSendMBps(
        kTotal, [proxy](TWSocket& s, std::uint16_t sink) { throughProxy(s, proxy, sink); });
}

double qtSend(std::uint16_t proxy) {
    return vandrel::bench::qtSendMBps(kTotal, [proxy](QTcpSocket& q) {
        q.setProxy(QNetworkProxy(QNetworkProxy::Socks5Proxy, "127.0.0.1", proxy));
    });
}

// Microseconds from the connect call to the proxy's grant reaching the owner.
double twsocketHandshake(std::uint16_t proxy, std::uint16_t target) {
    TWSocket s;
    QEventLoop loop;
    bool ok = false;
    s.OnSessionConnected = [&](TObject*, Word e) {
        ok = e == 0;
        loop.quit();
    };
    throughProxy(s, proxy, target);
    const Clock::time_point start = Clock::now();
    s.Connect();
    runUntil(loop);
    const double us = seconds(start) * 1e6;
    s.Close();
    return ok ? us : -1.0;
}

double qtHandshake(std::uint16_t proxy, std::uint16_t target) {
    QTcpSocket sock;
    sock.setProxy(QNetworkProxy(QNetworkProxy::Socks5Proxy, "127.0.0.1", proxy));
    QEventLoop loop;
    bool ok = false;
    QObject::connect(&sock, &QTcpSocket::connected, [&] {
        ok = true;
        loop.quit();
    });
    QObject::connect(&sock, &QTcpSocket::errorOccurred, &loop, &QEventLoop::quit);
    const Clock::time_point start = Clock::now();
    sock.connectToHost(QHostAddress::LocalHost, target);
    runUntil(loop);
    const double us = seconds(start) * 1e6;
    sock.abort();
    return ok ? us : -1.0;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

std::string listed(const std::vector<double>& v) {
    std::string out;
    for (double x : v) {
        out += " " + std::to_string(static_cast<long>(x));
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    SocksProxyProcess proxy = SocksProxyProcess::microsocks();
    if (!proxy.ready()) {
        std::fprintf(stderr, "socks_throughput: %s\n", proxy.error().c_str());
        return 2;
    }
    // Round-robin, so that a change of load on the machine hits both alike.
    std::vector<double> tw, qt;
    for (int i = 0; i < kRuns; ++i) {
        tw.push_back(twsocketSend(proxy.port()));
        qt.push_back(qtSend(proxy.port()));
    }
    EchoServer target;
    std::vector<double> twHs, qtHs;
    for (int i = 0; i < kHandshakes; ++i) {
        twHs.push_back(twsocketHandshake(proxy.port(), target.port()));
        qtHs.push_back(qtHandshake(proxy.port(), target.port()));
    }
    const auto failed =
        std::count(twHs.begin(), twHs.end(), -1.0) + std::count(qtHs.begin(), qtHs.end(), -1.0);
    const double twMbps = median(tw), qtMbps = median(qt);
    const double twUs = median(twHs), qtUs = median(qtHs);
    std::printf("256 MiB through microsocks to a loopback sink, MB = 2^20 bytes\n");
    std::printf("TWSocket   %8.0f MB/s (median of %d:%s)\n", twMbps, kRuns, listed(tw).c_str());
    std::printf("QTcpSocket %8.0f MB/s (median of %d:%s)\n", qtMbps, kRuns, listed(qt).c_str());
    std::printf(
        "handshake through microsocks, median of %d: TWSocket %.0f us, QTcpSocket %.0f us"
        " (%ld failed)\n",
        kHandshakes, twUs, qtUs, static_cast<long>(failed));
    std::printf(
        "{\"twsocket_mb_s\": %.0f, \"qt_mb_s\": %.0f, \"ratio_throughput\": %.2f, "
        "\"twsocket_handshake_us\": %.0f, \"qt_handshake_us\": %.0f, "
        "\"ratio_handshake_latency\": %.2f, \"failed_handshakes\": %ld}\n",
        twMbps, qtMbps, qtMbps > 0 ? twMbps / qtMbps : 0.0, twUs, qtUs,
        qtUs > 0 ? twUs / qtUs : 0.0, static_cast<long>(failed));
    return failed == 0 ? 0 : 1;
}
