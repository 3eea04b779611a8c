#pragma once

// Line mode's buffer: received bytes that have not been delivered yet,
// starting at the beginning of the current line, and the rules that cut them
// into lines, edit them and hand them out. Plain byte code without sockets;
// the line layer of the socket receives into Reserve(), reports the count
// with Received(), and serves the owner's receives from Read().

#include <cstdint>
#include <optional>
#include <string>

#include "net/ReadAhead.h"

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
        // is off, through Read(). NoHandler when no hook is assigned.
        virtual Outcome Deliver() = 0;
        // LineEcho without LineEdit: sends the new bytes back to the peer.
        virtual Outcome Echo(const std::uint8_t* data, int len) = 0;
        // LineEdit: edits the newCount bytes behind the buffered ones
        // (normally through EditNewBytes) and echoes.
        virtual Outcome ApplyLineEdit(int& newCount) = 0;
        // More than LineLimit bytes without a line end; clearData starts true.
        virtual Outcome LineLimitExceeded(int rcvdLength, bool& clearData) = 0;
        // A hook kept being offered a line without taking any of it: the
        // rest is delivered later from the event loop, not in a busy loop.
        virtual void DeliverLater() = 0;
    };

    // Offers of one line (or of the raw bytes) without any byte taken, after
    // which the delivery is left to DeliverLater().
    static constexpr int kMaxIdleOffers = 4096;

    bool LineMode() const { return m_lineMode; }
    // True when bytes wait (buffered, or a line half delivered) and must be
    // delivered again in the new mode.
    bool SetLineMode(bool on);
    const std::string& LineEnd() const { return m_lineEnd; }
    void SetLineEnd(const std::string& value) { m_lineEnd = value; }
    int LineLimit() const { return m_lineLimit; }
    void SetLineLimit(int value) { m_lineLimit = value; }
    bool LineEcho() const { return m_lineEcho; }
    void SetLineEcho(bool on) { m_lineEcho = on; }
    bool LineEdit() const { return m_lineEdit; }
    void SetLineEdit(bool on) { m_lineEdit = on; }
    // Line mode on with a line end to look for; an empty LineEnd acts as off.
    bool Active() const { return m_lineMode && !m_lineEnd.empty(); }

    // Room for n more bytes behind the buffered ones (the buffer is created
    // on first use); returns where they go.
    std::uint8_t* Reserve(int n);
    // n bytes were received into Reserve()'s room (n <= 0: none): edits or
    // echoes them, then delivers every complete line.
    void Received(int n, Client& client);
    // The session ended: delivers what is buffered as a last line without
    // line end (unless a line-limit hook is clearing the data), then releases.
    void SessionClosed(Client& client);
    void Release();

    // One receive by the owner: the current line, or the buffered bytes with
    // line mode off; -1 when neither applies and the layer below serves it.
    int Read(void* out, int size);
    // Drops the buffered bytes.
    void Discard();
    // The owner's pending count in line mode (the current line's length);
    // -1 when the layer below's count applies.
    int PendingCount() const { return Active() ? m_lineLength : -1; }
    int LineLength() const { return m_lineLength; }
    int BufferedCount() const { return m_bytes ? m_bytes->Size() : 0; }
    bool Exists() const { return m_bytes.has_value(); }
    bool LineDelivered() const { return m_lineDelivered; }
    void ClearLineDelivered() { m_lineDelivered = false; }

    // Line editing of the newCount bytes behind the buffered ones: backspace
    // removes the byte before it (also one buffered earlier), tab becomes
    // spaces up to the next multiple of 8. The echo the peer should see is
    // appended to echo. May lower the buffered count and change newCount.
    void EditNewBytes(int& newCount, std::string& echo);

private:
    int FindLineEnd(int searchStart) const;
    // Each returns false when the event must end (socket gone, buffer
    // released, or delivery left for later).
    bool CutLines(Client& client, int searchStart, unsigned generation);
    bool DeliverLine(Client& client, unsigned generation);
    bool DeliverRaw(Client& client, unsigned generation);
    void CheckLimit(Client& client, unsigned generation);

    bool m_lineMode = false;
    std::string m_lineEnd = "\r\n";
    int m_lineLimit = 65536;
    bool m_lineEcho = false;
    bool m_lineEdit = false;

    // The buffered bytes; the current line, when one is being delivered, is
    // the first m_lineLength of them. Bytes received but not yet counted as
    // buffered (Received's new bytes) lie behind them in the free space.
    std::optional<ReadAhead> m_bytes;
    int m_lineLength = 0;
    bool m_lineDelivered = false;
    bool m_clearData = false;
    // Counts releases, so a loop notices that a hook closed the session.
    unsigned m_generation = 0;
};

}  // namespace vandrel::net
