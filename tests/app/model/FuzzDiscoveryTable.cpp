// libFuzzer entry: discovery datagrams on their way into the device table, the path every
// host on the subnet can reach. Datagrams go through the listener's hand-over queue in
// batches, into the reused receive stream, through the frame check and into the table, mixed
// with Search's clearing, header-click sorts and session-closed status resets. A model of the
// table follows every step; the table must match it, keep its header and never lose or
// invent a row.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/model/DeviceTable.h"
#include "discovery/ByteStream.h"
#include "discovery/UDPDatagramQueue.h"

using namespace vandrel::app;
using namespace vandrel::discovery;

namespace {

using Row = std::array<std::string, DeviceColumns>;

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

Row fieldsOf(const std::string& payload) {
    Row row;
    std::string rest = payload;
    for (std::string& cell : row) {
        const std::size_t at = rest.find(FieldSeparator);
        cell = rest.substr(0, at);
        rest = at == std::string::npos ? std::string() : rest.substr(at + 1);
    }
    return row;
}

class TableRun {
public:
    TableRun() : m_grid(MakeDeviceGrid()), m_model(1) {
        m_grid.OnCompareCol = [this](int col, int a, int b) {
            return CompareDeviceCells(m_grid, col, a, b);
        };
        m_queue.SetDrainRequest([this] { ++m_drainRequests; });
    }

    void queue(std::vector<std::uint8_t> bytes) {
        UDPDatagram datagram;
        datagram.Data = std::move(bytes);
        m_batch.push_back(std::move(datagram));
    }

    // The listener hands over its batch; the GUI side drains the queue.
    void deliver() {
        if (m_batch.empty()) {
            return;
        }
        check(m_queue.PushBatch(m_batch));
        m_batch.clear();
        ++m_pushes;
        UDPDatagram datagram;
        while (m_queue.Pop(datagram)) {
            m_stream.Assign(datagram.Data.data(), datagram.Data.size());
            m_stream.SetPosition(0);
            read();
        }
        check(m_drainRequests == m_pushes && m_queue.Count() == 0);
    }

    void clear() {
        ClearDeviceTable(m_grid);
        m_model.assign(1, Row());
        compare();
    }

    void sort(int col, bool ascending) {
        m_grid.SortColumn(col, ascending);
        std::vector<Row> sorted = rows();
        for (std::size_t i = 0; i + 1 < sorted.size(); ++i) {
            const int order =
                CompareDeviceCells(m_grid, col, static_cast<int>(i) + 1, static_cast<int>(i) + 2);
            check(order != (ascending ? StringGrid::CompareAfter : StringGrid::CompareBefore));
        }
        std::vector<Row> before = m_model;
        std::sort(before.begin(), before.end());
        std::vector<Row> after = sorted;
        std::sort(after.begin(), after.end());
        check(before == after);
        m_model = sorted;
    }

    void resetStatus(std::size_t pick) {
        const std::string ip = m_model[pick % m_model.size()][ColIP];
        const auto hit = std::find_if(m_model.begin(), m_model.end(),
                                      [&](const Row& row) { return row[ColIP] == ip; });
        check(ResetDeviceStatus(m_grid, ip) == (hit != m_model.end()));
        if (hit != m_model.end()) {
            (*hit)[ColStatus] = StatusNotConnected;
        }
        compare();
    }

private:
    // What the main window does with one datagram.
    void read() {
        const std::size_t size = m_stream.Size();
        if (size > MaxReplySize) {
            return;
        }
        std::uint8_t buffer[MaxReplySize];
        check(m_stream.Read(buffer, size) == size);
        const ReplyFrame frame = CheckReplyFrame(buffer, size);
        const bool framed = size >= 2 && buffer[0] == ReplyStart && buffer[size - 1] == ReplyEnd;
        const bool invalid = size >= 1 && buffer[0] == ReplyStart && !framed;
        check((frame.Kind == ReplyKind::Accept) == framed);
        check((frame.Kind == ReplyKind::Invalid) == invalid);
        if (frame.Kind != ReplyKind::Accept) {
            return;
        }
        AddDeviceRow(m_grid, frame.Payload);
        const Row added = fieldsOf(std::string(buffer + 1, buffer + size - 1));
        if (m_model.size() == 1 && m_model[0][ColDevice].empty()) {
            m_model[0] = added;
        } else {
            m_model.push_back(added);
        }
        compare();
    }

    std::vector<Row> rows() const {
        std::vector<Row> out;
        for (int r = 1; r < m_grid.RowCount(); ++r) {
            Row row;
            for (int c = 0; c < DeviceColumns; ++c) {
                row[static_cast<std::size_t>(c)] = m_grid.Cell(c, r);
            }
            out.push_back(row);
        }
        return out;
    }

    void compare() const {
        for (int c = 0; c < DeviceColumns; ++c) {
            check(m_grid.Cell(c, 0) == DeviceHeaders[c]);
        }
        check(m_grid.RowCount() >= 2 && rows() == m_model);
    }

    StringGrid m_grid;
    std::vector<Row> m_model;
    UDPDatagramQueue m_queue;
    ByteStream m_stream;
    std::vector<UDPDatagram> m_batch;
    int m_drainRequests = 0;
    int m_pushes = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TableRun run;
    std::size_t pos = 0;
    const auto next = [&]() -> std::uint8_t { return pos < size ? data[pos++] : 0; };
    while (pos < size) {
        const std::uint8_t op = next();
        switch (op % 8) {
            case 5:
                run.deliver();
                run.clear();
                break;
            case 6: {
                run.deliver();
                const std::uint8_t how = next();
                run.sort(how % DeviceColumns, (how & 0x80) != 0);
                break;
            }
            case 7:
                run.deliver();
                run.resetStatus(next());
                break;
            default: {
                // A datagram of the next n bytes; with the top bit of op it is stretched to
                // about 2 KiB (filler before its last byte), around the size limit of a reply.
                const std::size_t n = std::min<std::size_t>(next(), size - pos);
                std::vector<std::uint8_t> bytes(data + pos, data + pos + n);
                pos += n;
                if ((op & 0x80) != 0 && !bytes.empty()) {
                    const std::size_t target = MaxReplySize - 8 + op % 16;
                    if (bytes.size() < target) {
                        bytes.insert(bytes.end() - 1, target - bytes.size(), 'x');
                    }
                }
                run.queue(std::move(bytes));
                if (op % 8 == 4) {
                    run.deliver();
                }
                break;
            }
        }
    }
    run.deliver();
    return 0;
}
