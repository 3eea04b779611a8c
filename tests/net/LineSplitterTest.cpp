// Line mode's splitter without sockets: a scripted owner stands in for the
// socket and its data hook.
#include "net/LineSplitter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

using vandrel::net::LineSplitter;
using Outcome = LineSplitter::Outcome;
using Lines = std::vector<std::string>;

namespace {

// The socket and its owner: every delivery runs onData (by default: take the
// whole line, or everything buffered when line mode is off).
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

    void receive(const std::string& bytes) {
        std::uint8_t* room = lines.Reserve(static_cast<int>(bytes.size()));
        std::memcpy(room, bytes.data(), bytes.size());
        lines.Received(static_cast<int>(bytes.size()), *this);
    }
    std::string take(int size) {
        std::string out(static_cast<std::size_t>(std::max(size, 0)), '\0');
        const int n = lines.Read(out.data(), size);
        out.resize(static_cast<std::size_t>(std::max(n, 0)));
        return out;
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

    std::string buffered() {
        const bool wasOn = lines.LineMode();
        lines.SetLineMode(false);
        std::string rest = take(1 << 20);
        lines.SetLineMode(wasOn);
        return rest;
    }
};

void lineModeOn(Owner& o, const std::string& lineEnd = "\r\n") {
    o.lines.SetLineEnd(lineEnd);
    o.lines.SetLineMode(true);
}

struct CutCase {
    const char* name;
    std::string lineEnd;
    std::vector<std::string> reads;
    Lines lines;
    std::string rest;
};

TEST(LineSplitter, CutsLinesAcrossReads) {
    const std::vector<CutCase> cases = {
        {"two lines in one read", "\r\n", {"ab\r\ncd\r\n"}, {"ab\r\n", "cd\r\n"}, ""},
        {"line end split over reads", "\r\n", {"ab\r", "\ncd"}, {"ab\r\n"}, "cd"},
        {"long line end split three ways", "END", {"xxE", "N", "Dyy"}, {"xxEND"}, "yy"},
        {"empty lines", "\r\n", {"\r\n\r\n"}, {"\r\n", "\r\n"}, ""},
        {"one-byte line end", "\n", {"a\nb", "", "c\n"}, {"a\n", "bc\n"}, ""},
        {"compared case-sensitively", "end", {"END x end"}, {"END x end"}, ""},
        {"no line end yet", "\r\n", {"abc", "def\r"}, {}, "abcdef\r"},
        {"line end spread byte by byte", "\r\n", {"a", "\r", "\n", "b"}, {"a\r\n"}, "b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Owner o;
        lineModeOn(o, c.lineEnd);
        for (const auto& r : c.reads) {
            o.receive(r);
        }
        EXPECT_EQ(o.taken, c.lines);
        EXPECT_EQ(o.buffered(), c.rest);
    }
}

TEST(LineSplitter, PendingCountAndPiecewiseReads) {
    Owner o;
    lineModeOn(o);
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
        lineModeOn(o);
        o.lines.SetLineLimit(c.limit);
        o.clearOnLimit = c.clear;
        o.receive("abcdef");
        o.receive("gh");
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
        {"backspace into earlier bytes",
         true,
         true,
         {"ab", "\b\bc\r\n"},
         {"c\r\n"},
         "ab\b \b\b \bc\r\n"},
        {"an edit makes the line end", true, false, {"a\rX", "\b\nb"}, {"a\r\n"}, ""},
        {"echo without edit", false, true, {"a\bb\r\n"}, {"a\bb\r\n"}, "a\bb\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Owner o;
        lineModeOn(o);
        o.lines.SetLineEdit(c.edit);
        o.lines.SetLineEcho(c.echo);
        for (const auto& r : c.reads) {
            o.receive(r);
        }
        EXPECT_EQ(o.taken, c.lines);
        EXPECT_EQ(o.echoed, c.echoed);
    }
}

TEST(LineSplitter, SwitchingLineModeOff) {
    // Switched off inside the hook before the line is taken: the whole rest
    // goes out raw in the same event.
    Owner inside;
    lineModeOn(inside);
    inside.onData = [](Owner& self) {
        if (self.lines.LineMode()) {
            self.taken.push_back(self.lines.SetLineMode(false) ? "off, bytes wait" : "off");
            return;
        }
        self.taken.push_back(self.take(3));
    };
    inside.receive("ab\r\ncd\r\nef");
    EXPECT_EQ(inside.taken, (Lines{"off, bytes wait", "ab\r", "\ncd", "\r\ne", "f"}));

    // Switched off outside an event: the owner is told that bytes wait.
    Owner outside;
    lineModeOn(outside);
    outside.receive("ab\r\ncd");
    EXPECT_TRUE(outside.lines.SetLineMode(false));
    EXPECT_EQ(outside.take(100), "cd");
    EXPECT_FALSE(outside.lines.SetLineMode(true));  // nothing waits any more
}

TEST(LineSplitter, LastLineAtClose) {
    struct Case {
        const char* name;
        bool handler;
        bool closeInLimitHook;
        Lines lines;
    };
    const std::vector<Case> cases = {
        {"delivered once", true, false, {"abc"}},
        {"no handler: dropped", false, false, {}},
        {"closed while the limit hook clears", true, true, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Owner o;
        lineModeOn(o);
        o.handler = c.handler;
        if (c.closeInLimitHook) {
            o.lines.SetLineLimit(2);
            o.onLimit = [](Owner& self) { self.lines.SessionClosed(self); };
            o.receive("abc");
            EXPECT_EQ(o.taken, c.lines);
            EXPECT_FALSE(o.lines.Exists());
            continue;
        }
        o.receive("abc");
        o.lines.SessionClosed(o);
        EXPECT_EQ(o.taken, c.lines);
        EXPECT_FALSE(o.lines.Exists());
        EXPECT_EQ(o.lines.BufferedCount(), 0);
        o.lines.SessionClosed(o);  // a second close finds nothing
        EXPECT_EQ(o.taken, c.lines);
    }
}

TEST(LineSplitter, HookThatClosesWhileReadingGetsTheRestOnce) {
    Owner o;
    lineModeOn(o);
    o.onData = [](Owner& self) {
        self.taken.push_back(self.take(1));
        if (self.taken.size() == 1) {
            self.lines.SessionClosed(self);  // the rest, as one last line
        }
    };
    o.receive("ab\r\ncd\r\n");
    EXPECT_EQ(o.taken, (Lines{"a", "b", "\r", "\n", "c", "d", "\r", "\n"}));
    EXPECT_FALSE(o.lines.Exists());
}

TEST(LineSplitter, NoHandlerDropsLinesButKeepsThePartialOne) {
    Owner o;
    lineModeOn(o);
    o.handler = false;
    o.receive("ab\r\ncd\r\nef");
    EXPECT_EQ(o.buffered(), "ef");
}

TEST(LineSplitter, HookThatNeverReadsIsLeftForLater) {
    Owner o;
    lineModeOn(o);
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
    struct Doomed : LineSplitter::Client {
        LineSplitter* lines = new LineSplitter;
        int offers = 0;
        Outcome Deliver() override {
            ++offers;
            delete lines;  // the socket, with its splitter, is gone
            lines = nullptr;
            return Outcome::Gone;
        }
        Outcome Echo(const std::uint8_t*, int) override { return Outcome::Done; }
        Outcome ApplyLineEdit(int&) override { return Outcome::Done; }
        Outcome LineLimitExceeded(int, bool&) override { return Outcome::Done; }
        void DeliverLater() override {}
    } d;
    LineSplitter* s = d.lines;
    s->SetLineMode(true);
    std::memcpy(s->Reserve(8), "ab\r\ncd\r\n", 8);
    s->Received(8, d);  // AddressSanitizer catches a touch after the delete
    EXPECT_EQ(d.offers, 1);
}

// Random line lengths, random read sizes, random piece sizes taken by the
// hook: the same lines come out.
TEST(LineSplitter, RandomStreamArrivesAsTheSameLines) {
    std::mt19937 rng(1234);
    Lines sent;
    std::string stream;
    while (stream.size() < (2u << 20)) {
        std::string line(std::uniform_int_distribution<int>(0, 300)(rng), 'x');
        for (auto& ch : line) {
            ch = static_cast<char>(std::uniform_int_distribution<int>(0, 255)(rng));
            if (ch == '\r') {
                ch = 'r';
            }
        }
        line += "\r\n";
        sent.push_back(line);
        stream += line;
    }
    Owner o;
    lineModeOn(o);
    std::string current;
    o.onData = [&](Owner& self) {
        current += self.take(std::uniform_int_distribution<int>(1, 100)(rng));
        if (self.lines.PendingCount() == 0) {
            self.taken.push_back(current);
            current.clear();
        }
    };
    for (std::size_t pos = 0; pos < stream.size();) {
        const std::size_t n = std::min<std::size_t>(
            stream.size() - pos, std::uniform_int_distribution<int>(1, 4000)(rng));
        o.receive(stream.substr(pos, n));
        pos += n;
    }
    EXPECT_EQ(o.taken.size(), sent.size());
    EXPECT_TRUE(o.taken == sent);
}

}  // namespace
