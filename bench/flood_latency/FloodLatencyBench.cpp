// How quickly the window reacts to the user while a session receives a flood: every 50 ms a
// click on a device row or a letter key is made through the X server (XTEST), and the time from
// making it to the GUI thread delivering it to the device table is measured, first with the
// session idle and then while device 1 floods its session. Runs inside a lab under Xvfb
// (bench/flood_latency/run.sh sets both up). Last line: one JSON object.
#include <QAbstractItemModel>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Heartbeat.h"
#include "VandrelWindow.h"
#include "XTestInjector.h"
#include "app/TMainForm.h"
#include "app/TStringAlignGrid.h"
#include "app/VandrelApplication.h"
#include "discovery/TUDPServer.h"
#include "terminal/TTnEmulT.h"

using namespace vandrel;
using vandrel::bench::pumpFor;
using vandrel::bench::pumpUntil;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kInterval = std::chrono::milliseconds(50);

// Injects on a thread of its own; the GUI thread's filter matches each input it receives to
// the moment it was made. Inputs carry a tag, so one that never arrives cannot shift the
// others: clicks land at one of 40 horizontal offsets in the row, keys are one of 26 letters.
class LatencyProbe : public QObject {
public:
    LatencyProbe(app::TStringAlignGrid* grid, std::vector<QPoint> rowPoints)
        : m_grid(grid), m_points(std::move(rowPoints)) {
        m_centerX = grid->viewport()->mapFromGlobal(m_points.front()).x();
        qApp->installEventFilter(this);
    }
    ~LatencyProbe() override { Stop(); }

    void Start(bench::XTestInjector& x) {
        m_stop = false;
        m_thread = std::thread([this, &x] { Run(x); });
    }
    void Stop() {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    // Delays in ms of the inputs handled since the last call.
    std::vector<double> Take() {
        std::lock_guard lock(m_lock);
        m_sent.clear();
        m_clickMade.reset();
        std::vector<double> out;
        out.swap(m_delays);
        return out;
    }
    // Delays in ms from making a click to the table's next paint, which shows the selection.
    std::vector<double> TakePaints() {
        std::lock_guard lock(m_lock);
        std::vector<double> out;
        out.swap(m_paintDelays);
        return out;
    }
    std::size_t Pending() {
        std::lock_guard lock(m_lock);
        return m_sent.size();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        int tag = -1;
        if (event->type() == QEvent::Paint && watched == m_grid->viewport()) {
            std::lock_guard lock(m_lock);
            if (m_clickMade) {
                m_paintDelays.push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - *m_clickMade).count());
                m_clickMade.reset();
            }
        }
        if (event->type() == QEvent::MouseButtonPress && watched == m_grid->viewport()) {
            const int dx = static_cast<QMouseEvent*>(event)->position().toPoint().x() - m_centerX;
            tag = 100 + dx + kOffsets / 2;
        } else if (event->type() == QEvent::KeyPress && watched == m_grid) {
            tag = static_cast<QKeyEvent*>(event)->key() - Qt::Key_A;
        }
        if (tag >= 0) {
            const auto now = Clock::now();
            std::lock_guard lock(m_lock);
            const auto it = m_sent.find(tag);
            if (it != m_sent.end()) {
                m_delays.push_back(
                    std::chrono::duration<double, std::milli>(now - it->second).count());
                if (tag >= 100) {
                    m_clickMade = it->second;
                }
                m_sent.erase(it);
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    static constexpr int kOffsets = 40;
    static constexpr unsigned long kLetterA = 0x61;  // the X keysym of 'a'

    void Run(bench::XTestInjector& x) {
        auto next = Clock::now();
        for (int i = 0; !m_stop; ++i) {
            next += kInterval;
            std::this_thread::sleep_until(next);
            const int k = i / 2;
            const bool key = i % 2 == 1;
            const int tag = key ? k % 26 : 100 + k % kOffsets;
            {
                std::lock_guard lock(m_lock);
                m_sent[tag] = Clock::now();
            }
            if (key) {
                x.Key(kLetterA + static_cast<unsigned long>(k % 26));
            } else {
                const QPoint& p = m_points[static_cast<std::size_t>(k) % m_points.size()];
                x.Click(p.x() + k % kOffsets - kOffsets / 2, p.y());
            }
        }
    }

    app::TStringAlignGrid* m_grid;
    std::vector<QPoint> m_points;
    int m_centerX = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;
    std::map<int, Clock::time_point> m_sent;
    std::vector<double> m_delays;
    std::optional<Clock::time_point> m_clickMade;
    std::vector<double> m_paintDelays;
};

struct Figures {
    double median = 0;
    double worst = 0;
    std::size_t count = 0;
};

Figures figuresOf(std::vector<double> delays) {
    Figures f;
    f.count = delays.size();
    if (delays.empty()) {
        return f;
    }
    std::sort(delays.begin(), delays.end());
    f.median = delays[delays.size() / 2];
    f.worst = delays.back();
    return f;
}

// A left drag from the first row's first cell to the end of the given row, as the mouse makes
// it.
void selectRows(terminal::TTnEmulT& terminal, int rows) {
    QWidget* vp = terminal.viewport();
    const QPointF from(1, 1);
    const QPointF to(vp->width() - 1, rows * terminal.LineHeight() - 1);
    QMouseEvent press(QEvent::MouseButtonPress, from, vp->mapToGlobal(from), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(vp, &press);
    QMouseEvent move(QEvent::MouseMove, to, vp->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(vp, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, to, vp->mapToGlobal(to), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(vp, &release);
}

std::string lastFloodLineNumber(std::uint64_t floodBytes) {
    char text[16];
    std::snprintf(text, sizeof text, "%06llu",
                  static_cast<unsigned long long>((floodBytes - 1) / 80 % 1000000));
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t floodBytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : (1ull << 30);
    const int devices = argc > 2 ? std::atoi(argv[2]) : 3;
    app::VandrelApplication application(argc, argv);
    bench::XTestInjector x;
    if (!x.Error().empty()) {
        std::printf("flood_latency: %s\n", x.Error().c_str());
        return 1;
    }
    app::TMainForm form;
    form.resize(900, 700);
    form.show();
    auto* sg = form.findChild<app::TStringAlignGrid*>(QStringLiteral("sg"));
    if (!pumpUntil([&] { return form.DiscoveryEndpoint().Active(); }, 3000)) {
        std::printf("flood_latency: the endpoint did not start\n");
        return 1;
    }
    form.findChild<QPushButton*>(QStringLiteral("btnSearch"))->click();
    if (!pumpUntil([&] { return sg->RowCount() - 1 >= devices; }, 5000)) {
        std::printf("flood_latency: %d devices answered, %d expected\n", sg->RowCount() - 1,
                    devices);
        return 1;
    }
    pumpFor(300);
    // Points on the rows, on the screen.
    std::vector<QPoint> points;
    int floodRow = -1;
    for (int row = 1; row < sg->RowCount(); ++row) {
        const QRect r = sg->visualRect(sg->model()->index(row - 1, 1));
        points.push_back(sg->viewport()->mapToGlobal(r.center()));
        if (sg->Cells(2, row) == "198.18.0.11") {
            floodRow = row;
        }
    }
    if (floodRow < 0) {
        std::printf("flood_latency: device 1 (198.18.0.11) is not listed\n");
        return 1;
    }

    LatencyProbe probe(sg, points);
    probe.Start(x);
    pumpFor(3000);
    const Figures idle = figuresOf(probe.Take());
    const Figures idlePaints = figuresOf(probe.TakePaints());
    probe.Stop();
    pumpFor(300);
    probe.Take();

    // The flood: connect to device 1 as a double click would.
    sg->SetRow(floodRow);
    std::uint64_t shown = 0;
    form.findChild<QPushButton*>(QStringLiteral("btnConnect"))->click();
    auto* terminal = form.findChild<QTabWidget*>(QStringLiteral("TabNotebook"))
                         ->findChild<terminal::TTnEmulT*>();
    if (terminal == nullptr) {
        std::printf("flood_latency: no session was opened\n");
        return 1;
    }
    terminal->OnDataAvailable = [&](terminal::TTnEmulT&, const char*, int& len) { shown += len; };
    // FLOOD_LOG=<file>: the session is logged meanwhile, as a technician's often is.
    const char* logName = std::getenv("FLOOD_LOG");
    if (logName != nullptr && *logName != 0) {
        terminal->SetLogName(logName);
        terminal->SetLog(true);
    }
    // The session keeps the default 10,000-line history, and a selection is active: the first
    // two rows dragged over, as a technician copying from the screen would leave them.
    terminal->SetHistoryLines(10000);
    selectRows(*terminal, 2);
    sg->setFocus();
    QElapsedTimer clock;
    clock.start();
    // The longest gap between beats is the longest event-loop pass.
    bench::Heartbeat heartbeat;
    heartbeat.start();
    probe.Start(x);
    pumpUntil([&] { return shown >= floodBytes; }, 300000);
    heartbeat.stop();
    const double floodSeconds = clock.nsecsElapsed() / 1e9;
    probe.Stop();
    pumpUntil([&] { return probe.Pending() == 0; }, 2000);
    const Figures flood = figuresOf(probe.Take());
    const Figures paints = figuresOf(probe.TakePaints());
    const bool selected = !terminal->Selection().Empty();
    const int historyLines = terminal->History().Count();
    pumpFor(500);
    if (terminal->Log()) {
        terminal->SetLog(false);
    }

    // Nothing lost on the way to the screen: the last numbered line shown is the flood's last.
    std::string lastLine;
    for (int row = terminal->CursorRow(); row >= 1 && lastLine.empty(); --row) {
        std::string start;
        for (int col = 1; col <= 6; ++col) {
            start.push_back(static_cast<char>(terminal->Buffer().GetCell(col, row).Character));
        }
        if (std::all_of(start.begin(), start.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            lastLine = start;
        }
    }
    const bool complete = shown >= floodBytes && lastLine == lastFloodLineNumber(floodBytes);
    std::printf("idle:  %zu inputs, median %.1f ms, worst %.1f ms\n", idle.count, idle.median,
                idle.worst);
    std::printf(
        "flood: %zu inputs, median %.1f ms, worst %.1f ms; %llu bytes in %.2f s "
        "(%.1f MB/s), last line %s (expected %s)\n",
        flood.count, flood.median, flood.worst, static_cast<unsigned long long>(shown),
        floodSeconds, shown / 1e6 / floodSeconds, lastLine.c_str(),
        lastFloodLineNumber(floodBytes).c_str());
    std::printf("longest event-loop pass during the flood: %.1f ms, %.1f ms of it on the CPU\n",
                heartbeat.longestGapMs(), heartbeat.longestGapCpuMs());
    std::printf("history: %d lines kept; a selection %s active\n", historyLines,
                selected ? "was" : "was not");
    std::printf(
        "click to painted row: idle median %.1f ms, worst %.1f ms; flood median %.1f ms, "
        "worst %.1f ms (%zu clicks)\n",
        idlePaints.median, idlePaints.worst, paints.median, paints.worst, paints.count);
    std::printf(
        "{\"worst_ms\": %.1f, \"median_ms\": %.1f, \"inputs\": %zu, \"idle_worst_ms\": "
        "%.1f, \"idle_median_ms\": %.1f, \"paint_worst_ms\": %.1f, \"paint_median_ms\": %.1f, "
        "\"max_gui_stall_ms\": %.1f, \"flood_mb_s\": %.1f, \"bytes_shown\": %llu, \"complete\": "
        "%s, \"history_lines\": %d, \"selection_active\": %s}\n",
        flood.worst, flood.median, flood.count, idle.worst, idle.median, paints.worst,
        paints.median, heartbeat.longestGapMs(), shown / 1e6 / floodSeconds,
        static_cast<unsigned long long>(shown), complete ? "true" : "false", historyLines,
        selected ? "true" : "false");
    return complete ? 0 : 1;
}
