#pragma once

#include <cstddef>
#include <map>
#include <string>

#include "script/ExpectMatcher.h"
#include "script/SessionScript.h"

namespace vandrel::script {

// What a run asks of the session it drives. Calls come from inside ScriptRun's own
// methods; a sink must not destroy the run from inside them (defer it).
class ScriptSink {
public:
    virtual ~ScriptSink() = default;
    // Bytes to send as typed keys (the sink doubles 0xFF for telnet and echoes locally).
    virtual void SendBytes(const std::string& bytes) = 0;
    virtual void SetLogging(bool on) = 0;
    // Close the session; the run is already finished when this is called.
    virtual void CloseSession() = 0;
    // Call TimerFired() after ms milliseconds; a new call replaces the previous timer,
    // CancelTimer drops it.
    virtual void StartTimer(int ms) = 0;
    virtual void CancelTimer() = 0;
    // The run moved to the command at index (for progress in a caption or a console).
    virtual void Progress(std::size_t index, std::size_t count) { (void)index; (void)count; }
    // The run ended; called exactly once.
    virtual void Finished() = 0;
};

struct RunOutcome {
    bool Finished = false;
    bool Passed = false;
    int Line = 0;          // the failed command's line, 0 when the run passed or never started
    std::string Command;   // the failed command as written
    std::string Reason;    // "expected text did not arrive within 10 s", "the device closed the session", ...
};

// Runs one script on one session: a plain state machine driven by the session's events.
// The session must be connected before Start.
class ScriptRun {
public:
    // values: every variable the script uses (UnknownVariables checked before).
    // enter: the session's Enter sequence for sendline.
    ScriptRun(const Script& script, std::map<std::string, std::string> values, std::string enter,
              ScriptSink& sink);

    // Runs commands until one has to wait (expect, wait) or the script ends.
    void Start();
    // Bytes the device sent (after telnet decoding).
    void Received(const char* data, std::size_t n);
    // The timer the sink started has run out.
    void TimerFired();
    // The session ended: a run still going fails with reason (e.g. "the device closed the
    // session"). A close the script itself asked for is not a failure.
    void SessionClosed(const std::string& reason);
    // Stops a run that is going (user cancel, SIGINT): it fails with reason.
    void Cancel(const std::string& reason);

    const RunOutcome& Outcome() const { return m_outcome; }
    bool Running() const { return m_started && !m_outcome.Finished; }

private:
    void Continue();
    void Fail(std::size_t index, std::string reason);
    void Pass();

    const Script& m_script;
    std::map<std::string, std::string> m_values;
    std::string m_enter;
    ScriptSink& m_sink;
    ExpectMatcher m_matcher;
    std::size_t m_next = 0;
    bool m_started = false;
    bool m_waiting = false;
    RunOutcome m_outcome;
};

}  // namespace vandrel::script
