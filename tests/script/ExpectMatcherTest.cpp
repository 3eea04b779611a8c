#include <gtest/gtest.h>

#include "script/ExpectMatcher.h"

using namespace vandrel::script;

namespace {

struct SplitCase {
    std::string text;
    std::string output;  // holds text once; the match ends where text ends
};

const SplitCase kSplitCases[] = {
    {"login:", "Welcome\r\nlogin: "}, {"aab", "xaaab"}, {"abab", "abaabab!"}, {"#", "# "},
    {"\r\n> ", "ok\r\r\n> "},
};

// Feeds output in reads cut at the given points; returns at which read each kind of match was
// reported (-1 when never).
std::pair<int, int> feedInReads(ExpectMatcher& matcher, const std::string& output,
                                const std::vector<std::size_t>& cuts) {
    int matchedAt = -1;
    int failedAt = -1;
    std::size_t from = 0;
    for (std::size_t read = 0; read <= cuts.size(); ++read) {
        const std::size_t to = read < cuts.size() ? cuts[read] : output.size();
        const ExpectMatcher::Result result = matcher.Feed(output.data() + from, to - from);
        if (result.Matched && matchedAt < 0) {
            matchedAt = static_cast<int>(read);
        }
        if (result.FailIndex == 0 && failedAt < 0) {
            failedAt = static_cast<int>(read);
        }
        from = to;
    }
    return {matchedAt, failedAt};
}

TEST(ExpectMatcher, MatchesAcrossEverySplitOfTheReads) {
    for (const SplitCase& c : kSplitCases) {
        const std::size_t end = c.output.find(c.text) + c.text.size();
        for (std::size_t first = 0; first <= c.output.size(); ++first) {
            for (std::size_t second = first; second <= c.output.size(); ++second) {
                SCOPED_TRACE(c.text + " cut at " + std::to_string(first) + "," +
                             std::to_string(second));
                ExpectMatcher matcher;
                EXPECT_FALSE(matcher.Expect(c.text));
                matcher.AddFailText(c.text);
                const int read = end <= first ? 0 : end <= second ? 1 : 2;
                EXPECT_EQ(feedInReads(matcher, c.output, {first, second}),
                          std::make_pair(read, read));
            }
        }
        ExpectMatcher bytewise;
        bytewise.Expect(c.text);
        std::vector<std::size_t> cuts;
        for (std::size_t i = 1; i < c.output.size(); ++i) {
            cuts.push_back(i);
        }
        const int last = static_cast<int>(end) - 1;
        EXPECT_EQ(feedInReads(bytewise, c.output, cuts).first, last) << c.text;
    }
}

TEST(ExpectMatcher, KeepsWhatFollowsAMatchForTheNextExpect) {
    ExpectMatcher matcher;
    EXPECT_TRUE(matcher.Expect(""));
    matcher.Feed("login: x Password:", 18);  // nothing expected yet: kept
    EXPECT_TRUE(matcher.Expect("login:"));
    EXPECT_EQ(matcher.Window(), " x Password:");
    EXPECT_TRUE(matcher.Expect("Password:"));
    EXPECT_FALSE(matcher.Expect("login:"));  // consumed by the earlier match
    EXPECT_FALSE(matcher.Feed("lo", 2).Matched);
    EXPECT_TRUE(matcher.Feed("gin:", 4).Matched);
}

TEST(ExpectMatcher, FailTextsSeeOnlyLaterBytesAndTheFirstToComplete) {
    ExpectMatcher matcher;
    matcher.Feed("Error", 5);
    matcher.AddFailText("Error");
    matcher.AddFailText("bad");
    matcher.AddFailText("");
    EXPECT_EQ(matcher.Feed("or", 2).FailIndex, -1);
    EXPECT_EQ(matcher.Feed("a bad Error", 11).FailIndex, 1);
    matcher.Expect("ok");
    const ExpectMatcher::Result both = matcher.Feed("ok Error", 8);
    EXPECT_TRUE(both.Matched);
    EXPECT_EQ(both.FailIndex, 0);
}

TEST(ExpectMatcher, BoundsTheWindowToTheLatestBytes) {
    ExpectMatcher matcher;
    matcher.Expect("never");
    const std::string chunk(1000, 'a');
    for (int i = 0; i < 300; ++i) {
        matcher.Feed(chunk.data(), chunk.size());
    }
    matcher.Feed("tail", 4);
    EXPECT_EQ(matcher.Window().size(), ExpectMatcher::kWindowBytes);
    EXPECT_TRUE(matcher.Window().ends_with("aatail"));
}

}  // namespace
