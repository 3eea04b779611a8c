#include "Heartbeat.h"

#include <time.h>

namespace vandrel::bench {

namespace {

double threadCpuMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

}  // namespace

Heartbeat::Heartbeat() {
    m_timer.setInterval(1);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { beat(); });
}

void Heartbeat::start() {
    m_clock.start();
    m_lastBeatNs = 0;
    m_lastBeatCpuMs = threadCpuMs();
    m_longestGapNs = 0;
    m_longestGapCpuMs = 0;
    m_timer.start();
}

void Heartbeat::stop() {
    m_timer.stop();
}

void Heartbeat::beat() {
    const qint64 now = m_clock.nsecsElapsed();
    const double cpu = threadCpuMs();
    if (now - m_lastBeatNs > m_longestGapNs) {
        m_longestGapNs = now - m_lastBeatNs;
        m_longestGapCpuMs = cpu - m_lastBeatCpuMs;
    }
    m_lastBeatNs = now;
    m_lastBeatCpuMs = cpu;
}

}  // namespace vandrel::bench
