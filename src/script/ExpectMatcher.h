#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vandrel::script {

// Watches received bytes for an expected text and for fail-if texts, across any split of
// the bytes into reads. The expected text matches only in bytes received since the previous
// expect (Expect resets that window); fail-if texts match anywhere from their line on.
class ExpectMatcher {
public:
    // Starts looking for text in what arrives from now on.
    void Expect(std::string text);
    // No expect is waiting.
    void StopExpecting();
    // From now on, text in the output fails the run.
    void AddFailText(std::string text);

    struct Result {
        bool Matched = false;    // the expected text arrived
        int FailIndex = -1;      // index of the fail-if text that arrived, -1 when none
    };
    // Feeds received bytes. A fail-if text that completes in these bytes is reported even when
    // the expected text matched in the same call.
    Result Feed(const char* data, std::size_t n);

    // The bytes received since the last Expect (bounded to the last 64 KiB), for reports.
    const std::string& Window() const { return m_window; }

private:
    std::string m_expected;
    bool m_expecting = false;
    std::string m_window;
    std::vector<std::string> m_failTexts;
    std::string m_failTail;  // the last bytes, long enough to finish any fail-if text
};

}  // namespace vandrel::script
