// The telnet flood into two windows on one X display: Vandrel's (a session opened as Connect
// to Address opens one) and the peer terminal's. Each round both take the same stream of
// 80-column lines followed by IAC DO TIMING-MARK; the time runs from accept to the client's
// answer. Rounds alternate which program goes first. Last line: one JSON object.
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "BenchFigures.h"
#include "DesktopPeers.h"
#include "TelnetPeer.h"
#include "VandrelWindow.h"
#include "app/VandrelApplication.h"

using namespace vandrel;
using namespace vandrel::bench;

namespace {

constexpr const char* kPeerAddress = "127.0.23.1";
constexpr int kLimitMs = 600000;

// MB/s of one program's round, 0 when it failed.
double vandrelRound(app::TMainForm& form, const std::vector<std::uint8_t>& stream) {
    TelnetPeer peer(kPeerAddress, TelnetPeer::Mode::Flood, &stream);
    if (!peer.Error().empty() || openAddressSession(form, kPeerAddress) == nullptr) {
        std::printf("vandrel: %s\n", peer.Error().empty() ? "no session" : peer.Error().c_str());
        return 0;
    }
    const bool answered = pumpUntil([&] { return peer.Answered(); }, kLimitMs);
    control<QPushButton>(form, "btnClose")->click();
    pumpFor(300);
    return answered ? static_cast<double>(stream.size()) / 1e6 / peer.Seconds() : 0;
}

double puttyRound(const std::vector<std::uint8_t>& stream) {
    TelnetPeer peer(kPeerAddress, TelnetPeer::Mode::Flood, &stream);
    const pid_t putty = peer.Error().empty() ? startProgram(puttyCommand(kPeerAddress)) : -1;
    if (putty < 0) {
        std::printf("putty: %s\n", peer.Error().c_str());
        return 0;
    }
    // The window stays idle meanwhile, as a user's would.
    const bool answered =
        pumpUntil([&] { return peer.Answered() || !programRuns(putty); }, kLimitMs) &&
        peer.Answered();
    stopProgram(putty);
    pumpFor(300);
    return answered ? static_cast<double>(stream.size()) / 1e6 / peer.Seconds() : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    const std::size_t bytes = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : (64u << 20);
    useScratchHome();
    app::VandrelApplication application(argc, argv);
    app::TMainForm form;
    showWindow(form);
    const std::vector<std::uint8_t> stream = makeTextLines(bytes);
    std::vector<double> vandrel;
    std::vector<double> putty;
    for (int round = 0; round < rounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn + round) % 2 == 0) {
                vandrel.push_back(vandrelRound(form, stream));
            } else {
                putty.push_back(puttyRound(stream));
            }
        }
        std::printf("round %d: vandrel %.1f MB/s, putty %.2f MB/s (load %s)\n", round + 1,
                    vandrel.back(), putty.back(), loadAverage().c_str());
        std::fflush(stdout);
    }
    const double v = median(vandrel);
    const double p = median(putty);
    std::printf("gui_flood: %zu bytes, medians of %d rounds; load %s\n", bytes, rounds,
                loadAverage().c_str());
    std::printf(
        "{\"vandrel_mb_s\": %.2f, \"putty_mb_s\": %.3f, \"ratio\": %.1f, \"rounds\": %d, "
        "\"bytes\": %zu}\n",
        v, p, p > 0 ? v / p : 0.0, rounds, bytes);
    return v > 0 && p > 0 ? 0 : 1;
}
