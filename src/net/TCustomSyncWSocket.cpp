#include "net/TCustomSyncWSocket.h"

#include <chrono>
#include <thread>

#include "net/SocketWindow.h"

namespace vandrel::net {

namespace {

// The pause between two rounds of pumping, in place of a bare yield, so that
// a long wait does not keep a core busy.
constexpr auto kWaitPause = std::chrono::microseconds(200);

}  // namespace

int TCustomSyncWSocket::RunAndWait(const std::function<void()>& Method, bool& DoneFlag) {
    DoneFlag = false;
    if (Method) {
        const LifeToken life = Life();
        Method();
        if (!Alive(life)) {
            return DoneFlag ? 0 : kWaitForFlagFailed;
        }
    }
    return WaitForFlag(DoneFlag);
}

int TCustomSyncWSocket::WaitForFlag(bool& DoneFlag) {
    using Clock = std::chrono::steady_clock;
    const LifeToken life = Life();
    const int timeout = m_waitTimeout;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout);
    for (;;) {
        if (DoneFlag) {
            return 0;
        }
        if ((timeout > 0 && Clock::now() > deadline) || SocketWindow::ApplicationClosing() ||
            Terminated()) {
            return kWaitForFlagFailed;
        }
        PumpMessages();
        if (!Alive(life)) {
            // A hook destroyed the socket; only the caller's flag is left.
            return DoneFlag ? 0 : kWaitForFlagFailed;
        }
        std::this_thread::sleep_for(kWaitPause);
    }
}

}  // namespace vandrel::net
