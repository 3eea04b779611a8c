#pragma once

// A 1 ms timer on the GUI thread: the longest gap between two beats is the longest time its
// event loop was kept from running, so the longest time the window could not react to input.

#include <QElapsedTimer>
#include <QTimer>

namespace vandrel::bench {

class Heartbeat {
public:
    Heartbeat();

    // Starts beating; the first gap counts from this call.
    void start();
    void stop();

    double longestGapMs() const { return static_cast<double>(m_longestGapNs) / 1e6; }
    // The thread's own CPU time within the longest gap: near the gap, the thread was busy;
    // far below it, the thread waited for a core of a shared machine.
    double longestGapCpuMs() const { return m_longestGapCpuMs; }

private:
    void beat();

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_lastBeatNs = 0;
    double m_lastBeatCpuMs = 0;
    qint64 m_longestGapNs = 0;
    double m_longestGapCpuMs = 0;
};

}  // namespace vandrel::bench
