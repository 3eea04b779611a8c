#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "telnet/TTnCnx.h"
#include "terminal/EInOutError.h"
#include "terminal/KeyBytes.h"
#include "terminal/PasteFeed.h"
#include "terminal/TEmulT.h"

namespace vandrel::terminal {

class TTnEmulT;

using TerminalNotifyEvent = std::function<void(TTnEmulT& Sender)>;
// Len is a copy: a hook may change it, the whole block is shown all the same.
using TTnEmulTDataAvailable = std::function<void(TTnEmulT& Sender, const char* Buffer, int& Len)>;
using TerminalLogErrorEvent = std::function<void(TTnEmulT& Sender, const EInOutError& E)>;
// Asked before a paste of more than one line goes out; false drops the paste.
using TerminalConfirmPaste = std::function<bool(TTnEmulT& Sender, int lines)>;
// A key typed into the terminal has been sent: key as sent, and whether the Backspace key
// typed it.
using TerminalKeyTyped = std::function<void(TTnEmulT& Sender, char key, bool backspaceKey)>;
// A paste into the terminal has been taken (after its question, if any).
using TerminalPasted = std::function<void(TTnEmulT& Sender, const QString& text)>;

// A terminal view that owns one telnet connection: Connect starts a session to
// HostName:Port, the server's data is shown as it arrives, typed characters are sent, and
// short status texts report connecting, connected, failed and closed.
//
// The connection's hooks arrive from its socket's events on the GUI thread. The session's
// end is reported through OnSessionClosed after "*** Server has closed ***" is shown,
// whatever the cause, the user's own Disconnect included.
//
// Received data reaches OnDataAvailable at once, block by block. Writing it into the view
// (and the session log) is gathered per event-loop pass, up to 64 KiB, so that a fast
// server costs one log write per pass instead of one per 2 KiB block. Anything else that
// writes into the view here (status texts, echoed keys, Connect's clearing, destruction)
// first writes what is waiting, so the order of bytes in the view and the log is kept.
//
// The log never stops the view: when the session log cannot take a byte (a full disk),
// logging is switched off, everything is shown all the same, and OnLogError reports the
// failure from the event loop (never from inside a socket event).
//
// Pasted text goes the way of typed keys (echo when LocalEcho, then the connection), one
// line at a time (see PasteFeed); a session that ends, or a new Connect, drops what waits.
class TTnEmulT : public TEmulT {
    Q_OBJECT

public:
    explicit TTnEmulT(QWidget* parent = nullptr);
    ~TTnEmulT() override;

    // Clears the view, starts the connection and shows "Connecting to '<HostName>'".
    // Does nothing when HostName is empty; an exception of the socket layer passes to the
    // caller after the view was cleared.
    void Connect();
    // Connect without clearing the view: a session that ended goes on below its old screen.
    void Reconnect();
    void Disconnect();
    // Sends Text as it stands (no line-end translation, no echo); 0 without a connection.
    int SendText(const std::string& Text);
    // Writes Text and repaints the whole control at once.
    void Display(const std::string& Text);

    // The attempt that Connect started has not ended yet: neither connected nor failed.
    bool Connecting() const;
    // A connection is being made or is up; false before Connect and after the closed report.
    bool SessionOpen() const;
    // Code of the last connection report: 0 for a successful connect.
    net::Word Error() const { return m_error; }
    const std::string& HostName() const { return m_hostName; }
    void SetHostName(const std::string& value) { m_hostName = value; }
    // The address Connect connects to when not empty, while HostName stays what the texts
    // show: a name looked up beforehand is not looked up again.
    const std::string& Address() const { return m_address; }
    void SetAddress(const std::string& value) { m_address = value; }
    // Service name or decimal port; "telnet" by default.
    const std::string& Port() const { return m_port; }
    void SetPort(const std::string& value) { m_port = value; }
    int Tag() const { return m_tag; }
    void SetTag(int value) { m_tag = value; }
    // Typed a to z are sent as A to Z.
    bool UpperLock() const { return m_upperLock; }
    void SetUpperLock(bool value) { m_upperLock = value; }
    // Typed characters are also written into the view.
    bool LocalEcho() const { return m_localEcho; }
    void SetLocalEcho(bool value) { m_localEcho = value; }
    // The connection's Location; empty, and not writable, without a connection.
    std::string Location() const;
    void SetLocation(const std::string& value);
    // The connection's OnEndOfRecord, passed straight through (its Sender is the connection).
    net::TNotifyEvent OnEndOfRecord() const;
    void SetOnEndOfRecord(net::TNotifyEvent value);

    // What the Enter key (any typed CR) and the Backspace key send; CR LF and 0x08 by
    // default. Local echo shows CR LF and 0x08 whatever is sent.
    EnterKey EnterSends() const { return m_enterKey; }
    void SetEnterKey(EnterKey key) { m_enterKey = key; }
    BackspaceKey BackspaceSends() const { return m_backspaceKey; }
    void SetBackspaceKey(BackspaceKey key) { m_backspaceKey = key; }

    // Sends text as if typed: characters outside Latin-1 become '?', each line end (CR LF,
    // CR or LF) the Enter sequence, and 0xFF goes out doubled as telnet data. More than one
    // line asks OnConfirmPaste first when ConfirmMultiLinePaste is on (the default).
    void PasteText(const QString& text);
    int PasteLineDelay() const { return m_paste.LineDelay(); }
    void SetPasteLineDelay(int ms) { m_paste.SetLineDelay(ms); }
    bool ConfirmMultiLinePaste() const { return m_confirmMultiLinePaste; }
    void SetConfirmMultiLinePaste(bool value) { m_confirmMultiLinePaste = value; }
    // PasteText without the question: the caller asked it already.
    void PasteTextUnasked(const QString& text);
    // Sends key as if typed here: this terminal's upper lock, Enter and Backspace choices
    // and local echo apply. backspaceKey: the key came from the Backspace key, not Ctrl+H.
    void TypeKey(char key, bool backspaceKey);
    // Sends bytes as typed keys go, all at once: local echo shows them, 0xFF goes out doubled
    // as telnet data, and line ends are sent as they stand.
    void SendAsTyped(std::string_view bytes);
    // Lines of a paced paste still wait; Escape drops them.
    bool Pasting() const { return m_paste.Busy(); }
    void CancelPaste() { m_paste.Cancel(); }

    // The owned connection, or nullptr once it has been destroyed.
    telnet::TTnCnx* Connection() const { return m_cnx; }

    TerminalNotifyEvent OnSessionClosed;
    TerminalNotifyEvent OnSessionConnected;
    TerminalNotifyEvent OnNamesClick;  // kept for owners that assign it; never invoked
    TerminalNotifyEvent OnSendLoc;
    TerminalNotifyEvent OnTermType;
    TerminalNotifyEvent OnLocalEcho;
    TTnEmulTDataAvailable OnDataAvailable;
    // Logging has been switched off because E happened; Log() is false by now.
    TerminalLogErrorEvent OnLogError;
    // Without this hook a paste of many lines goes out without asking.
    TerminalConfirmPaste OnConfirmPaste;
    // Enter typed while no session is open: the key is not sent, the hook decides (the
    // window reconnects a tab kept after its session ended).
    TerminalNotifyEvent OnEnterWhileClosed;
    // Every key typed into this terminal and sent, and every paste it took; the window
    // repeats them into other sessions.
    TerminalKeyTyped OnKeyTyped;
    TerminalPasted OnPasted;

protected:
    void KeyPress(char& key) override;
    // Ctrl+Shift+V and Shift+Insert paste the clipboard; Escape cancels a paste that waits.
    void keyPressEvent(QKeyEvent* event) override;
    void BeforeLogChange() override { ShowReceived(); }
    // The system's beep for failed and closed sessions; a seam for tests.
    virtual void Beep();

private:
    void CnxDataAvailable(const char* Buffer, int Len);
    void CnxSessionConnected(net::Word Error);
    void CnxSessionClosed(net::Word Error);
    // Writes the received data that waits for the view.
    void ShowReceived();
    // Writes text into the view, whatever happens to the log.
    void Show(std::string_view text);
    void StartConnection();
    // Echoes and sends bytes as typed keys go; echo differs from bytes for Enter and Backspace.
    void SendTyped(std::string_view echo, std::string_view bytes);
    void SendKey(char key, bool backspaceKey);
    void AddPaste(const QString& text, bool ask);
    void SendPasteLine(const PasteLine& line);

    static constexpr std::size_t kMaxReceived = 64 * 1024;

    telnet::TTnCnx* m_cnx = nullptr;
    net::Word m_error = 0;
    std::string m_hostName;
    std::string m_address;
    std::string m_port;
    int m_tag = 0;
    bool m_upperLock = false;
    bool m_localEcho = false;
    std::string m_received;
    std::string m_showing;
    bool m_showPosted = false;
    EnterKey m_enterKey = EnterKey::CrLf;
    BackspaceKey m_backspaceKey = BackspaceKey::ControlH;
    bool m_confirmMultiLinePaste = true;
    // The key of the character being typed, to tell the Backspace key from Ctrl+H.
    int m_typedKey = 0;
    PasteFeed m_paste{[this](const PasteLine& line) { SendPasteLine(line); }};
};

}  // namespace vandrel::terminal
