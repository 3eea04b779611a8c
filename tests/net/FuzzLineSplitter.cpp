// libFuzzer entry: line mode's splitter under any settings, any received
// bytes cut at any points, and a data hook that reads, switches line mode or
// closes at fuzzer-chosen moments. Bytes are neither made up nor lost unless
// the rules drop them (line limit, close), and no buffer is overrun.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/LineSplitter.h"

using vandrel::net::LineSplitter;
using Outcome = LineSplitter::Outcome;

namespace {

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

struct Script : LineSplitter::Client {
    LineSplitter lines;
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos = 0;
    std::size_t taken = 0;
    std::size_t dropped = 0;
    bool closing = false;

    std::uint8_t next() { return pos < size ? data[pos++] : 0; }

    Outcome Deliver() override {
        const std::uint8_t op = next();
        if (op == 0xFF) {
            return Outcome::NoHandler;
        }
        if (op == 0xFE) {
            lines.SetLineMode(!lines.LineMode());
        }
        if (op == 0xFD && !closing) {
            // What the last-line delivery does not take is dropped.
            const std::size_t before = static_cast<std::size_t>(lines.BufferedCount());
            const std::size_t takenBefore = taken;
            closing = true;
            lines.SessionClosed(*this);
            closing = false;
            dropped += before - std::min(before, taken - takenBefore);
            return Outcome::Done;
        }
        char buf[300];
        const int n = lines.Read(buf, op % 300 + 1);
        check(n >= -1 && n <= 300);
        taken += static_cast<std::size_t>(std::max(n, 0));
        check(lines.LineLength() <= lines.BufferedCount() || !lines.Active());
        return Outcome::Done;
    }
    Outcome Echo(const std::uint8_t*, int len) override {
        check(len > 0);
        return Outcome::Done;
    }
    Outcome ApplyLineEdit(int& newCount) override {
        std::string echoed;
        lines.EditNewBytes(newCount, echoed);
        check(newCount >= 0);
        return Outcome::Done;
    }
    Outcome LineLimitExceeded(int, bool& clearData) override {
        clearData = next() & 1;
        return Outcome::Done;
    }
    void DeliverLater() override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        return 0;
    }
    Script s;
    s.data = data;
    s.size = size;
    const std::uint8_t flags = s.next();
    std::string lineEnd;
    for (int i = 0, n = flags & 3; i < n; ++i) {
        lineEnd += static_cast<char>(s.next());
    }
    s.lines.SetLineEnd(lineEnd);
    s.lines.SetLineMode(flags & 4);
    s.lines.SetLineEcho(flags & 8);
    s.lines.SetLineEdit(flags & 16);
    s.lines.SetLineLimit((flags & 32) ? s.next() : 0);
    std::size_t received = 0;
    while (s.pos < s.size) {
        const int n = std::min<int>(s.next() % 64, static_cast<int>(s.size - s.pos));
        std::uint8_t* room = s.lines.Reserve(n);
        std::copy_n(data + s.pos, n, room);
        s.pos += static_cast<std::size_t>(n);
        received += static_cast<std::size_t>(n);
        s.lines.Received(n, s);
        check(s.lines.BufferedCount() >= 0);
        if (!(flags & 16)) {
            // Without editing no byte is made up or handed out twice.
            check(s.taken + s.dropped + static_cast<std::size_t>(s.lines.BufferedCount()) <=
                  received);
        }
    }
    s.lines.SessionClosed(s);
    return 0;
}
