#pragma once

// Line mode's buffer: received bytes that have not been delivered yet,
// starting at the beginning of the current line, and the rules that cut them
// into lines, edit them and hand them out. Plain byte code without sockets;
// the line layer of the socket receives into reserve(), reports the count
// with received(), and serves the owner's receives from read().

#include <cstdint>
#include <string>
#include <vector>

namespace vandrel::net {

class LineSplitter {
public:
    // How a call into the owner ended. Gone: the socket, and this splitter
    // with it, no longer exists; nothing of either may be touched.
    enum class Outcome { Done, NoHandler, Gone };

    // What the splitter needs from its socket. Each call may run the owner's
    // hooks, which may switch line mode, close the socket or destroy it.
    class Client {
    public:
        virtual ~Client() = default;
        // Invokes the owner's data hook (the layer below the line layer),
        // which takes the current line, or the buffered bytes when line mode
        // is off, through read(). NoHandler when no hook is assigned.
        virtual Outcome deliver() = 0;
        // LineEcho without LineEdit: sends the new bytes back to the peer.
        virtual Outcome echo(const std::uint8_t* data, int len) = 0;
        // LineEdit: edits the newCount bytes behind the buffered ones
        // (normally through editNewBytes) and echoes.
        virtual Outcome applyLineEdit(int& newCount) = 0;
        // More than LineLimit bytes without a line end; clearData starts true.
        virtual Outcome lineLimitExceeded(int rcvdLength, bool& clearData) = 0;
        // A hook kept being offered a line without taking any of it: the
        // rest is delivered later from the event loop, not in a busy loop.
        virtual void deliverLater() = 0;
    };

    // Offers of one line (or of the raw bytes) without any byte taken, after
    // which the delivery is left to deliverLater().
    static constexpr int kMaxIdleOffers = 4096;

    bool lineMode() const { return m_lineMode; }
    // True when bytes wait (buffered, or a line half delivered) and must be
    // delivered again in the new mode.
    bool setLineMode(bool on);
    const std::string& lineEnd() const { return m_lineEnd; }
    void setLineEnd(const std::string& value) { m_lineEnd = value; }
    int lineLimit() const { return m_lineLimit; }
    void setLineLimit(int value) { m_lineLimit = value; }
    bool lineEcho() const { return m_lineEcho; }
    void setLineEcho(bool on) { m_lineEcho = on; }
    bool lineEdit() const { return m_lineEdit; }
    void setLineEdit(bool on) { m_lineEdit = on; }
    // Line mode on with a line end to look for; an empty LineEnd acts as off.
    bool active() const { return m_lineMode && !m_lineEnd.empty(); }

    // Room for n more bytes behind the buffered ones (the buffer grows to
    // exactly what is needed); returns where they go.
    std::uint8_t* reserve(int n);
    // n bytes were received into reserve()'s room (n <= 0: none): edits or
    // echoes them, then delivers every complete line.
    void received(int n, Client& client);
    // The session ended: delivers what is buffered as a last line without
    // line end (unless a line-limit hook is clearing the data), then releases.
    void sessionClosed(Client& client);
    void release();

    // One receive by the owner: the current line, or the buffered bytes with
    // line mode off; -1 when neither applies and the layer below serves it.
    int read(void* out, int size);
    // The owner's pending count in line mode (the current line's length);
    // -1 when the layer below's count applies.
    int pendingCount() const { return active() ? m_lineLength : -1; }
    int lineLength() const { return m_lineLength; }
    int bufferedCount() const { return m_count; }
    bool exists() const { return m_exists; }
    bool lineDelivered() const { return m_lineDelivered; }
    void clearLineDelivered() { m_lineDelivered = false; }

    // Line editing of the newCount bytes behind the buffered ones: backspace
    // removes the byte before it (also one buffered earlier), tab becomes
    // spaces up to the next multiple of 8. The echo the peer should see is
    // appended to echo. May lower the buffered count and change newCount.
    void editNewBytes(int& newCount, std::string& echo);

private:
    std::uint8_t* front() { return m_buf.data() + m_head; }
    void consume(int n);
    void terminate();
    int findLineEnd(int searchStart) const;
    // Each returns false when the event must end (socket gone, buffer
    // released, or delivery left for later).
    bool cutLines(Client& client, int searchStart, unsigned generation);
    bool deliverLine(Client& client, unsigned generation);
    bool deliverRaw(Client& client, unsigned generation);
    void checkLimit(Client& client, unsigned generation);

    bool m_lineMode = false;
    std::string m_lineEnd = "\r\n";
    int m_lineLimit = 65536;
    bool m_lineEcho = false;
    bool m_lineEdit = false;

    // Buffered bytes are m_buf[m_head, m_head + m_count), followed by a 0
    // byte; the current line, when one is being delivered, is the first
    // m_lineLength of them.
    std::vector<std::uint8_t> m_buf;
    int m_head = 0;
    int m_count = 0;
    int m_lineLength = 0;
    bool m_exists = false;
    bool m_lineDelivered = false;
    bool m_clearData = false;
    // Counts releases, so a loop notices that a hook closed the session.
    unsigned m_generation = 0;
};

}  // namespace vandrel::net
