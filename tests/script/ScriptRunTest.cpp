#include <gtest/gtest.h>

#include <functional>

#include "script/ScriptRun.h"

using namespace vandrel::script;

namespace {

// Records every call as a short word; a call after Finished is recorded as an error.
class FakeSink : public ScriptSink {
public:
    void SendBytes(const std::string& bytes) override {
        note("send " + EscapeText(bytes));
        if (onSend) {
            onSend(bytes);
        }
    }
    void SetLogging(bool on) override { note(on ? "log on" : "log off"); }
    void CloseSession() override {
        note("close");
        if (onClose) {
            onClose();
        }
    }
    void StartTimer(int ms) override {
        note("timer " + std::to_string(ms));
        if (onTimer) {
            onTimer(ms);
        }
    }
    void CancelTimer() override { note("cancel"); }
    void Progress(std::size_t index, std::size_t count) override {
        note(std::to_string(index) + "/" + std::to_string(count));
    }
    void Finished() override { note("finished"); }

    void note(const std::string& call) {
        calls.push_back(finished ? "after finished: " + call : call);
        finished = finished || call == "finished";
    }

    std::vector<std::string> calls;
    bool finished = false;
    std::function<void(const std::string&)> onSend;
    std::function<void()> onClose;
    std::function<void(int)> onTimer;
};

Script parsed(std::string_view text) {
    return std::get<Script>(ParseScript(text));
}

using Calls = std::vector<std::string>;

TEST(ScriptRun, SendsExpectsLogsAndCloses) {
    const Script script =
        parsed("log on\nsendline \"{User}\"\nexpect \"ok\" timeout 2\nwait 0.5\nclose");
    FakeSink sink;
    ScriptRun run(script, {{"User", "admin"}}, "\r\n", sink);
    sink.onClose = [&] { run.SessionClosed("the device closed the session"); };
    run.Start();
    run.Received("o", 1);
    run.Received("k", 1);
    run.TimerFired();
    EXPECT_EQ(sink.calls, (Calls{"0/5", "log on", "1/5", "send admin\\r\\n", "2/5", "timer 2000",
                                 "cancel", "3/5", "timer 500", "4/5", "close", "finished"}));
    EXPECT_TRUE(run.Outcome().Passed);
    EXPECT_FALSE(run.Running());
}

TEST(ScriptRun, FailsWithTheLineAndReason) {
    struct Case {
        const char* script;
        std::function<void(ScriptRun&)> events;
        int line;
        std::string reason;
        Calls lastCalls;  // a running timer is cancelled before Finished
    };
    const Case cases[] = {
        {"send \"x\"\n\nexpect \"ok\\r\\n\" timeout 0.5",
         [](ScriptRun& run) { run.TimerFired(); },
         3,
         "expected \"ok\\r\\n\" did not arrive within 0.5 s",
         {"timer 500", "finished"}},
        {"fail-if \"Error\"\nexpect \"done\"",
         [](ScriptRun& run) {
             run.Received("Err", 3);
             run.Received("or", 2);
         },
         1,
         "\"Error\" appeared",
         {"cancel", "finished"}},
        {"wait 3\nclose",
         [](ScriptRun& run) { run.SessionClosed("the device closed the session"); },
         1,
         "the device closed the session",
         {"cancel", "finished"}},
        {"send \"a\"\nexpect \"#\"",
         [](ScriptRun& run) { run.Cancel("cancelled"); },
         2,
         "cancelled",
         {"cancel", "finished"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        const Script script = parsed(c.script);
        FakeSink sink;
        ScriptRun run(script, {}, "\r", sink);
        run.Start();
        c.events(run);
        run.TimerFired();  // late events change nothing
        run.Received("Error", 5);
        run.Cancel("late");
        EXPECT_EQ(run.Outcome().Line, c.line);
        EXPECT_EQ(run.Outcome().Reason, c.reason);
        EXPECT_FALSE(run.Outcome().Passed);
        EXPECT_EQ(Calls(sink.calls.end() - 2, sink.calls.end()), c.lastCalls);
    }
}

TEST(ScriptRun, CancelBeforeStartFailsAtLineZero) {
    const Script script = parsed("close");
    FakeSink sink;
    ScriptRun run(script, {}, "\r", sink);
    run.Cancel("stopped");
    run.Start();
    EXPECT_EQ(sink.calls, Calls{"finished"});
    EXPECT_EQ(run.Outcome().Line, 0);
    EXPECT_EQ(run.Outcome().Reason, "stopped");
}

// A sink that answers every line at once and fires zero timers at once: the run goes on in
// one loop, however long the script.
TEST(ScriptRun, SynchronousSinkRunsWithoutDeepening) {
    const Script round = parsed("sendline \"x\"\nexpect \"x ok\"\nwait 0");
    Script script = parsed("fail-if \"bad\"");
    for (int i = 0; i < 100000; ++i) {
        script.Commands.insert(script.Commands.end(), round.Commands.begin(),
                               round.Commands.end());
    }
    FakeSink sink;
    ScriptRun run(script, {}, "\n", sink);
    int answers = 0;
    sink.onSend = [&](const std::string&) {
        ++answers;
        run.Received("x ok\n", 5);
    };
    sink.onTimer = [&](int ms) {
        if (ms == 0) {
            run.TimerFired();
        }
    };
    run.Start();
    EXPECT_TRUE(run.Outcome().Passed);
    EXPECT_EQ(answers, 100000);
    EXPECT_EQ(sink.calls.back(), "finished");
}

}  // namespace
