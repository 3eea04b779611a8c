// Line mode's splitter without sockets: a scripted owner stands in for the
// socket and its data hook.
#include "net/LineSplitter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

using vandrel::net::LineSplitter;
using Outcome = LineSplitter::Outcome;
using Lines = std::vector<std::string>;

namespace {

// The socket and its owner, in line mode: every delivery runs onData (by
// default: take the whole line, or everything buffered when line mode is off).
struct Owner : LineSplitter::Client {
    LineSplitter lines;
    Lines taken;
    std::string echoed;
    bool handler = true;
    int pendingAtDelivery = -1;
    int laterRequests = 0;
    std::vector<int> limitReports;
    bool clearOnLimit = true;
    std::function<void(Owner&)> onData;
    std::function<void(Owner&)> onLimit;

    explicit Owner(const std::string& lineEnd = "\r\n") {
        lines.SetLineEnd(lineEnd);
        lines.SetLineMode(true);
    }
    void receive(const std::string& bytes) {
        std::memcpy(lines.Reserve(static_cast<int>(bytes.size())), bytes.data(), bytes.size());
        lines.Received(static_cast<int>(bytes.size()), *this);
    }
    void receiveAll(const std::vector<std::string>& reads) {
        for (const auto& r : reads) {
            receive(r);
        }
    }
    std::string take(int size) {
        std::string out(static_cast<std::size_t>(std::max(size, 0)), '\0');
        out.resize(static_cast<std::size_t>(std::max(lines.Read(out.data(), size), 0)));
        return out;
    }
    std::string buffered() {
        const bool wasOn = lines.LineMode();
        lines.SetLineMode(false);
        std::string rest = take(1 << 20);
        lines.SetLineMode(wasOn);
        return rest;
    }

    Outcome Deliver() override {
        if (!handler) {
            return Outcome::NoHandler;
        }
        pendingAtDelivery = lines.PendingCount();
        if (onData) {
            onData(*this);
        } else {
            taken.push_back(take(1 << 20));
        }
        return Outcome::Done;
    }
    Outcome Echo(const std::uint8_t* data, int len) override {
        echoed.append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(len));
        return Outcome::Done;
    }
    Outcome ApplyLineEdit(int& newCount) override {
        lines.EditNewBytes(newCount, echoed);
        return Outcome::Done;
    }
    Outcome LineLimitExceeded(int rcvdLength, bool& clearData) override {
        limitReports.push_back(rcvdLength);
        clearData = clearOnLimit;
        if (onLimit) {
            onLimit(*this);
        }
        return Outcome::Done;
    }
    void DeliverLater() override { ++laterRequests; }
};

TEST(LineSplitter, CutsLinesAcrossReads) {
    struct Case {
        const char* name;
        std::string lineEnd;
        std::vector<std::string> reads;
        Lines lines;
        std::string rest;
        bool handler = true;
    };
    const std::vector<Case> cases = {
        {"two lines in one read", "\r\n", {"ab\r\ncd\r\n"}, {"ab\r\n", "cd\r\n"}, ""},
        {"line end split over reads", "\r\n", {"ab\r", "\ncd"}, {"ab\r\n"}, "cd"},
        {"long line end split three ways", "END", {"xxE", "N", "Dyy"}, {"xxEND"}, "yy"},
        {"empty lines", "\r\n", {"\r\n\r\n"}, {"\r\n", "\r\n"}, ""},
        {"one-byte line end", "\n", {"a\nb", "", "c\n"}, {"a\n", "bc\n"}, ""},
        {"compared case-sensitively", "end", {"END x end"}, {"END x end"}, ""},
        {"no line end yet", "\r\n", {"abc", "def\r"}, {}, "abcdef\r"},
        {"line end spread byte by byte", "\r\n", {"a", "\r", "\n", "b"}, {"a\r\n"}, "b"},
        {"no handler drops lines, keeps the partial one",
         "\r\n",
         {"ab\r\ncd\r\nef"},
         {},
         "ef",
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Owner o(c.lineEnd);
        o.handler = c.handler;
        o.receiveAll(c.reads);
        EXPECT_EQ(o.taken, c.lines);
        EXPECT_EQ(o.buffered(), c.rest);
    }
}

TEST(LineSplitter, PendingCountAndPiecewiseReads) {
    Owner o;
    std::vector<int> pending;
    o.onData = [&](Owner& self) {
        pending.push_back(self.pendingAtDelivery);
        self.taken.push_back(self.take(2));
    };
    o.receive("ab\r\ncd\r\n");
    EXPECT_EQ(o.taken, (Lines{"ab", "\r\n", "cd", "\r\n"}));
    EXPECT_EQ(pending, (std::vector<int>{4, 2, 4, 2}));
    EXPECT_EQ(o.lines.PendingCount(), 0);
    EXPECT_EQ(o.lines.Read(nullptr, 10), -1);  // nothing buffered: the layer below reads

    o.lines.SetLineMode(false);
    EXPECT_EQ(o.lines.PendingCount(), -1);
    o.lines.SetLineEnd("");
    o.lines.SetLineMode(true);
    EXPECT_FALSE(o.lines.Active());  // an empty line end acts as line mode off
}

TEST(LineSplitter, LineLimit) {
    struct Case {
        int limit;
        bool clear;
        std::vector<int> reports;
        std::string rest;
    };
    const std::vector<Case> cases = {
        {4, true, {6}, "gh"},            // cleared at 6, then 2 bytes are under the limit
        {4, false, {6, 8}, "abcdefgh"},  // kept: the event fires again on the next read
        {0, true, {}, "abcdefgh"},       // no limit
        {8, true, {}, "abcdefgh"},       // exactly at the limit is accepted
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.limit);
        Owner o;
        o.lines.SetLineLimit(c.limit);
        o.clearOnLimit = c.clear;
        o.receiveAll({"abcdef", "gh"});
        EXPECT_EQ(o.limitReports, c.reports);
        EXPECT_EQ(o.buffered(), c.rest);
    }
}

TEST(LineSplitter, LineEditAndEcho) {
    struct Case {
        const char* name;
        bool edit;
        bool echo;
        std::vector<std::string> reads;
        Lines lines;
        std::string echoed;
    };
    const std::vector<Case> cases = {
        {"backspace", true, false, {"abc\bd\r\n"}, {"abd\r\n"}, ""},
        {"backspace echoed", true, true, {"abc\bd\r\n"}, {"abd\r\n"}, "abc\b \bd\r\n"},
        {"tab to the next stop", true, false, {"a\tb\r\n"}, {"a       b\r\n"}, ""},
        {"tab echoed as spaces", true, true, {"a\tb\r\n"}, {"a       b\r\n"}, "a       b\r\n"},
        {"tab on a stop", true, false, {"12345678\tx\r\n"}, {"12345678        x\r\n"}, ""},
        {"backspace at the start", true, true, {"\bab\r\n"}, {"ab\r\n"}, "ab\r\n"},
        {"backspace into earlier", true, true, {"ab", "\b\bc\r\n"}, {"c\r\n"}, "ab\b \b\b \bc\r\n"},
        {"an edit makes the line end", true, false, {"a\rX", "\b\nb"}, {"a\r\n"}, ""},
        {"echo without edit", false, true, {"a\bb\r\n"}, {"a\bb\r\n"}, "a\bb\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Owner o;
        o.lines.SetLineEdit(c.edit);
        o.lines.SetLineEcho(c.echo);
        o.receiveAll(c.reads);
        EXPECT_EQ(o.taken, c.lines);
        EXPECT_EQ(o.echoed, c.echoed);
    }
}

TEST(LineSplitter, SwitchingLineModeOff) {
    // Inside the hook before the line is taken: the whole rest goes out raw in the same event.
    Owner inside;
    inside.onData = [](Owner& self) {
        if (self.lines.LineMode()) {
            self.taken.push_back(self.lines.SetLineMode(false) ? "off, bytes wait" : "off");
            return;
        }
        self.taken.push_back(self.take(3));
    };
    inside.receive("ab\r\ncd\r\nef");
    EXPECT_EQ(inside.taken, (Lines{"off, bytes wait", "ab\r", "\ncd", "\r\ne", "f"}));

    // Outside an event: the owner is told that bytes wait.
    Owner outside;
    outside.receive("ab\r\ncd");
    EXPECT_TRUE(outside.lines.SetLineMode(false));
    EXPECT_EQ(outside.take(100), "cd");
    EXPECT_FALSE(outside.lines.SetLineMode(true));  // nothing waits any more
}

TEST(LineSplitter, LastLineAtClose) {
    for (const bool handler : {true, false}) {  // without a handler the line is dropped
        SCOPED_TRACE(handler);
        Owner o;
        o.handler = handler;
        o.receive("abc");
        for (int close = 0; close < 2; ++close) {  // a second close finds nothing
            o.lines.SessionClosed(o);
            EXPECT_EQ(o.taken, handler ? Lines{"abc"} : Lines{});
            EXPECT_FALSE(o.lines.Exists());
            EXPECT_EQ(o.lines.BufferedCount(), 0);
        }
    }

    // Closed inside the limit hook that is clearing the data: nothing is delivered.
    Owner inLimit;
    inLimit.lines.SetLineLimit(2);
    inLimit.onLimit = [](Owner& self) { self.lines.SessionClosed(self); };
    inLimit.receive("abc");
    EXPECT_EQ(inLimit.taken, Lines{});
    EXPECT_FALSE(inLimit.lines.Exists());

    // Closed by the hook while it reads: the rest comes once, as one last line.
    Owner reading;
    reading.onData = [](Owner& self) {
        self.taken.push_back(self.take(1));
        if (self.taken.size() == 1) {
            self.lines.SessionClosed(self);
        }
    };
    reading.receive("ab\r\ncd\r\n");
    EXPECT_EQ(reading.taken, (Lines{"a", "b", "\r", "\n", "c", "d", "\r", "\n"}));
    EXPECT_FALSE(reading.lines.Exists());
}

TEST(LineSplitter, HookThatNeverReadsIsLeftForLater) {
    Owner o;
    int offers = 0;
    o.onData = [&](Owner&) { ++offers; };
    o.receive("ab\r\ncd\r\n");
    EXPECT_EQ(offers, LineSplitter::kMaxIdleOffers);
    EXPECT_EQ(o.laterRequests, 1);

    o.onData = nullptr;  // reads again: the kept line comes first, then the next
    o.lines.Received(0, o);
    EXPECT_EQ(o.taken, (Lines{"ab\r\n", "cd\r\n"}));
}

TEST(LineSplitter, HookThatDestroysTheSocketEndsTheEvent) {
    // The socket, with its splitter, is gone after the first offer; AddressSanitizer
    // catches a touch after the delete.
    struct Doomed : Owner {
        LineSplitter* doomed = new LineSplitter;
        int offers = 0;
        Outcome Deliver() override {
            ++offers;
            delete std::exchange(doomed, nullptr);
            return Outcome::Gone;
        }
    } d;
    LineSplitter* s = d.doomed;
    s->SetLineMode(true);
    std::memcpy(s->Reserve(8), "ab\r\ncd\r\n", 8);
    s->Received(8, d);
    EXPECT_EQ(d.offers, 1);
}

// Random line lengths, read sizes and piece sizes taken by the hook: the same lines come out.
TEST(LineSplitter, RandomStreamArrivesAsTheSameLines) {
    std::mt19937 rng(1234);
    std::uniform_int_distribution<int> lineLength(0, 300), byte(0, 255), piece(1, 100),
        readSize(1, 4000);
    Lines sent;
    std::string stream;
    while (stream.size() < (2u << 20)) {
        std::string line(static_cast<std::size_t>(lineLength(rng)), 'x');
        for (auto& ch : line) {
            ch = static_cast<char>(byte(rng));
            ch = ch == '\r' ? 'r' : ch;
        }
        sent.push_back(line + "\r\n");
        stream += sent.back();
    }
    Owner o;
    std::string current;
    o.onData = [&](Owner& self) {
        current += self.take(piece(rng));
        if (self.lines.PendingCount() == 0) {
            self.taken.push_back(std::exchange(current, {}));
        }
    };
    for (std::size_t pos = 0; pos < stream.size();) {
        const auto n = std::min<std::size_t>(stream.size() - pos, readSize(rng));
        o.receive(stream.substr(pos, n));
        pos += n;
    }
    EXPECT_EQ(o.taken.size(), sent.size());
    EXPECT_TRUE(o.taken == sent);
}

}  // namespace
