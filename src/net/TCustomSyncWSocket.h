#pragma once

// Waiting layer: runs an operation and pumps messages until a flag that an
// event hook sets comes true. The socket's own events, and every other event
// of its thread, are handled while it waits.

#include "net/TCustomLineWSocket.h"

namespace vandrel::net {

// WaitForFlag's result on time-out, on application termination and after a
// request to quit the thread's event loop.
inline constexpr int kWaitForFlagFailed = 12001;

class TCustomSyncWSocket : public TCustomLineWSocket {
public:
    TCustomSyncWSocket() = default;
    ~TCustomSyncWSocket() override = default;

    // Clears DoneFlag, calls Method when assigned, then WaitForFlag(DoneFlag).
    virtual int RunAndWait(const std::function<void()>& Method, bool& DoneFlag);
    // 0 once DoneFlag is true; kWaitForFlagFailed on time-out, when the
    // application terminates, or once PumpMessages has met a quit request.
    // Raises nothing itself.
    virtual int WaitForFlag(bool& DoneFlag);

    // Milliseconds WaitForFlag waits at most; 0 (the default): no limit.
    int WaitTimeout() const { return m_waitTimeout; }
    void SetWaitTimeout(int Value) { m_waitTimeout = Value; }

private:
    int m_waitTimeout = 0;
};

}  // namespace vandrel::net
