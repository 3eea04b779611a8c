#include "script/ExpectMatcher.h"

namespace vandrel::script {

namespace {

constexpr std::size_t kNone = std::string::npos;

}  // namespace

void ExpectMatcher::Search::Reset(std::string text) {
    Text = std::move(text);
    Matched = 0;
    Fallback.assign(Text.size() + 1, 0);
    std::size_t border = 0;
    for (std::size_t i = 1; i < Text.size(); ++i) {
        while (border > 0 && Text[i] != Text[border]) {
            border = Fallback[border];
        }
        if (Text[i] == Text[border]) {
            ++border;
        }
        Fallback[i + 1] = border;
    }
}

std::size_t ExpectMatcher::Search::Find(const char* data, std::size_t n) {
    if (Text.empty()) {
        return kNone;
    }
    for (std::size_t i = 0; i < n; ++i) {
        while (Matched > 0 && data[i] != Text[Matched]) {
            Matched = Fallback[Matched];
        }
        if (data[i] == Text[Matched]) {
            ++Matched;
        }
        if (Matched == Text.size()) {
            Matched = Fallback[Matched];
            return i + 1;
        }
    }
    return kNone;
}

bool ExpectMatcher::Expect(std::string text) {
    m_expecting = !text.empty();
    if (!m_expecting) {
        return true;
    }
    m_expected.Reset(std::move(text));
    const std::string& kept = Window();
    const std::size_t end = m_expected.Find(kept.data(), kept.size());
    if (end == kNone) {
        return false;
    }
    m_window.erase(0, end);
    m_expecting = false;
    return true;
}

void ExpectMatcher::StopExpecting() {
    m_expecting = false;
}

void ExpectMatcher::AddFailText(std::string text) {
    m_failTexts.emplace_back();
    m_failTexts.back().Reset(std::move(text));
}

ExpectMatcher::Result ExpectMatcher::Feed(const char* data, std::size_t n) {
    Result result;
    std::size_t firstFailEnd = kNone;
    for (std::size_t i = 0; i < m_failTexts.size(); ++i) {
        // Scan every byte so that the search's state stays right for the next read.
        for (std::size_t pos = 0; pos < n;) {
            const std::size_t end = m_failTexts[i].Find(data + pos, n - pos);
            if (end == kNone) {
                break;
            }
            if (firstFailEnd == kNone || pos + end < firstFailEnd) {
                firstFailEnd = pos + end;
                result.FailIndex = static_cast<int>(i);
            }
            pos += end;
        }
    }

    const std::size_t before = m_window.size();
    m_window.append(data, n);
    if (m_expecting) {
        const std::size_t end = m_expected.Find(data, n);
        if (end != kNone) {
            m_window.erase(0, before + end);
            m_expecting = false;
            result.Matched = true;
        }
    }
    if (m_window.size() > 2 * kWindowBytes) {
        Window();
    }
    return result;
}

const std::string& ExpectMatcher::Window() const {
    if (m_window.size() > kWindowBytes) {
        m_window.erase(0, m_window.size() - kWindowBytes);
    }
    return m_window;
}

}  // namespace vandrel::script
