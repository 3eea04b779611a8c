// Writes 64 MiB of printable text (CR LF every 78 bytes) into an 80 x 64
// terminal view in 2048-byte blocks, one block per event-loop pass, without
// and with the session log, and reports the throughput (best of three runs
// each, alternating). Those runs keep no history; a third kind of run keeps
// 10,000 lines and starts with all of them filled. For scale it also times the
// bare file writes a log costs: the same 64 MiB in 2048-byte write calls.
#include <fcntl.h>
#include <unistd.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#include "terminal/TEmulT.h"

using namespace vandrel::terminal;

namespace {

constexpr std::size_t kTotal = 64u << 20;
constexpr std::size_t kBlock = 2048;
constexpr int kLine = 78;

std::string MakeText() {
    std::string text;
    text.reserve(kTotal);
    int col = 0;
    for (std::size_t i = 0; text.size() < kTotal; ++i) {
        if (col == kLine) {
            text += "\r\n";
            col = 0;
        } else {
            text += static_cast<char>(' ' + 1 + (i * 7) % 94);
            ++col;
        }
    }
    text.resize(kTotal);
    return text;
}

// CPU seconds of the calling thread: unlike the wall clock, not stretched by other
// processes on a busy machine.
double ThreadSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

struct Result {
    double seconds;
    long paints;
    double cpuSeconds = 0;
};

constexpr int kHistory = 10000;

Result Run(const std::string& text, const std::string& logName, bool history = false) {
    TEmulT view;
    view.SetHistoryLines(history ? kHistory : 0);
    view.SetRows(64);
    view.SetAutoSize(true);
    view.show();
    if (!QTest::qWaitForWindowExposed(&view)) {
        std::fprintf(stderr, "window not exposed\n");
    }
    QCoreApplication::processEvents();
    if (history) {
        // Every line written from here on pushes out the oldest.
        view.WriteStr(text.substr(0, static_cast<std::size_t>(kHistory + 64) * (kLine + 2)));
        // Its paint belongs to the filling, not to the timed writes. The wait for it keeps
        // running, like the runs without history: on a busy machine a thread that has just
        // slept shares its core differently from one that kept it.
        const long painted = view.PaintEvents();
        QElapsedTimer settle;
        settle.start();
        while (view.PaintEvents() == painted && settle.elapsed() < 2 * 40) {
            QCoreApplication::processEvents();
        }
    }
    if (!logName.empty()) {
        view.SetLogName(logName);
        view.SetLog(true);
    }
    const long paintsBefore = view.PaintEvents();
    std::size_t at = 0;
    QTimer pump;
    QObject::connect(&pump, &QTimer::timeout, [&] {
        if (at >= text.size()) {
            pump.stop();
            QCoreApplication::exit(0);
            return;
        }
        view.WriteStr(std::string_view(text).substr(at, kBlock));
        at += kBlock;
    });
    QElapsedTimer clock;
    clock.start();
    const double cpuStart = ThreadSeconds();
    pump.start(0);
    QCoreApplication::exec();
    // Let the last changes reach the screen.
    for (int i = 0; i < 10; ++i) {
        QCoreApplication::processEvents();
    }
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    const double cpuSeconds = ThreadSeconds() - cpuStart;
    if (!logName.empty()) {
        view.SetLog(false);
    }
    return {seconds, view.PaintEvents() - paintsBefore, cpuSeconds};
}

// Seconds for writing text to a new file in kBlock-byte write calls.
double BareWrites(const std::string& text, const std::string& name) {
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return 0;
    }
    QElapsedTimer clock;
    clock.start();
    for (std::size_t at = 0; at < text.size(); at += kBlock) {
        if (::write(fd, text.data() + at, std::min(kBlock, text.size() - at)) < 0) {
            break;
        }
    }
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    ::close(fd);
    ::unlink(name.c_str());
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::string text = MakeText();

    std::string dir = (std::filesystem::temp_directory_path() / "terminal-write-XXXXXX").string();
    if (::mkdtemp(dir.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string logName = dir + "/bench.log";

    Run(text.substr(0, 4u << 20), {});  // warm-up
    Result plain{1e9, 0};
    Result logged{1e9, 0};
    Result scrollback{1e9, 0};
    double bare = 1e9;
    for (int i = 0; i < 3; ++i) {
        const Result p = Run(text, {});
        if (p.seconds < plain.seconds) {
            plain = p;
        }
        const Result l = Run(text, logName);
        std::filesystem::remove(logName);
        if (l.seconds < logged.seconds) {
            logged = l;
        }
        bare = std::min(bare, BareWrites(text, logName));
        const Result h = Run(text, {}, true);
        if (h.seconds < scrollback.seconds) {
            scrollback = h;
        }
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);

    const double mb = static_cast<double>(kTotal) / 1e6;
    const double rate = mb / plain.seconds;
    const double rateLogged = mb / logged.seconds;
    const double ratio = logged.seconds / plain.seconds;
    const double rateScrollback = mb / scrollback.seconds;
    const double scrollbackRatio = rateScrollback / rate;
    const double cpuRatio = plain.cpuSeconds / scrollback.cpuSeconds;
    std::printf("written:            %.1f MB in %zu-byte blocks\n", mb, kBlock);
    std::printf("without logging:    %.3f s  %.1f MB/s  %ld paint events\n", plain.seconds, rate,
                plain.paints);
    std::printf("with logging:       %.3f s  %.1f MB/s  %ld paint events\n", logged.seconds,
                rateLogged, logged.paints);
    std::printf("with %d history:  %.3f s  %.1f MB/s  %ld paint events\n", kHistory,
                scrollback.seconds, rateScrollback, scrollback.paints);
    std::printf("bare log writes:    %.3f s  (the same bytes in %zu-byte write calls)\n", bare,
                kBlock);
    std::printf("logging/plain time: %.3f\n", ratio);
    std::printf("history/plain rate: %.3f  (goal >= 0.9); on the thread's CPU time: %.3f\n",
                scrollbackRatio, cpuRatio);
    std::printf(
        "{\"mb_per_s\": %.1f, \"mb_per_s_logging\": %.1f, \"logging_ratio\": %.3f, "
        "\"paint_events\": %ld, \"mb_per_s_scrollback\": %.1f, \"scrollback_ratio\": %.3f, "
        "\"scrollback_cpu_ratio\": %.3f}\n",
        rate, rateLogged, ratio, plain.paints, rateScrollback, scrollbackRatio, cpuRatio);
    return 0;
}
