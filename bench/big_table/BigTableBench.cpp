// A site's worth of devices in the table: one Search in the lab answered by 10,000 devices
// (one simulator answering as many), then the time to sort by each column (until the table
// has painted), Export Table, Ctrl+C on a row, the window's resident memory, and
// "vandrel --scan --format json" beyond its timeout. Last line: one JSON object.
#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QPushButton>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "BenchFigures.h"
#include "VandrelWindow.h"
#include "app/FileDialogs.h"
#include "app/TStringAlignGrid.h"
#include "app/VandrelApplication.h"
#include "discovery/TUDPServer.h"

using namespace vandrel;
using namespace vandrel::bench;
using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

template <typename F>
double timed(F f) {
    const auto start = Clock::now();
    f();
    // Until what it changed has painted.
    QCoreApplication::processEvents();
    return msSince(start);
}

// Runs the scan; its output's size, the number of devices in it and its wall time.
double timeScan(const std::string& vandrel, int timeoutSeconds, std::size_t& devices) {
    const std::string command =
        vandrel + " --scan --format json --timeout " + std::to_string(timeoutSeconds);
    const auto start = Clock::now();
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string out;
    char buffer[65536];
    while (pipe != nullptr) {
        const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe);
        if (n == 0) {
            break;
        }
        out.append(buffer, n);
    }
    const double ms = msSince(start);
    if (pipe != nullptr) {
        ::pclose(pipe);
    }
    devices = 0;
    for (std::size_t at = out.find("\"IP\""); at != std::string::npos;
         at = out.find("\"IP\"", at + 1)) {
        ++devices;
    }
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    const int expected = argc > 1 ? std::atoi(argv[1]) : 10000;
    const std::string vandrel = argc > 2 ? argv[2] : "vandrel";
    // The scan first: the window holds the discovery port while it is open.
    constexpr int kScanTimeout = 2;
    std::size_t scanned = 0;
    const double scanMs = timeScan(vandrel, kScanTimeout, scanned);
    app::VandrelApplication application(argc, argv);
    app::TMainForm form;
    form.resize(900, 700);
    form.show();
    if (!pumpUntil([&] { return form.DiscoveryEndpoint().Active(); }, 3000)) {
        std::printf("big_table: the endpoint did not start\n");
        return 1;
    }
    const auto searched = Clock::now();
    control<QPushButton>(form, "btnSearch")->click();
    // Until all have answered, or none for 3 s.
    int rows = 0;
    auto lastRow = Clock::now();
    while (rows < expected && Clock::now() - lastRow < std::chrono::seconds(3)) {
        pumpFor(50);
        if (control<app::TStringAlignGrid>(form, "sg")->RowCount() - 1 > rows) {
            rows = control<app::TStringAlignGrid>(form, "sg")->RowCount() - 1;
            lastRow = Clock::now();
        }
    }
    const double searchMs = std::chrono::duration<double, std::milli>(lastRow - searched).count();
    pumpFor(500);

    double sortMax = 0;
    std::string sorts;
    for (int col = 0; col < app::DeviceColumns; ++col) {
        for (const bool ascending : {true, false}) {
            const double ms = timed(
                [&] { control<app::TStringAlignGrid>(form, "sg")->SortColumn(col, ascending); });
            sortMax = std::max(sortMax, ms);
            char text[16];
            std::snprintf(text, sizeof text, " %.0f", ms);
            sorts += text;
        }
    }
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("devices.csv"));
    app::FileDialogSeam::SetHandler([&](QFileDialog&) { return std::optional<QString>(file); });
    const double exportMs = timed([&] { control<QAction>(form, "mpExportTable")->trigger(); });
    control<app::TStringAlignGrid>(form, "sg")->SetRow(rows / 2);
    const double copyMs = timed([&] { control<QAction>(form, "CopyRow")->trigger(); });
    const double rss = residentMiB();

    std::printf(
        "big_table: %d rows of %d (the last %.0f ms after Search); sorts (ms, each column "
        "up and down):%s; export %.1f ms (%lld bytes); Ctrl+C %.1f ms; resident %.1f MiB; "
        "--scan found %zu in %.0f ms with --timeout %d; load %s\n",
        rows, expected, searchMs, sorts.c_str(), exportMs,
        static_cast<long long>(QFile(file).size()), copyMs, rss, scanned, scanMs, kScanTimeout,
        loadAverage().c_str());
    std::printf(
        "{\"sort_ms_max\": %.1f, \"export_ms\": %.1f, \"copy_ms\": %.1f, \"scan_json_ms\": "
        "%.0f, \"rss_mib\": %.1f, \"rows\": %d, \"scan_devices\": %zu}\n",
        sortMax, exportMs, copyMs, scanMs - kScanTimeout * 1000.0, rss, rows, scanned);
    return rows == expected ? 0 : 1;
}
