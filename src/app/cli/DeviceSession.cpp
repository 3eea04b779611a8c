#include "app/cli/DeviceSession.h"

#include <cstdio>

#include "net/OwnedPart.h"
#include "net/WSocketErrorText.h"
#include "telnet/TTnCnx.h"
#include "terminal/EInOutError.h"
#include "terminal/KeyBytes.h"
#include "terminal/PasteLines.h"

namespace vandrel::app {

using telnet::TTnCnx;

namespace {

// How long a closing connection may take to report its end.
constexpr int kCloseWaitMs = 3000;

std::string SecondsText(std::chrono::milliseconds time) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(time.count()) / 1000);
    return text;
}

}  // namespace

DeviceSession::DeviceSession(const script::Script& script, SessionSetup setup,
                             std::function<void()> done)
    : m_script(script), m_setup(std::move(setup)), m_done(std::move(done)) {
    m_result.Device = m_setup.Target.Device;
    m_result.Log = m_setup.LogPath;
    for (QTimer* timer : {&m_stepTimer, &m_limitTimer, &m_closeWait}) {
        timer->setSingleShot(true);
    }
    // A coarse timer may fire 5% early: "timeout 10" would give up after 9.5 s.
    m_stepTimer.setTimerType(Qt::PreciseTimer);
    m_limitTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_stepTimer, &QTimer::timeout, [this] {
        if (m_run && m_run->Running()) {
            m_run->TimerFired();
        }
    });
    QObject::connect(&m_limitTimer, &QTimer::timeout,
                     [this] { Stop("no end within " + SecondsText(m_setup.Timeout) + " s"); });
    QObject::connect(&m_closeWait, &QTimer::timeout, [this] { End(); });
    TTnCnx* cnx = net::OwnedPart<TTnCnx>::Create(m_cnx);
    cnx->OnSessionConnected = [this](TTnCnx*, net::Word error) { CnxConnected(error); };
    cnx->OnDataAvailable = [this](TTnCnx*, const char* data, int length) { CnxData(data, length); };
    cnx->OnSessionClosed = [this](TTnCnx*, net::Word) { CnxClosed(); };
}

DeviceSession::~DeviceSession() {
    m_run.reset();
    if (m_cnx) {
        // A session destroyed while it goes reports nothing any more.
        m_cnx->OnSessionConnected = nullptr;
        m_cnx->OnDataAvailable = nullptr;
        m_cnx->OnSessionClosed = nullptr;
    }
    net::OwnedPart<TTnCnx>::Destroy(m_cnx);
    SwitchLog(false);
}

void DeviceSession::Start() {
    if (m_phase != Phase::Idle) {
        return;
    }
    m_clock.start();
    m_limitTimer.start(m_setup.Timeout);
    m_phase = Phase::Connecting;
    m_result.Outcome = DeviceOutcome::Failed;
    // Logging runs from the start, so the log holds what a window session would show.
    SwitchLog(true);
    const std::string& host = m_setup.Target.Device.Ip;
    try {
        m_cnx->SetPort(m_setup.Target.Port);
        m_cnx->SetHost(host);
        m_cnx->Connect();
    } catch (const std::exception& e) {
        Fail(e.what());
        End();
        return;
    }
    Show("Connecting to '" + host + "'\r\n");
}

void DeviceSession::Stop(const std::string& reason) {
    if (m_phase == Phase::Connecting) {
        Fail(reason);
        m_phase = Phase::Closing;
        CloseConnection();
    } else if (m_phase == Phase::Running && m_run && m_run->Running()) {
        m_run->Cancel(reason);
    }
}

void DeviceSession::CnxConnected(net::Word error) {
    if (m_phase != Phase::Connecting) {
        return;
    }
    if (error != 0) {
        const std::string text = net::WSocketErrorText(error);
        Show("Connection failed: " + text + "\r\n");
        Fail(text + " (#" + std::to_string(error) + ")");
        // The socket reports its close next, and the log shows it as a window session's does.
        m_phase = Phase::Closing;
        CloseConnection();
        return;
    }
    Show("Connected\r\n");
    m_phase = Phase::Running;
    m_run = std::make_unique<script::ScriptRun>(
        m_script, m_setup.Values, std::string(terminal::EnterBytes(terminal::EnterKey::CrLf)),
        static_cast<script::ScriptSink&>(*this));
    m_run->Start();
}

void DeviceSession::CnxData(const char* data, int length) {
    if (m_phase == Phase::Ended || length <= 0) {
        return;
    }
    Show(std::string_view(data, static_cast<std::size_t>(length)));
    if (m_run && m_run->Running()) {
        m_run->Received(data, static_cast<std::size_t>(length));
    }
}

void DeviceSession::CnxClosed() {
    if (m_phase == Phase::Ended) {
        return;
    }
    Show("\r\n*** Server has closed ***\r\n");
    if (m_run && m_run->Running()) {
        m_run->SessionClosed("the device closed the session");
    } else if (m_phase == Phase::Connecting) {
        Fail("the device closed the session");
    }
    End();
}

void DeviceSession::SendBytes(const std::string& bytes) {
    if (!m_cnx) {
        return;
    }
    // No local echo: a window session shows only what the device sends, whatever the echo
    // negotiation said, and the log holds the same bytes.
    const std::string escaped = terminal::EscapeIac(bytes);
    try {
        m_cnx->Send(escaped.data(), static_cast<int>(escaped.size()));
    } catch (...) {
        // A socket that failed reports its end through the closed hook.
    }
}

void DeviceSession::SetLogging(bool on) {
    SwitchLog(on);
}

void DeviceSession::CloseSession() {
    if (m_phase == Phase::Running) {
        m_phase = Phase::Closing;
        CloseConnection();
    }
}

void DeviceSession::StartTimer(int ms) {
    m_stepTimer.start(ms);
}

void DeviceSession::CancelTimer() {
    m_stepTimer.stop();
}

void DeviceSession::Finished() {
    m_stepTimer.stop();
    const script::RunOutcome& outcome = m_run->Outcome();
    m_result.Outcome = outcome.Passed ? DeviceOutcome::Passed : DeviceOutcome::Failed;
    m_result.Line = outcome.Line;
    m_result.Command = outcome.Command;
    m_result.Reason = outcome.Reason;
    // Called from inside the run: the connection closes from the event loop.
    CloseSession();
}

void DeviceSession::Fail(const std::string& reason) {
    m_result.Outcome = DeviceOutcome::Failed;
    m_result.Reason = reason;
}

void DeviceSession::CloseConnection() {
    QMetaObject::invokeMethod(
        &m_queue,
        [this] {
            if (m_phase != Phase::Closing) {
                return;
            }
            m_closeWait.start(kCloseWaitMs);
            if (m_cnx) {
                m_cnx->Close();
            }
        },
        Qt::QueuedConnection);
}

void DeviceSession::End() {
    if (m_phase == Phase::Ended) {
        return;
    }
    m_phase = Phase::Ended;
    m_result.Seconds = static_cast<double>(m_clock.nsecsElapsed()) / 1e9;
    for (QTimer* timer : {&m_stepTimer, &m_limitTimer, &m_closeWait}) {
        timer->stop();
    }
    SwitchLog(false);
    QMetaObject::invokeMethod(
        &m_queue, [this] { m_done(); }, Qt::QueuedConnection);
}

void DeviceSession::Show(std::string_view text) {
    if (std::optional<terminal::EInOutError> error = m_screen.WriteStrShowingAll(text)) {
        m_logError = error->what();
    }
}

void DeviceSession::SwitchLog(bool on) {
    // A log that failed stays off.
    if (m_setup.LogPath.empty() || m_screen.Log() == on || (on && !m_logError.empty())) {
        return;
    }
    m_screen.SetLogName(m_setup.LogPath);
    try {
        m_screen.SetLog(on);
    } catch (const terminal::EInOutError& e) {
        m_logError = e.what();
    }
}

}  // namespace vandrel::app
