#include "script/ScriptRun.h"

namespace vandrel::script {

namespace {

// 10000 -> "10", 500 -> "0.5", 2250 -> "2.25"
std::string secondsText(int ms) {
    std::string text = std::to_string(ms / 1000);
    if (const int rest = ms % 1000; rest != 0) {
        std::string fraction = std::to_string(1000 + rest).substr(1);
        while (fraction.back() == '0') {
            fraction.pop_back();
        }
        text += "." + fraction;
    }
    return text;
}

}  // namespace

ScriptRun::ScriptRun(const Script& script, std::map<std::string, std::string> values,
                     std::string enter, ScriptSink& sink)
    : m_script(script), m_values(std::move(values)), m_enter(std::move(enter)), m_sink(sink) {}

void ScriptRun::Start() {
    if (m_started || m_outcome.Finished) {
        return;
    }
    m_started = true;
    Continue();
}

void ScriptRun::Received(const char* data, std::size_t n) {
    if (m_outcome.Finished) {
        return;
    }
    const ExpectMatcher::Result result = m_matcher.Feed(data, n);
    if (result.FailIndex >= 0) {
        const auto index = static_cast<std::size_t>(result.FailIndex);
        Fail(m_failCommands[index], "\"" + EscapeText(m_failTexts[index]) + "\" appeared");
    } else if (result.Matched && m_waiting) {
        m_waiting = false;
        if (m_timerRunning) {
            m_timerRunning = false;
            m_sink.CancelTimer();
        }
        ++m_next;
        Continue();
    }
}

void ScriptRun::TimerFired() {
    if (!Running() || !m_waiting || !m_timerRunning) {
        return;
    }
    m_timerRunning = false;
    m_waiting = false;
    if (m_script.Commands[m_next].Kind == CommandKind::Expect) {
        Fail(m_next, "expected \"" + EscapeText(m_expectedText) + "\" did not arrive within " +
                         secondsText(m_script.Commands[m_next].Milliseconds) + " s");
        return;
    }
    ++m_next;
    Continue();
}

void ScriptRun::SessionClosed(const std::string& reason) {
    Fail(m_next, reason);
}

void ScriptRun::Cancel(const std::string& reason) {
    Fail(m_next, reason);
}

// One loop runs the commands; a call that arrives from inside a sink call while it runs
// (a synchronous answer, a timer fired at once) only changes the state and lets the loop go
// on, so the stack never grows with the script.
void ScriptRun::Continue() {
    if (m_stepping) {
        return;
    }
    m_stepping = true;
    while (!m_outcome.Finished && !m_waiting) {
        if (m_next >= m_script.Commands.size()) {
            Pass();
            break;
        }
        Step(m_script.Commands[m_next]);
    }
    m_stepping = false;
}

void ScriptRun::Step(const ScriptCommand& command) {
    m_sink.Progress(m_next, m_script.Commands.size());
    if (m_outcome.Finished) {
        return;
    }
    switch (command.Kind) {
        case CommandKind::Send:
        case CommandKind::SendLine: {
            std::string bytes = Expand(command.Text);
            if (command.Kind == CommandKind::SendLine) {
                bytes += m_enter;
            }
            ++m_next;
            m_sink.SendBytes(bytes);
            break;
        }
        case CommandKind::Expect:
            m_expectedText = Expand(command.Text);
            if (m_matcher.Expect(m_expectedText)) {
                ++m_next;
            } else {
                m_waiting = true;
                StartTimer(command.Milliseconds);
            }
            break;
        case CommandKind::FailIf:
            m_failCommands.push_back(m_next);
            m_failTexts.push_back(Expand(command.Text));
            m_matcher.AddFailText(m_failTexts.back());
            ++m_next;
            break;
        case CommandKind::Wait:
            m_waiting = true;
            StartTimer(command.Milliseconds);
            break;
        case CommandKind::LogOn:
        case CommandKind::LogOff:
            ++m_next;
            m_sink.SetLogging(command.Kind == CommandKind::LogOn);
            break;
        case CommandKind::Close:
            m_outcome.Finished = true;
            m_outcome.Passed = true;
            m_waiting = false;
            m_sink.CloseSession();
            Finish();
            break;
    }
}

void ScriptRun::StartTimer(int ms) {
    m_timerRunning = true;
    m_sink.StartTimer(ms);
}

void ScriptRun::Fail(std::size_t index, std::string reason) {
    if (m_outcome.Finished) {
        return;
    }
    m_outcome.Finished = true;
    m_outcome.Passed = false;
    if (m_started && index < m_script.Commands.size()) {
        m_outcome.Line = m_script.Commands[index].Line;
        m_outcome.Command = m_script.Commands[index].Source;
    }
    m_outcome.Reason = std::move(reason);
    Finish();
}

void ScriptRun::Pass() {
    m_outcome.Finished = true;
    m_outcome.Passed = true;
    Finish();
}

void ScriptRun::Finish() {
    m_waiting = false;
    m_matcher.StopExpecting();
    if (m_timerRunning) {
        m_timerRunning = false;
        m_sink.CancelTimer();
    }
    m_sink.Finished();
}

std::string ScriptRun::Expand(const ScriptText& text) const {
    return ExpandText(text, [this](const std::string& name) {
        const auto found = m_values.find(name);
        return found == m_values.end() ? std::string() : found->second;
    });
}

}  // namespace vandrel::script
