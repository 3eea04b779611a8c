#include "terminal/PasteFeed.h"

#include <algorithm>

namespace vandrel::terminal {

PasteFeed::PasteFeed(SendLine send, QObject* parent) : QObject(parent), m_send(std::move(send)) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] { SendNext(); });
}

void PasteFeed::SetLineDelay(int ms) {
    m_lineDelay = std::clamp(ms, 0, kMaxLineDelayMs);
}

void PasteFeed::Add(std::vector<PasteLine> lines) {
    const bool idle = m_waiting.empty();
    m_waiting.insert(m_waiting.end(), std::make_move_iterator(lines.begin()),
                     std::make_move_iterator(lines.end()));
    if (idle) {
        SendNext();
    }
}

void PasteFeed::Cancel() {
    m_waiting.clear();
    m_timer.stop();
}

void PasteFeed::SendNext() {
    // Without a delay everything goes now; the send queue below takes it without waiting.
    do {
        if (m_waiting.empty()) {
            return;
        }
        const PasteLine line = std::move(m_waiting.front());
        m_waiting.pop_front();
        m_send(line);
    } while (m_lineDelay == 0);
    if (!m_waiting.empty()) {
        m_timer.start(m_lineDelay);
    }
}

}  // namespace vandrel::terminal
