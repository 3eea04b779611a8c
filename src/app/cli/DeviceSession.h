#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "app/cli/RunDevices.h"
#include "app/cli/RunReport.h"
#include "net/TWSocket.h"
#include "script/ScriptRun.h"
#include "script/SessionScript.h"
#include "terminal/EmulTScreen.h"

namespace vandrel::telnet {
class TTnCnx;
}

namespace vandrel::app {

// What one device's session of a headless run needs besides the script.
struct SessionSetup {
    RunTarget Target;
    // Every variable the script uses.
    std::map<std::string, std::string> Values;
    // The session log, written from the session's start; empty for none.
    std::string LogPath;
    // The limit of the whole session, from the connect to its end.
    std::chrono::milliseconds Timeout{300000};
};

// One device's session of a headless run: a telnet connection whose output goes to a plain
// screen, and through it to the session log exactly as a window session logs it (status texts,
// received bytes, sent bytes echoed while the device does not echo), and to the script's run,
// which sends through the connection. It lives on the thread of a Qt event loop.
//
// done runs from the event loop, once, after the session has ended (the result is final then);
// the owner may destroy the session from there. Destroying a session earlier closes its
// connection and its log without calling done.
class DeviceSession : private script::ScriptSink {
public:
    DeviceSession(const script::Script& script, SessionSetup setup, std::function<void()> done);
    ~DeviceSession() override;
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    // Connects and, once connected, runs the script.
    void Start();
    // Ends a session that is going: a run fails with reason, the connection is closed.
    void Stop(const std::string& reason);

    const DeviceResult& Result() const { return m_result; }
    // Why the session log stopped, empty while it did not.
    const std::string& LogError() const { return m_logError; }

private:
    enum class Phase { Idle, Connecting, Running, Closing, Ended };

    // ScriptSink
    void SendBytes(const std::string& bytes) override;
    void SetLogging(bool on) override;
    void CloseSession() override;
    void StartTimer(int ms) override;
    void CancelTimer() override;
    void Finished() override;

    void CnxConnected(net::Word error);
    void CnxData(const char* data, int length);
    void CnxClosed();
    void Fail(const std::string& reason);
    void CloseConnection();
    void End();
    void Show(std::string_view text);
    void SwitchLog(bool on);

    const script::Script& m_script;
    SessionSetup m_setup;
    std::function<void()> m_done;
    Phase m_phase = Phase::Idle;
    telnet::TTnCnx* m_cnx = nullptr;
    terminal::EmulTScreen m_screen;
    std::unique_ptr<script::ScriptRun> m_run;
    DeviceResult m_result;
    std::string m_logError;
    QElapsedTimer m_clock;
    QTimer m_stepTimer;
    QTimer m_limitTimer;
    QTimer m_closeWait;
    // Calls queued on the event loop are dropped with it.
    QObject m_queue;
};

}  // namespace vandrel::app
