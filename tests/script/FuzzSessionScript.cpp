// libFuzzer entry: the same bytes as a session script and as a variables file. A script that
// parses is also run against the bytes as the device's output, with every timer firing at
// once; the run must finish exactly once and call nothing after that.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "script/ScriptRun.h"
#include "script/ScriptVariables.h"

using namespace vandrel::script;

namespace {

class FuzzSink : public ScriptSink {
public:
    void SendBytes(const std::string&) override { check(); }
    void SetLogging(bool) override { check(); }
    void CloseSession() override { check(); }
    void StartTimer(int) override {
        check();
        timerRunning = true;
    }
    void CancelTimer() override {
        check();
        timerRunning = false;
    }
    void Finished() override {
        check();
        finished = true;
    }
    void check() const {
        if (finished) {
            std::abort();
        }
    }

    bool timerRunning = false;
    bool finished = false;
};

void runScript(const Script& script, std::string_view output) {
    FuzzSink sink;
    ScriptRun run(script, {{"Device", "d"}, {"S/N", "{S/N}"}}, "\r\n", sink);
    run.Start();
    for (std::size_t pos = 0; run.Running();) {
        const std::size_t n = std::min<std::size_t>(7, output.size() - pos);
        run.Received(output.data() + pos, n);
        pos += n;
        if (sink.timerRunning) {
            sink.timerRunning = false;
            run.TimerFired();
        } else if (pos >= output.size() && run.Running()) {
            run.Cancel("end of output");
        }
    }
    if (!sink.finished || sink.timerRunning) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto parsed = ParseScript(text);
    if (const auto* error = std::get_if<ScriptError>(&parsed)) {
        if (error->Line < 1 || error->Column < 1) {
            std::abort();
        }
    } else {
        const Script& script = std::get<Script>(parsed);
        if (!std::is_sorted(script.VariableNames.begin(), script.VariableNames.end()) ||
            std::adjacent_find(script.VariableNames.begin(), script.VariableNames.end()) !=
                script.VariableNames.end()) {
            std::abort();
        }
        runScript(script, text);
    }

    std::string error;
    if (const auto table = VariablesTable::Parse(text, error)) {
        const DeviceIdentity device{"d", "VS-000123", "198.18.0.11", "00-1a-2b-3c-4d-5e"};
        const auto values = table->RowFor(device, error);
        if (values ? values->size() < 4 : error.empty()) {
            std::abort();
        }
    } else if (error.empty()) {
        std::abort();
    }
    return 0;
}
