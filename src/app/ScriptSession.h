#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <map>
#include <string>

#include "script/ScriptRun.h"
#include "terminal/TTnEmulT.h"

namespace vandrel::app {

// One script running on one session, driven by the session's own events: what the device
// sends goes to the run, what the run sends goes out through the terminal's typed-key path,
// its waits run on a timer. It never blocks: Start returns once the run has to wait.
//
// The run fails when the device ends the session or the terminal is destroyed (its tab
// closed). Ended is emitted from the event loop, never from inside the terminal's or the
// run's own calls, so its receiver may delete the session.
class ScriptSession : public QObject, private script::ScriptSink {
    Q_OBJECT
public:
    // script outlives the session; terminal is connected.
    ScriptSession(const script::Script& script, std::map<std::string, std::string> values,
                  terminal::TTnEmulT& terminal, QObject* parent);
    ~ScriptSession() override;

    void Start();
    // A run that is going fails with reason.
    void Cancel(const std::string& reason);

    // The terminal, or nullptr once it is gone.
    terminal::TTnEmulT* Terminal() const { return m_terminal; }
    bool Done() const { return m_done; }
    const script::RunOutcome& Outcome() const { return m_run.Outcome(); }
    // "script 3/9" while the run goes; empty once it is done.
    QString ProgressText() const;
    // The last bytes the device sent during the run (up to 16 KiB).
    const std::string& Received() const { return m_received; }

    // Switches the session's log for `log on|off`; without it the command does nothing.
    std::function<void(terminal::TTnEmulT& terminal, bool on)> OnLogging;

signals:
    void ProgressChanged();
    void Ended();

private:
    void SendBytes(const std::string& bytes) override;
    void SetLogging(bool on) override;
    void CloseSession() override;
    void StartTimer(int ms) override;
    void CancelTimer() override;
    void Progress(std::size_t index, std::size_t count) override;
    void Finished() override;

    void Receive(const char* data, int len);
    void Release();

    QPointer<terminal::TTnEmulT> m_terminal;
    script::ScriptRun m_run;
    QTimer m_timer;
    std::string m_received;
    std::size_t m_index = 0;
    std::size_t m_count = 0;
    bool m_done = false;
    // The terminal's hooks before the run took them; given back when it ends.
    terminal::TTnEmulTDataAvailable m_previousData;
    terminal::TerminalNotifyEvent m_previousClosed;
    bool m_hooked = false;
};

}  // namespace vandrel::app
