// 80-byte lines (78 bytes and CR LF) over loopback: TWSocket in LineMode, one
// OnDataAvailable per line, against raw receives of the same bytes.
// Last line of output: one JSON object.
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "net/TWSocket.h"
#include "support/LoopbackServer.h"

using namespace vandrel::net;
using vandrel::test::LoopbackServer;

namespace {

constexpr std::size_t kLineSize = 80;
constexpr std::size_t kLines = 2'000'000;  // 160 MB
constexpr int kRawReceive = 64 * 1024;
constexpr int kRuns = 5;

using Clock = std::chrono::steady_clock;

// The stream: kLines lines of kLineSize bytes, written in 64 KiB pieces.
void serveLines(LoopbackServer& server) {
    server.serve([](int fd) {
        std::string chunk;
        for (std::size_t i = 0; i < 64 * 1024 / kLineSize; ++i) {
            std::string line(kLineSize - 2, static_cast<char>('a' + i % 26));
            chunk += line + "\r\n";
        }
        const std::size_t linesPerChunk = chunk.size() / kLineSize;
        for (std::size_t sent = 0; sent < kLines; sent += linesPerChunk) {
            const std::size_t n = std::min(linesPerChunk, kLines - sent) * kLineSize;
            if (!vandrel::test::writeAll(fd, chunk.data(), n)) {
                return;
            }
        }
    });
}

// Lines per second; counts bytes in raw mode and deliveries in line mode.
double receiveLines(bool lineMode) {
    LoopbackServer server;
    serveLines(server);
    TWSocket s;
    QEventLoop loop;
    std::vector<char> buf(kRawReceive);
    std::size_t bytes = 0, lines = 0;
    Clock::time_point start;
    s.SetLineMode(lineMode);
    s.OnSessionConnected = [&](TObject*, Word) { start = Clock::now(); };
    s.OnDataAvailable = [&](TObject*, Word) {
        const int n = s.Receive(buf.data(), lineMode ? s.RcvdCount() : kRawReceive);
        if (n > 0) {
            bytes += static_cast<std::size_t>(n);
            ++lines;
        }
    };
    s.OnSessionClosed = [&](TObject*, Word) { loop.quit(); };
    s.SetAddr("127.0.0.1");
    s.SetPort(server.portText());
    s.Connect();
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    loop.exec();
    const double secs = std::chrono::duration<double>(Clock::now() - start).count();
    server.join();
    if (bytes != kLines * kLineSize || (lineMode && lines != kLines)) {
        return 0.0;
    }
    return static_cast<double>(kLines) / secs;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::vector<double> raw, line;
    for (int i = 0; i < kRuns; ++i) {  // interleaved: load changes hit both alike
        raw.push_back(receiveLines(false));
        line.push_back(receiveLines(true));
    }
    const double r = median(raw), l = median(line);
    std::printf("%zu lines of %zu bytes over loopback, median of %d runs\n", kLines, kLineSize,
                kRuns);
    std::printf("raw receive (%d per call) %10.0f lines/s  %6.0f MB/s\n", kRawReceive, r,
                r * kLineSize / (1 << 20));
    std::printf("LineMode, one line a call %10.0f lines/s  %6.0f MB/s\n", l,
                l * kLineSize / (1 << 20));
    std::printf("{\"raw_lines_s\": %.0f, \"line_mode_lines_s\": %.0f, \"ratio\": %.2f}\n", r, l,
                r > 0 ? l / r : 0.0);
    return 0;
}
