// Key press to echoed character on the screen, for Vandrel's window and the peer terminal's on
// one X display. A loopback peer echoes each byte at once; a key is pressed through XTEST
// every 50 ms and the screen is read back from the X server until the session's top rows
// change, the same way for both programs. Rounds alternate the programs. Last line: one JSON
// object.
#include <QWidget>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "BenchFigures.h"
#include "DesktopPeers.h"
#include "TelnetPeer.h"
#include "VandrelWindow.h"
#include "XScreen.h"
#include "XTestInjector.h"
#include "app/VandrelApplication.h"

using namespace vandrel;
using namespace vandrel::bench;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kPeerAddress = "127.0.23.2";
constexpr auto kInterval = std::chrono::milliseconds(50);
constexpr int kTopRowsPx = 120;  // the banner's row and the typed one, with room
constexpr unsigned long kLetterA = 0x61;

// Presses keys over the session's area and measures each press to the first change of the
// area's pixels; runs on a thread of its own with its own X connections. -1: no change in 1 s.
void measurePresses(XScreen::Rect area, int presses, std::vector<double>& delays,
                    std::atomic<bool>& done) {
    XTestInjector x;
    XScreen screen;
    // The pointer over the session: without a window manager the keyboard follows it.
    x.Click(area.x + area.width / 2, area.y + area.height / 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::vector<std::uint32_t> before;
    std::vector<std::uint32_t> now;
    auto next = Clock::now();
    for (int i = 0; i < presses; ++i) {
        next += kInterval;
        std::this_thread::sleep_until(next);
        screen.Grab(area, before);
        const auto pressed = Clock::now();
        x.Key(kLetterA + static_cast<unsigned long>(i % 26));
        double ms = -1;
        while (Clock::now() - pressed < std::chrono::seconds(1)) {
            screen.Grab(area, now);
            if (now != before) {
                ms = std::chrono::duration<double, std::milli>(Clock::now() - pressed).count();
                break;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        delays.push_back(ms);
        next = std::max(next, Clock::now());
    }
    done = true;
}

void runPresses(XScreen::Rect area, int presses, std::vector<double>& delays) {
    std::atomic<bool> done{false};
    std::thread thread([&] { measurePresses(area, presses, delays, done); });
    pumpUntil([&] { return done.load(); }, 600000);
    thread.join();
}

void vandrelRound(app::TMainForm& form, int presses, std::vector<double>& delays) {
    TelnetPeer peer(kPeerAddress, TelnetPeer::Mode::Echo, nullptr);
    terminal::TTnEmulT* terminal = openAddressSession(form, kPeerAddress);
    if (!peer.Error().empty() || terminal == nullptr) {
        std::printf("vandrel: %s\n", peer.Error().empty() ? "no session" : peer.Error().c_str());
        return;
    }
    pumpUntil([&] { return peer.Accepted(); }, 5000);
    pumpFor(500);
    terminal->setFocus();
    const QPoint origin = terminal->mapToGlobal(QPoint(0, 0));
    runPresses({origin.x(), origin.y(), terminal->width(), kTopRowsPx}, presses, delays);
    control<QPushButton>(form, "btnClose")->click();
    pumpFor(300);
}

void puttyRound(int presses, std::vector<double>& delays) {
    TelnetPeer peer(kPeerAddress, TelnetPeer::Mode::Echo, nullptr);
    XScreen screen;
    const std::size_t mappedBefore = screen.MappedWindows().size();
    const pid_t putty = peer.Error().empty() ? startProgram(puttyCommand(kPeerAddress)) : -1;
    pumpUntil([&] { return peer.Accepted() && screen.MappedWindows().size() > mappedBefore; },
              10000);
    pumpFor(500);
    const auto windows = screen.MappedWindows();
    if (putty < 0 || windows.size() <= mappedBefore) {
        std::printf("putty: no window %s\n", peer.Error().c_str());
        stopProgram(putty);
        return;
    }
    // The newest window is on top: the peer terminal's, at its top-left the text.
    const XScreen::Rect r = windows.back().rect;
    screen.Focus(windows.back().id);
    runPresses({r.x, r.y, r.width, kTopRowsPx}, presses, delays);
    stopProgram(putty);
    pumpFor(300);
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    const int presses = argc > 2 ? std::atoi(argv[2]) : 200;
    const int perRound = (presses + rounds - 1) / rounds;
    useScratchHome();
    app::VandrelApplication application(argc, argv);
    app::TMainForm form;
    showWindow(form);
    std::vector<double> vandrel;
    std::vector<double> putty;
    for (int round = 0; round < rounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn + round) % 2 == 0) {
                vandrelRound(form, perRound, vandrel);
            } else {
                puttyRound(perRound, putty);
            }
        }
        std::printf("round %d: %zu and %zu presses so far (load %s)\n", round + 1, vandrel.size(),
                    putty.size(), loadAverage().c_str());
        std::fflush(stdout);
    }
    // A press whose echo never showed counts as the worst; it is reported apart as well.
    const auto missed = [](std::vector<double>& d) {
        const auto n = std::count(d.begin(), d.end(), -1.0);
        std::replace(d.begin(), d.end(), -1.0, 1000.0);
        return n;
    };
    const auto vMissed = missed(vandrel);
    const auto pMissed = missed(putty);
    std::printf(
        "echo_latency: %zu presses each, every 50 ms; %ld and %ld echoes not seen in 1 s; "
        "load %s\n",
        vandrel.size(), vMissed, pMissed, loadAverage().c_str());
    std::printf(
        "{\"vandrel_p50_ms\": %.2f, \"vandrel_p99_ms\": %.2f, \"putty_p50_ms\": %.2f, "
        "\"putty_p99_ms\": %.2f, \"presses\": %zu, \"vandrel_missed\": %ld, "
        "\"putty_missed\": %ld}\n",
        percentile(vandrel, 0.5), percentile(vandrel, 0.99), percentile(putty, 0.5),
        percentile(putty, 0.99), vandrel.size(), vMissed, pMissed);
    return vandrel.empty() || putty.empty() ? 1 : 0;
}
