// Many sessions at once: each to a loopback peer of its own (127.0.23.10 and up) that floods
// it with 80-column lines, all at the same time, while a click is made on the device table
// through XTEST every 50 ms; a click's delay runs from making it to the GUI thread handling
// it. Complete: every session took all its bytes and shows the stream's last line. Memory:
// resident growth over the sessions, per session. Last line: one JSON object.
#include <QAbstractItemView>
#include <QMouseEvent>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "BenchFigures.h"
#include "TelnetPeer.h"
#include "VandrelWindow.h"
#include "XTestInjector.h"
#include "app/TStringAlignGrid.h"
#include "app/VandrelApplication.h"

using namespace vandrel;
using namespace vandrel::bench;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kInterval = std::chrono::milliseconds(50);
constexpr int kOffsets = 40;

// Clicks land at one of kOffsets horizontal offsets, so a click that never arrives cannot
// shift the others' times.
class ClickProbe : public QObject {
public:
    ClickProbe(QWidget* target, QPoint center) : m_target(target), m_center(center) {
        m_localX = target->mapFromGlobal(center).x();
        qApp->installEventFilter(this);
    }
    ~ClickProbe() override { Stop(); }
    void Start() {
        m_thread = std::thread([this] { Run(); });
    }
    void Stop() {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    std::vector<double> Delays() {
        std::lock_guard lock(m_lock);
        return m_delays;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonPress && watched == m_target) {
            const int tag = static_cast<QMouseEvent*>(event)->position().toPoint().x() - m_localX +
                            kOffsets / 2;
            std::lock_guard lock(m_lock);
            if (const auto it = m_sent.find(tag); it != m_sent.end()) {
                m_delays.push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - it->second).count());
                m_sent.erase(it);
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void Run() {
        XTestInjector x;
        auto next = Clock::now();
        for (int i = 0; !m_stop; ++i) {
            next += kInterval;
            std::this_thread::sleep_until(next);
            const int tag = i % kOffsets;
            {
                std::lock_guard lock(m_lock);
                m_sent[tag] = Clock::now();
            }
            x.Click(m_center.x() + tag - kOffsets / 2, m_center.y());
        }
    }

    QWidget* m_target;
    QPoint m_center;
    int m_localX = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;
    std::map<int, Clock::time_point> m_sent;
    std::vector<double> m_delays;
};

std::string expectedLastLine(const std::vector<std::uint8_t>& stream) {
    std::size_t end = stream.size();
    while (end > 0 && (stream[end - 1] == '\r' || stream[end - 1] == '\n')) {
        --end;
    }
    std::size_t start = end;
    while (start > 0 && stream[start - 1] != '\n') {
        --start;
    }
    return std::string(stream.begin() + static_cast<std::ptrdiff_t>(start),
                       stream.begin() + static_cast<std::ptrdiff_t>(end));
}

}  // namespace

int main(int argc, char** argv) {
    const int sessions = argc > 1 ? std::atoi(argv[1]) : 32;
    const std::size_t bytes = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : (64u << 20);
    app::VandrelApplication application(argc, argv);
    app::TMainForm form;
    showWindow(form);
    const std::vector<std::uint8_t> stream = makeTextLines(bytes);
    const std::string lastLine = expectedLastLine(stream);
    const double rssBefore = residentMiB();

    QWidget* table = control<app::TStringAlignGrid>(form, "sg")->viewport();
    ClickProbe probe(table, table->mapToGlobal(table->rect().center()));
    probe.Start();
    const auto start = Clock::now();
    std::vector<std::unique_ptr<TelnetPeer>> peers;
    std::vector<terminal::TTnEmulT*> terminals;
    std::vector<std::uint64_t> shown(static_cast<std::size_t>(sessions), 0);
    for (int i = 0; i < sessions; ++i) {
        const std::string address = "127.0.23." + std::to_string(10 + i);
        peers.push_back(std::make_unique<TelnetPeer>(address, TelnetPeer::Mode::Flood, &stream));
        if (!peers.back()->Error().empty()) {
            std::printf("many_sessions: %s\n", peers.back()->Error().c_str());
            return 1;
        }
        terminal::TTnEmulT* t = openAddressSession(form, address);
        if (t == nullptr) {
            std::printf("many_sessions: no session to %s\n", address.c_str());
            return 1;
        }
        t->OnDataAvailable = [&shown, i](terminal::TTnEmulT&, const char*, int& len) {
            shown[static_cast<std::size_t>(i)] += static_cast<std::uint64_t>(len);
        };
        terminals.push_back(t);
    }
    const auto allShown = [&] {
        return std::all_of(shown.begin(), shown.end(), [&](std::uint64_t n) { return n >= bytes; });
    };
    pumpUntil(allShown, 900000);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    probe.Stop();
    pumpFor(1000);
    const double rssAfter = residentMiB();
    int complete = 0;
    for (std::size_t i = 0; i < terminals.size(); ++i) {
        complete += shown[i] >= bytes && lastShownLine(*terminals[i]) == lastLine ? 1 : 0;
    }
    const std::vector<double> delays = probe.Delays();
    std::uint64_t total = 0;
    for (const auto n : shown) {
        total += n;
    }
    std::printf(
        "many_sessions: %d sessions x %zu bytes in %.1f s (%.1f MB/s in all), %d "
        "complete; %zu clicks; resident %.1f -> %.1f MiB; load %s\n",
        sessions, bytes, seconds, static_cast<double>(total) / 1e6 / seconds, complete,
        delays.size(), rssBefore, rssAfter, loadAverage().c_str());
    std::printf(
        "{\"sessions\": %d, \"complete\": %s, \"worst_ms\": %.1f, \"median_ms\": %.1f, "
        "\"rss_per_session_mib\": %.2f, \"clicks\": %zu, \"seconds\": %.1f}\n",
        sessions, complete == sessions ? "true" : "false", percentile(delays, 1), median(delays),
        (rssAfter - rssBefore) / sessions, delays.size(), seconds);
    return complete == sessions ? 0 : 1;
}
