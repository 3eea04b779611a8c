#pragma once

// Line mode layer. With LineMode on, received bytes are collected in a line
// buffer and handed to OnDataAvailable one complete line (LineEnd included)
// at a time: RcvdCount is the line's length, and Receive takes from it (in
// pieces if the hook likes). Lines are cut in LineSplitter; this layer feeds
// it from the socket and sends its echo.
//
// - LineLimit: more buffered bytes than this without a line end fire
//   OnLineLimitExceeded; leaving ClearData true discards them.
// - LineEcho sends every received byte back; LineEdit treats backspace and
//   tab as editing keys (and echoes the edited result when LineEcho is on).
// - Switching LineMode while bytes wait posts message 1044; its handler
//   delivers them in the new mode, never from inside the setter.
// - At close, bytes without a line end are delivered once as a last line.
// With LineMode off and nothing buffered every operation passes through.

#include "net/LineSplitter.h"
#include "net/TCustomSocksWSocket.h"

namespace vandrel::net {

// Posted to the socket's own target to deliver buffered bytes again.
inline constexpr unsigned MSG_LINE_REDISPATCH = WM_USER_BASE + 20;  // 1044

using TLineLimitEvent = std::function<void(TObject* Sender, int RcvdLength, bool& ClearData)>;

class TCustomLineWSocket : public TCustomSocksWSocket {
public:
    TCustomLineWSocket() = default;
    ~TCustomLineWSocket() override = default;

    // ---- properties ----
    bool LineMode() const { return m_lines.LineMode(); }
    virtual void SetLineMode(bool Value);
    // At most this many bytes without a line end are buffered silently; 0 or
    // less: no limit.
    int LineLimit() const { return m_lines.LineLimit(); }
    void SetLineLimit(int Value) { m_lines.SetLineLimit(Value); }
    // Compared byte by byte; empty acts as LineMode off.
    const std::string& LineEnd() const { return m_lines.LineEnd(); }
    void SetLineEnd(const std::string& Value) { m_lines.SetLineEnd(Value); }
    bool LineEcho() const { return m_lines.LineEcho(); }
    void SetLineEcho(bool Value) { m_lines.SetLineEcho(Value); }
    bool LineEdit() const { return m_lines.LineEdit(); }
    void SetLineEdit(bool Value) { m_lines.SetLineEdit(Value); }

    TLineLimitEvent OnLineLimitExceeded;

    // In line mode: the current line's length (0 between lines).
    int RcvdCount() override;
    // Queues Str and LineEnd and starts sending; nothing for an empty Str.
    // Returns the bytes queued (Str and LineEnd), whatever the send gave.
    virtual int SendLine(const std::string& Str);

protected:
    virtual void TriggerLineLimitExceeded(int RcvdLength, bool& ClearData);
    // Edits the NewCount received bytes behind the buffered ones and echoes.
    virtual void ApplyLineEdit(int& NewCount);

    void WndProc(SocketMessage& Msg) override;
    bool TriggerDataAvailable(Word ErrCode) override;
    void TriggerSessionClosed(Word ErrCode) override;
    int RawReceive(void* Buffer, int BufferSize, int Flags) override;

private:
    class LineClient;
    void RedispatchLines();
    void PostRedispatch();

    LineSplitter m_lines;
};

}  // namespace vandrel::net
