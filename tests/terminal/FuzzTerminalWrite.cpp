// libFuzzer entry, differential: the terminal's block writer (WriteStr, which prints runs of
// printable bytes a row at a time) against the byte-by-byte interpreter (ProcessChar) on the
// same bytes, piece by piece, on small grids so that wrapping and scrolling happen often.
// After every piece both screens must hold the same cells and cursor and have asked the view
// to follow the output equally often, and the changes the block writer reports (changed
// spans and scrolled lines) must be enough to bring a copy of the previous screen up to date,
// as the view's deferred drawing relies on.
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "terminal/EmulTScreen.h"

using namespace vandrel::terminal;

namespace {

class CountingHost : public EmulTScreenHost {
public:
    explicit CountingHost(int visibleRows) : m_visibleRows(visibleRows) {}
    int VisibleRows() const override { return m_visibleRows; }
    void ViewLineDown() override { ++lineDowns; }
    int lineDowns = 0;

private:
    int m_visibleRows;
};

using Cells = std::vector<EmulTCell>;

Cells snapshot(const TEmulTBuffer& buffer) {
    Cells cells;
    for (int row = 1; row <= buffer.Rows(); ++row) {
        for (int col = 1; col <= buffer.Columns(); ++col) {
            cells.push_back(buffer.GetCell(col, row));
        }
    }
    return cells;
}

// What the view shows after its next flush: the old picture moved by the scrolled lines, the
// uncovered rows and the reported spans drawn from the grid.
void followChanges(TEmulTBuffer& buffer, Cells& shown) {
    const int cols = buffer.Columns();
    const int rows = buffer.Rows();
    const Cells now = snapshot(buffer);
    std::vector<std::pair<int, int>> spans;  // (row, first col) .. last col
    std::vector<int> lasts;
    const int scrolled = buffer.TakeChanges([&](const TEmulTBuffer::Span& span) {
        spans.emplace_back(span.Row, span.First);
        lasts.push_back(span.Last);
    });
    const auto at = [cols](int col, int row) {
        return static_cast<std::size_t>((row - 1) * cols + (col - 1));
    };
    if (scrolled >= rows || -scrolled >= rows) {
        shown = now;
    } else if (scrolled != 0) {
        Cells moved(shown.size());
        for (int row = 1; row <= rows; ++row) {
            const int from = row + scrolled;
            for (int col = 1; col <= cols; ++col) {
                moved[at(col, row)] =
                    (from >= 1 && from <= rows) ? shown[at(col, from)] : now[at(col, row)];
            }
        }
        shown = moved;
    }
    for (std::size_t i = 0; i < spans.size(); ++i) {
        for (int col = spans[i].second; col <= lasts[i]; ++col) {
            shown[at(col, spans[i].first)] = now[at(col, spans[i].first)];
        }
    }
    if (shown != now) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) {
        return 0;
    }
    const int columns = 2 + data[0] % 30;
    const int rows = 2 + data[1] % 10;
    const bool wrap = (data[2] & 1) != 0;
    const int visibleRows = (data[2] >> 1) % (rows + 2);
    data += 3;
    size -= 3;

    CountingHost blockHost(visibleRows);
    CountingHost byteHost(visibleRows);
    EmulTScreen block(&blockHost);
    EmulTScreen bytes(&byteHost);
    for (EmulTScreen* screen : {&block, &bytes}) {
        screen->SetColumns(columns);
        screen->SetRows(rows);
        screen->WrapLines = wrap;
    }
    block.Buffer().TakeChanges([](const TEmulTBuffer::Span&) {});
    Cells shown = snapshot(block.Buffer());

    std::size_t pos = 0;
    while (pos < size) {
        // A piece: a header byte (length 1..32, and three attribute switches), then its bytes.
        const std::uint8_t header = data[pos++];
        const std::size_t length = std::min<std::size_t>(header % 32 + 1u, size - pos);
        for (EmulTScreen* screen : {&block, &bytes}) {
            screen->Highlight ^= (header & 0x20) != 0;
            screen->Reverse ^= (header & 0x40) != 0;
            screen->Underline ^= (header & 0x80) != 0;
        }
        block.WriteStr(std::string_view(reinterpret_cast<const char*>(data + pos), length));
        for (std::size_t i = 0; i < length; ++i) {
            bytes.ProcessChar(data[pos + i]);
        }
        pos += length;

        if (block.CursorColumn() != bytes.CursorColumn() ||
            block.CursorRow() != bytes.CursorRow() || blockHost.lineDowns != byteHost.lineDowns ||
            snapshot(block.Buffer()) != snapshot(bytes.Buffer())) {
            std::abort();
        }
        followChanges(block.Buffer(), shown);
        bytes.Buffer().TakeChanges([](const TEmulTBuffer::Span&) {});
    }
    return 0;
}
