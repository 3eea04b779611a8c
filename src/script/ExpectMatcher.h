#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vandrel::script {

// Watches received bytes for an expected text and for fail-if texts, across any split of
// the bytes into reads. The expected text matches in the bytes received after the previous
// expect's match (or since the start) and in what arrives later; fail-if texts match in what
// arrives after they were added. Every byte is looked at once per text, however long the
// output, and the kept bytes are bounded.
class ExpectMatcher {
public:
    static constexpr std::size_t kWindowBytes = 64 * 1024;

    // Starts looking for text: in the bytes kept since the previous match (so that output that
    // came early, e.g. during a wait, counts), then in what arrives. True when it is already
    // there (an empty text always is); the window then keeps only the bytes after the match.
    bool Expect(std::string text);
    // No expect is waiting.
    void StopExpecting();
    // From now on, text in the output fails the run. An empty text never matches.
    void AddFailText(std::string text);

    struct Result {
        bool Matched = false;  // the expected text arrived
        int FailIndex = -1;    // index of the fail-if text that arrived, -1 when none
    };
    // Feeds received bytes. A fail-if text that completes in these bytes is reported even when
    // the expected text matched in the same call; of several, the one that completed first.
    Result Feed(const char* data, std::size_t n);

    // The bytes received since the previous match (bounded to the last 64 KiB), for reports.
    const std::string& Window() const;

private:
    // A text looked for across reads: how much of it the bytes so far end with, and for each
    // such length the next shorter one to fall back to on a mismatch.
    struct Search {
        std::string Text;
        std::vector<std::size_t> Fallback;
        std::size_t Matched = 0;

        void Reset(std::string text);
        // The count of bytes up to the end of the first match in data, npos when none.
        std::size_t Find(const char* data, std::size_t n);
    };

    Search m_expected;
    bool m_expecting = false;
    // Trimmed lazily (Window() may trim) so that many small reads cost no repeated copies.
    mutable std::string m_window;
    std::vector<Search> m_failTexts;
};

}  // namespace vandrel::script
