#pragma once

#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>
#include <vector>

#include "terminal/PasteLines.h"

namespace vandrel::terminal {

// Sends pasted lines into a session: all at once without a line delay; with one, the first
// line at once and each further line when the delay has passed, from a timer, so that the GUI
// never waits for a slow device. Lines added while others wait go after them.
class PasteFeed : public QObject {
    Q_OBJECT

public:
    using SendLine = std::function<void(const PasteLine& line)>;

    static constexpr int kMaxLineDelayMs = 60000;

    explicit PasteFeed(SendLine send, QObject* parent = nullptr);

    // Milliseconds between two lines, 0 to kMaxLineDelayMs (clamped).
    int LineDelay() const { return m_lineDelay; }
    void SetLineDelay(int ms);

    void Add(std::vector<PasteLine> lines);
    // Drops the lines not sent yet.
    void Cancel();
    // Lines wait to be sent.
    bool Busy() const { return !m_waiting.empty(); }

private:
    void SendNext();

    SendLine m_send;
    std::deque<PasteLine> m_waiting;
    QTimer m_timer;
    int m_lineDelay = 0;
};

}  // namespace vandrel::terminal
