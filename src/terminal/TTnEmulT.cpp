#include "terminal/TTnEmulT.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QPointer>

#include "net/OwnedPart.h"
#include "net/WSocketErrorText.h"

namespace vandrel::terminal {

using namespace net;
using namespace telnet;

namespace {

bool IsPasteKey(const QKeyEvent& event) {
    const Qt::KeyboardModifiers mods = event.modifiers() & ~Qt::KeypadModifier;
    return (event.key() == Qt::Key_V && mods == (Qt::ControlModifier | Qt::ShiftModifier)) ||
           (event.key() == Qt::Key_Insert && mods == Qt::ShiftModifier);
}

}  // namespace

TTnEmulT::TTnEmulT(QWidget* parent) : TEmulT(parent) {
    // Whoever destroys the connection, m_cnx becomes empty with it.
    TTnCnx* cnx = OwnedPart<TTnCnx>::Create(m_cnx);
    cnx->OnDataAvailable = [this](TTnCnx*, const char* buf, int len) {
        CnxDataAvailable(buf, len);
    };
    cnx->OnSessionClosed = [this](TTnCnx*, Word e) { CnxSessionClosed(e); };
    cnx->OnSessionConnected = [this](TTnCnx*, Word e) { CnxSessionConnected(e); };
    cnx->OnSendLoc = [this](TObject*) {
        if (OnSendLoc) {
            OnSendLoc(*this);
        }
    };
    cnx->OnTermType = [this](TObject*) {
        if (OnTermType) {
            OnTermType(*this);
        }
    };
    cnx->OnLocalEcho = [this](TObject*) {
        if (OnLocalEcho) {
            OnLocalEcho(*this);
        }
    };
    m_port = "telnet";
    OnPasteText = [this](const QString& text) { PasteText(text); };
}

TTnEmulT::~TTnEmulT() {
    ShowReceived();  // so that an open log gets every received byte
    OwnedPart<TTnCnx>::Destroy(m_cnx);
}

void TTnEmulT::Connect() {
    if (m_hostName.empty()) {
        return;
    }
    ShowReceived();
    Clear();
    StartConnection();
}

void TTnEmulT::Reconnect() {
    if (m_hostName.empty()) {
        return;
    }
    ShowReceived();
    StartConnection();
}

void TTnEmulT::StartConnection() {
    m_paste.Cancel();
    if (!m_cnx) {
        return;
    }
    m_cnx->SetPort(m_port);
    m_cnx->SetHost(m_address.empty() ? m_hostName : m_address);
    m_cnx->Connect();
    Display("Connecting to '" + m_hostName + "'\r\n");
    setFocus(Qt::OtherFocusReason);
}

void TTnEmulT::Disconnect() {
    if (m_cnx) {
        m_cnx->Close();
    }
}

bool TTnEmulT::Connecting() const {
    // The socket leaves wsConnecting just before it reports the end of the attempt.
    const TWSocket* socket = m_cnx ? m_cnx->Socket() : nullptr;
    return socket != nullptr && socket->State() == wsConnecting;
}

bool TTnEmulT::SessionOpen() const {
    const TWSocket* socket = m_cnx ? m_cnx->Socket() : nullptr;
    return socket != nullptr && socket->State() != wsClosed && socket->State() != wsInvalidState;
}

int TTnEmulT::SendText(const std::string& Text) {
    return m_cnx ? m_cnx->SendStr(Text) : 0;
}

void TTnEmulT::Display(const std::string& Text) {
    ShowReceived();
    Show(Text);
    RepaintNow();
}

void TTnEmulT::Show(std::string_view text) {
    std::optional<EInOutError> error = WriteStrShowingAll(text);
    if (!error) {
        return;
    }
    QMetaObject::invokeMethod(
        this,
        [this, error = *error] {
            if (OnLogError) {
                const TerminalLogErrorEvent hook =
                    OnLogError;  // the hook may destroy this terminal
                hook(*this, error);
            }
        },
        Qt::QueuedConnection);
}

std::string TTnEmulT::Location() const {
    return m_cnx ? m_cnx->Location() : std::string();
}

void TTnEmulT::SetLocation(const std::string& value) {
    if (m_cnx) {
        m_cnx->SetLocation(value);
    }
}

TNotifyEvent TTnEmulT::OnEndOfRecord() const {
    return m_cnx ? m_cnx->OnEndOfRecord : TNotifyEvent();
}

void TTnEmulT::SetOnEndOfRecord(TNotifyEvent value) {
    if (m_cnx) {
        m_cnx->OnEndOfRecord = std::move(value);
    }
}

void TTnEmulT::CnxDataAvailable(const char* Buffer, int Len) {
    if (OnDataAvailable) {
        int len = Len;
        OnDataAvailable(*this, Buffer, len);
    }
    if (Len <= 0) {
        return;
    }
    m_received.append(Buffer, static_cast<std::size_t>(Len));
    if (m_received.size() >= kMaxReceived) {
        ShowReceived();
    } else if (!m_showPosted) {
        m_showPosted = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_showPosted = false;
                ShowReceived();
            },
            Qt::QueuedConnection);
    }
}

void TTnEmulT::ShowReceived() {
    if (m_received.empty()) {
        return;
    }
    m_showing.swap(m_received);
    m_received.clear();
    Show(m_showing);
}

void TTnEmulT::CnxSessionConnected(Word Error) {
    if (Error != 0) {
        Display("Connection failed: " + WSocketErrorText(Error) + "\r\n");
        Beep();
    } else {
        Display("Connected\r\n");
    }
    m_error = Error;
    if (OnSessionConnected) {
        const TerminalNotifyEvent hook = OnSessionConnected;  // the hook may destroy this terminal
        hook(*this);
    }
}

void TTnEmulT::CnxSessionClosed(Word Error) {
    m_paste.Cancel();
    Display("\r\n*** Server has closed ***\r\n");
    Beep();
    m_error = Error;
    if (OnSessionClosed) {
        const TerminalNotifyEvent hook = OnSessionClosed;
        hook(*this);
    }
}

void TTnEmulT::KeyPress(char& key) {
    TEmulT::KeyPress(key);
    if (m_upperLock && key >= 'a' && key <= 'z') {
        key = static_cast<char>(key & ~0x20);
    }
    if (key == 0) {
        return;
    }
    if (key == '\r' && OnEnterWhileClosed && !SessionOpen()) {
        const TerminalNotifyEvent hook = OnEnterWhileClosed;  // the hook may replace itself
        hook(*this);
        return;
    }
    const bool backspaceKey = key == '\b' && m_typedKey == Qt::Key_Backspace;
    SendKey(key, backspaceKey);
    if (OnKeyTyped) {
        const TerminalKeyTyped hook = OnKeyTyped;
        hook(*this, key, backspaceKey);
    }
}

void TTnEmulT::TypeKey(char key, bool backspaceKey) {
    if (m_upperLock && key >= 'a' && key <= 'z') {
        key = static_cast<char>(key & ~0x20);
    }
    SendKey(key, backspaceKey);
}

void TTnEmulT::SendKey(char key, bool backspaceKey) {
    if (key == '\r') {
        SendTyped("\r\n", EnterBytes(m_enterKey));
    } else if (key == '\b' && backspaceKey) {
        const char erase = BackspaceByte(m_backspaceKey);
        SendTyped("\b", std::string_view(&erase, 1));
    } else {
        SendTyped(std::string_view(&key, 1), std::string_view(&key, 1));
    }
}

void TTnEmulT::SendAsTyped(std::string_view bytes) {
    SendTyped(bytes, EscapeIac(bytes));
}

void TTnEmulT::SendTyped(std::string_view echo, std::string_view bytes) {
    ShowReceived();
    if (m_localEcho) {
        Show(echo);
    }
    try {
        if (m_cnx) {
            m_cnx->Send(bytes.data(), static_cast<int>(bytes.size()));
        }
    } catch (...) {
        // Typing never fails loudly: a closed socket drops the key.
    }
}

void TTnEmulT::keyPressEvent(QKeyEvent* event) {
    if (IsPasteKey(*event)) {
        event->accept();
        PasteText(QGuiApplication::clipboard()->text(QClipboard::Clipboard));
        return;
    }
    if (event->key() == Qt::Key_Escape && m_paste.Busy()) {
        event->accept();
        m_paste.Cancel();
        return;
    }
    m_typedKey = event->key();
    TEmulT::keyPressEvent(event);
    m_typedKey = 0;
}

void TTnEmulT::PasteText(const QString& text) {
    AddPaste(text, true);
}

void TTnEmulT::PasteTextUnasked(const QString& text) {
    AddPaste(text, false);
}

void TTnEmulT::AddPaste(const QString& text, bool ask) {
    const std::u16string_view chars(reinterpret_cast<const char16_t*>(text.utf16()),
                                    static_cast<std::size_t>(text.size()));
    std::vector<PasteLine> lines = SplitPasteLines(PasteBytes(chars));
    if (lines.empty()) {
        return;
    }
    if (ask && lines.size() > 1 && m_confirmMultiLinePaste && OnConfirmPaste) {
        const TerminalConfirmPaste hook = OnConfirmPaste;
        // The session may end and its tab go while the question is open.
        const QPointer<TTnEmulT> self(this);
        const bool paste = hook(*this, static_cast<int>(lines.size()));
        if (!self || !paste) {
            return;
        }
    }
    m_paste.Add(std::move(lines));
    if (ask && OnPasted) {
        const TerminalPasted hook = OnPasted;
        hook(*this, text);
    }
}

void TTnEmulT::SendPasteLine(const PasteLine& line) {
    if (!line.lineEnd) {
        SendTyped(line.text, EscapeIac(line.text));
        return;
    }
    SendTyped(line.text + "\r\n", EscapeIac(line.text) + std::string(EnterBytes(m_enterKey)));
}

void TTnEmulT::Beep() {
    QApplication::beep();
}

}  // namespace vandrel::terminal
