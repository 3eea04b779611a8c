// From process start until the window is mapped and has painted, Vandrel and the peer
// terminal (a telnet session to a loopback echo peer) on one X display, starts alternating.
// "Painted": a newly mapped top-level window shows at least two colours (the X server has a
// black root and fills a bare window with one colour). Last line: one JSON object.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <thread>

#include "BenchFigures.h"
#include "DesktopPeers.h"
#include "TelnetPeer.h"
#include "XScreen.h"

using namespace vandrel::bench;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kPeerAddress = "127.0.23.3";

// ms from start to painted; -1 when that did not happen in 10 s.
double timeStart(XScreen& screen, const std::vector<std::string>& command) {
    std::set<unsigned long> before;
    for (const auto& w : screen.MappedWindows()) {
        before.insert(w.id);
    }
    const auto start = Clock::now();
    const pid_t pid = startProgram(command);
    double ms = -1;
    while (pid > 0 && Clock::now() - start < std::chrono::seconds(10) && ms < 0) {
        for (const auto& w : screen.MappedWindows()) {
            if (before.count(w.id) == 0 && w.rect.width > 100 && w.rect.height > 50 &&
                screen.Colours(w.rect, 2) >= 2) {
                ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
                break;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    stopProgram(pid);
    // Until its windows are gone, so that the next start begins on a bare screen.
    for (int i = 0; i < 200 && screen.MappedWindows().size() > before.size(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string vandrel = argc > 1 ? argv[1] : "vandrel";
    const int starts = argc > 2 ? std::atoi(argv[2]) : 20;
    useScratchHome();
    XScreen screen;
    if (!screen.Error().empty()) {
        std::printf("startup: %s\n", screen.Error().c_str());
        return 1;
    }
    std::vector<double> vandrelMs;
    std::vector<double> puttyMs;
    int failed = 0;
    for (int i = 0; i < starts; ++i) {
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn + i) % 2 == 0) {
                const double ms = timeStart(screen, {vandrel});
                ms < 0 ? ++failed : (vandrelMs.push_back(ms), 0);
            } else {
                TelnetPeer peer(kPeerAddress, TelnetPeer::Mode::Echo, nullptr);
                const double ms = timeStart(screen, puttyCommand(kPeerAddress));
                ms < 0 ? ++failed : (puttyMs.push_back(ms), 0);
            }
        }
    }
    std::printf(
        "startup: %d starts each, %d without a painted window in 10 s; vandrel %.0f-%.0f ms, "
        "putty %.0f-%.0f ms; load %s\n",
        starts, failed, percentile(vandrelMs, 0), percentile(vandrelMs, 1), percentile(puttyMs, 0),
        percentile(puttyMs, 1), loadAverage().c_str());
    std::printf("{\"vandrel_ms\": %.1f, \"putty_ms\": %.1f, \"starts\": %d, \"failed\": %d}\n",
                median(vandrelMs), median(puttyMs), starts, failed);
    return failed == 0 ? 0 : 1;
}
