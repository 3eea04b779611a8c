// The memory a session's history costs: a process shows one 80 x 24 terminal view, writes
// 10,000 + 24 lines of 80 printable columns into it and reports its resident memory; this
// is done with the default history (10,000 lines) and with the history off, three times
// each in fresh processes, and the difference of the smallest figures is the history's
// cost. Last line: one JSON object.
#include <unistd.h>
#include <QApplication>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "terminal/TEmulT.h"

using namespace vandrel::terminal;

namespace {

constexpr int kLines = 10000;

// Resident set size of this process in bytes, from /proc/self/statm.
double ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE));
}

// One session: prints resident bytes and the bytes the history reserved.
int Child(int argc, char** argv, int historyLines) {
    QApplication app(argc, argv);
    TEmulT view;
    view.SetHistoryLines(historyLines);
    view.show();
    if (!QTest::qWaitForWindowExposed(&view)) {
        std::fprintf(stderr, "window not exposed\n");
    }
    std::string line;
    for (int i = 0; i < kLines + view.Rows(); ++i) {
        line.clear();
        for (int c = 0; c < 80; ++c) {
            line += static_cast<char>(' ' + 1 + (i * 7 + c * 13) % 94);
        }
        view.WriteStr(line + "\r\n");
        if (i % 500 == 0) {
            QCoreApplication::processEvents();
        }
    }
    for (int i = 0; i < 10; ++i) {
        QCoreApplication::processEvents();
    }
    std::printf("%.0f %zu %d\n", ResidentBytes(), view.History().ReservedBytes(),
                view.History().Count());
    return 0;
}

struct Figures {
    double resident = 0;
    double reserved = 0;
    int lines = 0;
};

Figures Measure(const char* self, int historyLines) {
    Figures best{1e18, 0, 0};
    for (int run = 0; run < 3; ++run) {
        const std::string command =
            std::string("'") + self + "' --child " + std::to_string(historyLines);
        FILE* pipe = ::popen(command.c_str(), "r");
        if (pipe == nullptr) {
            continue;
        }
        double resident = 0;
        double reserved = 0;
        int lines = 0;
        const int got = std::fscanf(pipe, "%lf %lf %d", &resident, &reserved, &lines);
        ::pclose(pipe);
        if (got == 3 && resident < best.resident) {
            best = {resident, reserved, lines};
        }
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc >= 3 && std::string(argv[1]) == "--child") {
        return Child(1, argv, std::atoi(argv[2]));
    }
    const Figures off = Measure(argv[0], 0);
    const Figures on = Measure(argv[0], kLines);
    constexpr double kMiB = 1024.0 * 1024.0;
    const double history = (on.resident - off.resident) / kMiB;
    std::printf("history off:        %.1f MiB resident\n", off.resident / kMiB);
    std::printf("history of %d:   %.1f MiB resident, %d lines kept, %.2f MiB reserved\n", kLines,
                on.resident / kMiB, on.lines, on.reserved / kMiB);
    std::printf("history cost:       %.2f MiB  (goal <= 4 MiB)\n", history);
    std::printf("{\"history_mib\": %.2f, \"history_reserved_mib\": %.2f, \"history_lines\": %d}\n",
                history, on.reserved / kMiB, on.lines);
    return 0;
}
