// One Search answered by a storm of replies: how many rows are listed, how long until the
// last one, and how long the GUI thread was ever kept from its event loop meanwhile. Each
// round is followed by the same request from a bare reader, a socket with the kernel's default
// receive buffer drained by recvmmsg in a tight loop and nothing else, on the same devices:
// what the kernel lets through to any reader, the limit the program is measured against. Runs
// inside a lab (bench/discovery_storm/run.sh sets it up).
#include <QAbstractItemModel>
#include <QElapsedTimer>
#include <QPushButton>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "Heartbeat.h"
#include "app/TMainForm.h"
#include "app/TStringAlignGrid.h"
#include "app/VandrelApplication.h"
#include "discovery/TUDPServer.h"
#include "discovery/TUDPSocketHandle.h"

using namespace vandrel::discovery;
using namespace vandrel::app;

using vandrel::app::TMainForm;

namespace {

struct Round {
    int rows = 0;
    double secondsToLastRow = 0;
    double maxStallMs = 0;
};

void Wait(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

Round RunRound(TMainForm& form, int expected) {
    Round round;
    QElapsedTimer clock;
    qint64 lastRowNs = 0;
    auto* sg = form.findChild<TStringAlignGrid*>(QStringLiteral("sg"));
    auto* model = sg->model();
    const auto connection = QObject::connect(model, &QAbstractItemModel::rowsInserted,
                                             [&] { lastRowNs = clock.nsecsElapsed(); });
    // How long the window could not react to input, from the click on.
    vandrel::bench::Heartbeat heartbeat;

    clock.start();
    form.findChild<QPushButton*>(QStringLiteral("btnSearch"))->click();
    heartbeat.start();
    // Until every row is there, then a quiet second to catch late or surplus rows.
    while (clock.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const bool complete = sg->RowCount() - 1 >= expected;
        if (complete && clock.nsecsElapsed() - lastRowNs > 1000000000LL) {
            break;
        }
        if (!complete && lastRowNs > 0 && clock.nsecsElapsed() - lastRowNs > 3000000000LL) {
            break;  // rows were lost: nothing more will come
        }
    }
    heartbeat.stop();
    QObject::disconnect(connection);
    round.rows = sg->RowCount() - 1;
    if (round.rows == 1 && sg->Cells(0, 1).empty()) {
        round.rows = 0;
    }
    round.secondsToLastRow = static_cast<double>(lastRowNs) / 1e9;
    round.maxStallMs = heartbeat.longestGapMs();
    return round;
}

// Datagrams the system dropped because a receive buffer was full, in this namespace so far.
long ReceiveBufferDrops() {
    std::FILE* file = std::fopen("/proc/net/snmp", "r");
    if (file == nullptr) {
        return -1;
    }
    char line[1024];
    long drops = -1;
    int column = -1;
    while (std::fgets(line, sizeof line, file) != nullptr) {
        if (std::strncmp(line, "Udp: ", 5) != 0) {
            continue;
        }
        char* save = nullptr;
        int k = 0;
        for (char* field = strtok_r(line + 5, " \n", &save); field != nullptr;
             field = strtok_r(nullptr, " \n", &save), ++k) {
            if (column < 0 && std::strcmp(field, "RcvbufErrors") == 0) {
                column = k;
            } else if (column >= 0 && k == column && std::isdigit(field[0])) {
                drops = std::atol(field);
            }
        }
    }
    std::fclose(file);
    return drops;
}

// The bare reader: one request, then every datagram taken as fast as the kernel gives them,
// until a quiet second (or 10 s). Counts the replies the program would list. A receiveBuffer
// of 0 keeps the kernel's default.
int BareRound(int receiveBuffer) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    if (receiveBuffer > 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    sockaddr_in any{};
    any.sin_family = AF_INET;
    ::bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any);
    sockaddr_in all{};
    all.sin_family = AF_INET;
    all.sin_port = htons(33300);
    all.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    const char request = 0x05;
    ::sendto(fd, &request, 1, 0, reinterpret_cast<const sockaddr*>(&all), sizeof all);

    constexpr int kBatch = 64;
    std::vector<std::vector<unsigned char>> buffers(kBatch, std::vector<unsigned char>(2048));
    std::vector<iovec> iov(kBatch);
    std::vector<mmsghdr> messages(kBatch);
    int rows = 0;
    QElapsedTimer clock;
    clock.start();
    qint64 lastNs = 0;
    while (clock.elapsed() < 10000 && clock.nsecsElapsed() - lastNs < 1000000000LL) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) {
            continue;
        }
        for (int i = 0; i < kBatch; ++i) {
            iov[i] = {buffers[i].data(), buffers[i].size()};
            messages[i] = {};
            messages[i].msg_hdr.msg_iov = &iov[i];
            messages[i].msg_hdr.msg_iovlen = 1;
        }
        const int n = ::recvmmsg(fd, messages.data(), kBatch, MSG_DONTWAIT, nullptr);
        for (int i = 0; i < n; ++i) {
            const unsigned len = messages[i].msg_len;
            const auto& b = buffers[i];
            if (len >= 2 && len <= 2048 && b[0] == 0x02 && b[len - 1] == 0x04 &&
                (messages[i].msg_hdr.msg_flags & MSG_TRUNC) == 0) {
                ++rows;
            }
        }
        if (n > 0) {
            lastNs = clock.nsecsElapsed();
        }
    }
    ::close(fd);
    return rows;
}

}  // namespace

int main(int argc, char** argv) {
    const int expected = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    vandrel::app::VandrelApplication application(argc, argv);
    TMainForm form;
    form.show();
    Wait(300);
    if (!form.DiscoveryEndpoint().Active()) {
        std::printf("the endpoint did not start\n");
        return 1;
    }
    // A technician's PC keeps the system's default limit (net.core.rmem_max = 212992), which
    // caps the endpoint's larger request; apply that cap here whatever this machine allows.
    // STORM_RCVBUF=system keeps what the endpoint got on this machine.
    const int handle = form.DiscoveryEndpoint().Binding().Handle();
    const char* limit = std::getenv("STORM_RCVBUF");
    if (limit == nullptr || std::string(limit) != "system") {
        const int bytes = limit != nullptr ? std::atoi(limit) : 212992;
        ::setsockopt(handle, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    }
    int effective = 0;
    socklen_t length = sizeof effective;
    ::getsockopt(handle, SOL_SOCKET, SO_RCVBUF, &effective, &length);
    std::printf("endpoint receive buffer: %d bytes\n", effective);
    // The bare reader keeps the kernel's default receive buffer: the limit the issue measures
    // the program against is what any reader gets without asking for more.
    // STORM_BARE_RCVBUF=N makes it ask for N bytes instead (N=212992 gives it the endpoint's
    // capped buffer, for a comparison at equal buffers).
    const char* bareRequest = std::getenv("STORM_BARE_RCVBUF");
    const int bareBuffer = bareRequest != nullptr ? std::atoi(bareRequest) : 0;
    if (bareBuffer > 0) {
        std::printf("bare reader receive buffer: %d bytes asked for\n", bareBuffer);
    } else {
        std::printf("bare reader receive buffer: the kernel's default\n");
    }
    Round worst;
    worst.rows = expected;
    int worstBare = expected;
    std::vector<int> listed, bares;
    for (int i = 1; i <= rounds; ++i) {
        const long drops0 = ReceiveBufferDrops();
        const Round round = RunRound(form, expected);
        const long drops1 = ReceiveBufferDrops();
        Wait(500);
        const int bare = BareRound(bareBuffer);
        const long drops2 = ReceiveBufferDrops();
        std::printf(
            "round %d: rows listed %d of %d (bare reader %d), time to last row %.3f s, longest "
            "GUI stall %.1f ms, dropped by a full receive buffer %ld (bare reader %ld)\n",
            i, round.rows, expected, bare, round.secondsToLastRow, round.maxStallMs,
            drops1 - drops0, drops2 - drops1);
        worst.rows = std::min(worst.rows, round.rows);
        worstBare = std::min(worstBare, bare);
        listed.push_back(round.rows);
        bares.push_back(bare);
        worst.secondsToLastRow = std::max(worst.secondsToLastRow, round.secondsToLastRow);
        worst.maxStallMs = std::max(worst.maxStallMs, round.maxStallMs);
        Wait(500);
    }
    // Drops depend on what else the machine runs at that moment, so single rounds of either
    // reader vary; the medians are compared, the worst rounds shown beside them.
    const auto median = [](std::vector<int> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("median: rows=%d bare_rows=%d\n", median(listed), median(bares));
    std::printf("worst: rows=%d bare_rows=%d seconds_to_last_row=%.3f max_stall_ms=%.1f\n",
                worst.rows, worstBare, worst.secondsToLastRow, worst.maxStallMs);
    return 0;
}
