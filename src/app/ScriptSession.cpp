#include "app/ScriptSession.h"

#include "terminal/KeyBytes.h"

namespace vandrel::app {

using terminal::TTnEmulT;

namespace {

constexpr std::size_t kKeptReceived = 16 * 1024;

}  // namespace

ScriptSession::ScriptSession(const script::Script& script,
                             std::map<std::string, std::string> values, TTnEmulT& terminal,
                             QObject* parent)
    : QObject(parent),
      m_terminal(&terminal),
      m_run(script, std::move(values), std::string(terminal::EnterBytes(terminal.EnterSends())),
            *this) {
    m_timer.setSingleShot(true);
    // A coarse timer may fire 5% early: "timeout 10" would give up after 9.5 s.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_run.Running()) {
            m_run.TimerFired();
        }
    });
    // Close destroys the terminal without a closed report.
    connect(&terminal, &QObject::destroyed, this, [this] {
        m_hooked = false;
        if (m_run.Running()) {
            m_run.SessionClosed("the tab was closed");
        }
    });
}

ScriptSession::~ScriptSession() {
    Release();
}

void ScriptSession::Start() {
    m_previousData = m_terminal->OnDataAvailable;
    m_previousClosed = m_terminal->OnSessionClosed;
    m_hooked = true;
    m_terminal->OnDataAvailable = [this](TTnEmulT& Sender, const char* buffer, int& len) {
        Receive(buffer, len);
        if (m_previousData) {
            m_previousData(Sender, buffer, len);
        }
    };
    m_terminal->OnSessionClosed = [this](TTnEmulT& Sender) {
        // The window's own hook may delete the tab: it runs last, and this object stays.
        const terminal::TerminalNotifyEvent previous = m_previousClosed;
        if (m_run.Running()) {
            m_run.SessionClosed("the device closed the session");
        }
        if (previous) {
            previous(Sender);
        }
    };
    m_run.Start();
}

void ScriptSession::Cancel(const std::string& reason) {
    if (m_run.Running()) {
        m_run.Cancel(reason);
    }
}

QString ScriptSession::ProgressText() const {
    if (m_done || m_count == 0) {
        return {};
    }
    return QStringLiteral("script %1/%2").arg(m_index + 1).arg(m_count);
}

void ScriptSession::Receive(const char* data, int len) {
    if (len <= 0) {
        return;
    }
    m_received.append(data, static_cast<std::size_t>(len));
    if (m_received.size() > kKeptReceived) {
        m_received.erase(0, m_received.size() - kKeptReceived);
    }
    if (m_run.Running()) {
        m_run.Received(data, static_cast<std::size_t>(len));
    }
}

void ScriptSession::SendBytes(const std::string& bytes) {
    if (m_terminal) {
        m_terminal->SendAsTyped(bytes);
    }
}

void ScriptSession::SetLogging(bool on) {
    if (m_terminal && OnLogging) {
        OnLogging(*m_terminal, on);
    }
}

void ScriptSession::CloseSession() {
    // Called from inside the run: the session ends from the event loop.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_terminal) {
                m_terminal->Disconnect();
            }
        },
        Qt::QueuedConnection);
}

void ScriptSession::StartTimer(int ms) {
    m_timer.start(ms);
}

void ScriptSession::CancelTimer() {
    m_timer.stop();
}

void ScriptSession::Progress(std::size_t index, std::size_t count) {
    m_index = index;
    m_count = count;
    emit ProgressChanged();
}

void ScriptSession::Finished() {
    m_timer.stop();
    QMetaObject::invokeMethod(
        this,
        [this] {
            Release();
            m_done = true;
            emit ProgressChanged();
            emit Ended();
        },
        Qt::QueuedConnection);
}

void ScriptSession::Release() {
    if (!m_hooked) {
        return;
    }
    m_hooked = false;
    if (m_terminal) {
        m_terminal->OnDataAvailable = std::move(m_previousData);
        m_terminal->OnSessionClosed = std::move(m_previousClosed);
    }
}

}  // namespace vandrel::app
