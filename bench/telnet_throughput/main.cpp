// Throughput of the telnet terminal against Debian's telnet client: the same 64 MiB stream
// from a loopback server goes into a real TTnEmulT (80 x 64, in a window, offscreen) and
// into the telnet client writing to /dev/null. Prints figures and, last, one JSON line.
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "FloodServer.h"
#include "TelnetClientRun.h"
#include "terminal/TTnEmulT.h"

using namespace vandrel::bench;
using namespace vandrel::terminal;

namespace {

constexpr std::size_t kStreamBytes = 64u << 20;
constexpr int kRounds = 3;

struct VandrelRun {
    bool ok = false;
    double seconds = 0;
    std::uint64_t shown = 0;
};

VandrelRun runTerminal(TTnEmulT& term, const std::vector<std::uint8_t>& stream,
                       const std::string& logName) {
    VandrelRun run;
    FloodServer server(stream);
    bool closed = false;
    term.OnDataAvailable = [&](TTnEmulT&, const char*, int& len) { run.shown += len; };
    term.OnSessionClosed = [&](TTnEmulT&) { closed = true; };
    term.SetHostName("127.0.0.1");
    term.SetPort(std::to_string(server.port()));
    if (!logName.empty()) {
        std::filesystem::remove(logName);
        term.SetLogName(logName);
        term.SetLog(true);
    }
    QElapsedTimer timer;
    timer.start();
    term.Connect();
    while (!closed && timer.elapsed() < 120000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    run.seconds = timer.nsecsElapsed() / 1e9;
    if (!logName.empty()) {
        term.SetLog(false);
    }
    run.ok = closed && server.wait(std::chrono::seconds(10));
    return run;
}

double mbPerSecond(double seconds) {
    return kStreamBytes / 1e6 / seconds;
}

// Once with the client's output counted, to be sure it receives the whole stream.
bool checkTelnetClient(const std::vector<std::uint8_t>& stream, std::size_t dataBytes) {
    FloodServer server(stream);
    const ClientRunResult check = runTelnetClient(server.port(), true);
    server.wait(std::chrono::seconds(10));
    std::printf("telnet client check: wrote %llu bytes for %zu data bytes\n",
                static_cast<unsigned long long>(check.bytesWritten), dataBytes);
    if (!check.ok || check.bytesWritten < dataBytes) {
        std::printf("telnet client did not receive the whole stream\n");
        return false;
    }
    return true;
}

// Best of the rounds: the machine is shared, so the fastest run is the least disturbed.
void report(std::size_t streamBytes, std::size_t dataBytes, const std::vector<double>& client,
            const std::vector<double>& plain, const std::vector<double>& logged) {
    const double tClient = *std::min_element(client.begin(), client.end());
    const double tPlain = *std::min_element(plain.begin(), plain.end());
    const double tLogged = *std::min_element(logged.begin(), logged.end());
    std::printf("stream: %zu bytes (%zu data bytes), best of %d rounds\n", streamBytes, dataBytes,
                kRounds);
    std::printf("Vandrel terminal:         %8.1f MB/s\n", mbPerSecond(tPlain));
    std::printf("Vandrel terminal logging: %8.1f MB/s\n", mbPerSecond(tLogged));
    std::printf("telnet client:            %8.1f MB/s\n", mbPerSecond(tClient));
    std::printf("ratio (Vandrel / telnet client): %.2f\n", tClient / tPlain);
    std::printf("logging ratio (time with / without): %.2f\n", tLogged / tPlain);
    std::printf(
        "{\"vandrel_mb_s\": %.1f, \"telnet_client_mb_s\": %.1f, \"ratio\": %.2f, "
        "\"logging_ratio\": %.2f}\n",
        mbPerSecond(tPlain), mbPerSecond(tClient), tClient / tPlain, tLogged / tPlain);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    std::size_t dataBytes = 0;
    const std::vector<std::uint8_t> stream = makeFloodStream(kStreamBytes, dataBytes);

    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* term = new TTnEmulT(&window);
    layout->addWidget(term);
    term->SetColumns(80);
    term->SetRows(64);
    window.resize(800, 600);
    window.show();

    const std::string logName = (std::filesystem::temp_directory_path() /
                                 ("vandrel-bench-" + std::to_string(::getpid()) + ".log"))
                                    .string();

    if (!checkTelnetClient(stream, dataBytes)) {
        return 1;
    }

    std::vector<double> client, plain, logged;
    for (int round = 0; round < kRounds; ++round) {
        {
            FloodServer server(stream);
            const ClientRunResult r = runTelnetClient(server.port(), false);
            server.wait(std::chrono::seconds(10));
            if (!r.ok) {
                std::printf("telnet client run failed\n");
                return 1;
            }
            client.push_back(r.seconds);
        }
        for (int withLog = 0; withLog < 2; ++withLog) {
            const VandrelRun r = runTerminal(*term, stream, withLog ? logName : std::string());
            if (!r.ok || r.shown != dataBytes) {
                std::printf("terminal run failed: %llu of %zu bytes shown\n",
                            static_cast<unsigned long long>(r.shown), dataBytes);
                return 1;
            }
            (withLog ? logged : plain).push_back(r.seconds);
        }
        std::printf("round %d: telnet client %.3f s, Vandrel %.3f s, Vandrel logging %.3f s\n",
                    round + 1, client.back(), plain.back(), logged.back());
    }
    if (std::filesystem::exists(logName)) {
        std::printf("log file: %llu bytes\n",
                    static_cast<unsigned long long>(std::filesystem::file_size(logName)));
        std::filesystem::remove(logName);
    }

    report(stream.size(), dataBytes, client, plain, logged);
    return 0;
}
