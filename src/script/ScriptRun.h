#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

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
    // Close the session (the script's close): the run's outcome is already final (passed) when
    // this is called, and Finished follows it.
    virtual void CloseSession() = 0;
    // Call TimerFired() after ms milliseconds; a new call replaces the previous timer,
    // CancelTimer drops it.
    virtual void StartTimer(int ms) = 0;
    virtual void CancelTimer() = 0;
    // The run moved to the command at index (for progress in a caption or a console).
    virtual void Progress(std::size_t index, std::size_t count) {
        (void)index;
        (void)count;
    }
    // The run ended; called exactly once, and nothing of the sink is called after it (a
    // running timer was cancelled before).
    virtual void Finished() = 0;
};

struct RunOutcome {
    bool Finished = false;
    bool Passed = false;
    int Line = 0;         // the failed command's line, 0 when the run passed or never started
    std::string Command;  // the failed command as written
    std::string Reason;   // "expected \"login:\" did not arrive within 10 s", "\"Error\" appeared",
                          // or the reason given to SessionClosed or Cancel
};

// Runs one script on one session: a plain state machine driven by the session's events.
// The session must be connected before Start; bytes received before Start already count for
// the first expect. Every method may be called from inside a sink call (a sink whose
// SendBytes delivers the answer at once): the run goes on in the outermost call.
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
    // session"); one not started yet fails with line 0. A close the script itself asked for is
    // not a failure.
    void SessionClosed(const std::string& reason);
    // Stops a run that is going (user cancel, SIGINT): it fails with reason. A run that has not
    // started fails too, with line 0; a finished one stays as it is.
    void Cancel(const std::string& reason);

    const RunOutcome& Outcome() const { return m_outcome; }
    bool Running() const { return m_started && !m_outcome.Finished; }

private:
    void Continue();
    void Step(const ScriptCommand& command);
    void Fail(std::size_t index, std::string reason);
    void Pass();
    void Finish();
    void StartTimer(int ms);
    std::string Expand(const ScriptText& text) const;

    const Script& m_script;
    std::map<std::string, std::string> m_values;
    std::string m_enter;
    ScriptSink& m_sink;
    ExpectMatcher m_matcher;
    std::size_t m_next = 0;
    bool m_started = false;
    bool m_waiting = false;  // for the expect or wait at m_next
    bool m_timerRunning = false;
    bool m_stepping = false;  // Continue's loop is on the stack
    std::string m_expectedText;
    std::vector<std::size_t> m_failCommands;  // the command of each fail-if text
    std::vector<std::string> m_failTexts;
    RunOutcome m_outcome;
};

}  // namespace vandrel::script
