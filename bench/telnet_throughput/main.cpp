// Throughput of the telnet terminal against Debian's telnet client: the same 64 MiB stream
// from a loopback server goes into a real TTnEmulT (80 x 64, in a window, offscreen) and
// into the telnet client writing to /dev/null. Prints figures and, last, one JSON line.
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
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
constexpr int kDefaultRounds = 5;

// CPU time of the calling thread, user and system: unlike the wall time it hardly depends on
// what else the shared machine runs.
double threadCpuSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

struct VandrelRun {
    bool ok = false;
    double seconds = 0;
    double cpuSeconds = 0;  // of the GUI thread, which does all the terminal's work
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
    const double cpuStart = threadCpuSeconds();
    term.Connect();
    while (!closed && timer.elapsed() < 120000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    run.seconds = timer.nsecsElapsed() / 1e9;
    run.cpuSeconds = threadCpuSeconds() - cpuStart;
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

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Medians of the interleaved rounds: the machine is shared, and a disturbance then hits one
// round of each case rather than every round of one case. The logging ratio is also taken
// per round (the logged run against the plain run next to it) and its median reported.
void report(std::size_t streamBytes, std::size_t dataBytes, const std::vector<double>& client,
            const std::vector<double>& plain, const std::vector<double>& logged,
            const std::vector<double>& plainCpu, const std::vector<double>& loggedCpu) {
    const double tClient = median(client);
    const double tPlain = median(plain);
    const double tLogged = median(logged);
    std::vector<double> ratios;
    for (std::size_t i = 0; i < plain.size(); ++i) {
        ratios.push_back(logged[i] / plain[i]);
    }
    const double logRatio = median(ratios);
    std::vector<double> cpuRatios;
    for (std::size_t i = 0; i < plainCpu.size(); ++i) {
        cpuRatios.push_back(loggedCpu[i] / plainCpu[i]);
    }
    const double cpuRatio = median(cpuRatios);
    std::printf("stream: %zu bytes (%zu data bytes), medians of %zu interleaved rounds\n",
                streamBytes, dataBytes, plain.size());
    std::printf("Vandrel terminal:         %8.1f MB/s\n", mbPerSecond(tPlain));
    std::printf("Vandrel terminal logging: %8.1f MB/s\n", mbPerSecond(tLogged));
    std::printf("telnet client:            %8.1f MB/s\n", mbPerSecond(tClient));
    std::printf("ratio (Vandrel / telnet client): %.2f\n", tClient / tPlain);
    std::printf("logging ratio (time with / without, per round): %.2f (of medians %.2f)\n",
                logRatio, tLogged / tPlain);
    std::printf("GUI thread CPU: %.3f s, logging %.3f s; logging CPU ratio %.2f\n",
                median(plainCpu), median(loggedCpu), cpuRatio);
    std::printf(
        "{\"vandrel_mb_s\": %.1f, \"telnet_client_mb_s\": %.1f, \"ratio\": %.2f, "
        "\"logging_ratio\": %.2f, \"logging_cpu_ratio\": %.2f, \"rounds\": %zu}\n",
        mbPerSecond(tPlain), mbPerSecond(tClient), tClient / tPlain, logRatio, cpuRatio,
        plain.size());
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = std::max(argc > 1 ? std::atoi(argv[1]) : kDefaultRounds, 1);
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

    std::vector<double> client, plain, logged, plainCpu, loggedCpu;
    for (int round = 0; round < rounds; ++round) {
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
            (withLog ? loggedCpu : plainCpu).push_back(r.cpuSeconds);
        }
        std::printf(
            "round %d: telnet client %.3f s, Vandrel %.3f s (CPU %.3f s), Vandrel logging %.3f s "
            "(CPU %.3f s)\n",
            round + 1, client.back(), plain.back(), plainCpu.back(), logged.back(),
            loggedCpu.back());
    }
    if (std::filesystem::exists(logName)) {
        std::printf("log file: %llu bytes\n",
                    static_cast<unsigned long long>(std::filesystem::file_size(logName)));
        std::filesystem::remove(logName);
    }

    report(stream.size(), dataBytes, client, plain, logged, plainCpu, loggedCpu);
    return 0;
}
