#include "net/TSocketWindow.h"

#include <sys/ioctl.h>
#include <sys/socket.h>
#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QMetaObject>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <mutex>

#include "net/HandOver.h"
#include "net/NativeError.h"
#include "net/SocketErrorCodes.h"
#include "net/TCustomWSocket.h"

namespace vandrel::net {

namespace {

class MessageEvent : public QEvent {
public:
    MessageEvent(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam)
        : QEvent(static_cast<QEvent::Type>(msg)), m_wParam(wParam), m_lParam(lParam) {}
    std::uintptr_t m_wParam;
    std::intptr_t m_lParam;
};

std::intptr_t makeSelectParam(long bits, int error) {
    return static_cast<std::intptr_t>((bits & 0xFFFF) | ((error & 0xFFFF) << 16));
}

}  // namespace

// The QObject behind a TSocketWindow. It may outlive its TSocketWindow by one
// event-loop pass when the socket is destroyed from inside its own dispatch.
class SocketMessageTarget : public QObject {
public:
    explicit SocketMessageTarget(TSocketWindow::Handler handler) : m_handler(std::move(handler)) {}
    ~SocketMessageTarget() override { Unselect(); }

    void Orphan();
    bool Dispatching() const { return m_dispatching > 0; }
    int Select(TSocket s, unsigned msg, long mask);
    void Unselect();
    void Received();
    void SendBlocked();
    void Accepted();
    void ConnectStarted(std::chrono::milliseconds timeout);
    void ConnectFailed(int error);
    // True while handle s is registered here for some notification.
    bool Selects(TSocket s) const { return m_fd == s && m_mask != 0; }

protected:
    bool event(QEvent* e) override;

private:
    void Post(long bits, int error) {
        QCoreApplication::postEvent(this, new MessageEvent(m_msg, static_cast<std::uintptr_t>(m_fd),
                                                           makeSelectParam(bits, error)));
    }
    void OnReadable();
    void OnWritable();
    void StopConnectTimer() {
        if (m_connectTimer) {
            m_connectTimer->stop();
        }
    }
    void ArmRead(bool on) {
        if (m_read) {
            m_read->setEnabled(on);
        }
    }
    void ArmWrite(bool on) {
        if (m_write) {
            m_write->setEnabled(on);
        }
    }

    TSocketWindow::Handler m_handler;
    int m_dispatching = 0;
    bool m_orphaned = false;
    TSocket m_fd = INVALID_SOCKET;
    unsigned m_msg = 0;
    long m_mask = 0;
    int m_type = SOCK_STREAM;
    bool m_listening = false;
    bool m_connectPending = false;
    bool m_closePosted = false;
    QSocketNotifier* m_read = nullptr;
    QSocketNotifier* m_write = nullptr;
    QTimer* m_connectTimer = nullptr;
};

namespace {

// Runs f on the target's own thread: at once when called there, else queued
// (a queued call is dropped with the target).
template <typename F>
void onTargetThread(SocketMessageTarget* t, F f) {
    if (t->thread() == QThread::currentThread()) {
        f(t);
    } else {
        InvokeQueued(t, [t, f] { f(t); });
    }
}

}  // namespace

void SocketMessageTarget::Orphan() {
    m_handler = nullptr;
    m_orphaned = true;
    Unselect();
}

int SocketMessageTarget::Select(TSocket s, unsigned msg, long mask) {
    if (s != m_fd) {
        Unselect();
    }
    delete m_read;
    delete m_write;
    m_read = m_write = nullptr;
    m_fd = s;
    m_msg = msg;
    m_mask = mask;
    if (mask == 0) {
        return 0;
    }
    unsigned long nonBlocking = 1;
    if (WSocket_ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
        return SOCKET_ERROR;
    }
    int type = SOCK_STREAM;
    int len = sizeof type;
    WSocket_getsockopt(s, SOL_SOCKET, SO_TYPE, &type, &len);
    m_type = type;
    int acceptConn = 0;
    len = sizeof acceptConn;
    m_listening =
        WSocket_getsockopt(s, SOL_SOCKET, SO_ACCEPTCONN, &acceptConn, &len) == 0 && acceptConn != 0;
    sockaddr_storage peer{};
    socklen_t plen = sizeof peer;
    const bool connected = ::getpeername(s, reinterpret_cast<sockaddr*>(&peer), &plen) == 0;
    m_connectPending = type == SOCK_STREAM && !m_listening && !connected && (mask & FD_CONNECT);
    m_closePosted = false;

    m_read = new QSocketNotifier(s, QSocketNotifier::Read, this);
    QObject::connect(m_read, &QSocketNotifier::activated, this, [this] { OnReadable(); });
    m_write = new QSocketNotifier(s, QSocketNotifier::Write, this);
    QObject::connect(m_write, &QSocketNotifier::activated, this, [this] { OnWritable(); });
    // A connected (or datagram) handle gets its first FD_WRITE as soon as it
    // is writable.
    const bool canWrite = connected || (type != SOCK_STREAM && !m_listening);
    ArmWrite(m_connectPending || (canWrite && (mask & FD_WRITE)));
    ArmRead(!m_connectPending && (mask & (FD_READ | FD_ACCEPT | FD_CLOSE)));
    return 0;
}

void SocketMessageTarget::Unselect() {
    delete m_read;
    delete m_write;
    m_read = m_write = nullptr;
    // Notifications still queued belong to a handle that is gone or silenced;
    // a new handle may get the same number, so they must not reach it.
    QCoreApplication::removePostedEvents(this, static_cast<int>(m_msg ? m_msg : MSG_SOCKET_EVENT));
    m_fd = INVALID_SOCKET;
    m_mask = 0;
    m_connectPending = false;
    StopConnectTimer();
}

void SocketMessageTarget::OnWritable() {
    ArmWrite(false);
    if (m_connectPending) {
        m_connectPending = false;
        StopConnectTimer();
        int err = 0;
        socklen_t len = sizeof err;
        ::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &err, &len);
        if (err != 0) {
            Post(FD_CONNECT, SocketErrorFromErrno(err));
            return;
        }
        sockaddr_storage peer{};
        socklen_t plen = sizeof peer;
        if (::getpeername(m_fd, reinterpret_cast<sockaddr*>(&peer), &plen) != 0) {
            return;  // writable but never connected: connect() failed and was reported
        }
        Post(FD_CONNECT, 0);
        if (m_mask & FD_WRITE) {
            Post(FD_WRITE, 0);
        }
        ArmRead(m_mask & (FD_READ | FD_CLOSE));
        return;
    }
    if (m_mask & FD_WRITE) {
        Post(FD_WRITE, 0);
    }
}

void SocketMessageTarget::OnReadable() {
    ArmRead(false);
    if (m_listening) {
        if (m_mask & FD_ACCEPT) {
            Post(FD_ACCEPT, 0);
        }
        return;
    }
    if (m_type != SOCK_STREAM) {
        if (m_mask & FD_READ) {
            Post(FD_READ, 0);
        }
        return;
    }
    char probe;
    const ssize_t n = ::recv(m_fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) {
        if (m_mask & FD_READ) {
            Post(FD_READ, 0);
        }
        return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        ArmRead(true);
        return;
    }
    // End of stream or a failed connection: reported once; nothing follows it.
    const int error = n == 0 ? 0 : SocketErrorFromErrno(errno);
    if (!m_closePosted && (m_mask & FD_CLOSE)) {
        m_closePosted = true;
        Post(FD_CLOSE, error);
    }
}

void SocketMessageTarget::Received() {
    if (m_read && !m_read->isEnabled() && !m_connectPending && !m_closePosted && !m_listening &&
        (m_mask & (FD_READ | FD_CLOSE))) {
        m_read->setEnabled(true);
    }
}

void SocketMessageTarget::SendBlocked() {
    if (!m_connectPending && (m_mask & FD_WRITE)) {
        ArmWrite(true);
    }
}

void SocketMessageTarget::Accepted() {
    if (m_listening && (m_mask & FD_ACCEPT)) {
        ArmRead(true);
    }
}

void SocketMessageTarget::ConnectStarted(std::chrono::milliseconds timeout) {
    if (!m_connectPending) {
        return;
    }
    if (!m_connectTimer) {
        m_connectTimer = new QTimer(this);
        m_connectTimer->setSingleShot(true);
        m_connectTimer->setTimerType(Qt::PreciseTimer);  // a coarse one may end 5% early
        QObject::connect(m_connectTimer, &QTimer::timeout, this,
                         [this] { ConnectFailed(WSAETIMEDOUT); });
    }
    m_connectTimer->start(timeout);
}

void SocketMessageTarget::ConnectFailed(int error) {
    if (!m_connectPending) {
        return;
    }
    m_connectPending = false;
    StopConnectTimer();
    ArmWrite(false);
    Post(FD_CONNECT, error);
}

bool SocketMessageTarget::event(QEvent* e) {
    TMessage msg;
    {
        std::lock_guard guard(HandOverLock());
        msg.Msg = static_cast<unsigned>(e->type());
        const bool ours = msg.Msg > static_cast<unsigned>(QEvent::User) &&
                          msg.Msg < static_cast<unsigned>(QEvent::MaxUser);
        if (ours) {
            auto* me = static_cast<MessageEvent*>(e);
            msg.WParam = me->m_wParam;
            msg.LParam = me->m_lParam;
        }
        if (!ours) {
            msg.Msg = 0;
        }
    }
    if (msg.Msg == 0) {
        return QObject::event(e);
    }
    if (!m_handler) {
        return true;
    }
    ++m_dispatching;
    // The handler may destroy the socket; this object then only gets orphaned.
    TSocketWindow::Handler handler = m_handler;
    handler(msg);
    if (--m_dispatching == 0 && m_orphaned) {
        deleteLater();
    }
    return true;
}

// Lets other threads post to a target that may be destroyed meanwhile.
struct PostBox {
    SocketMessageTarget* target = nullptr;  // guarded by HandOverLock()

    void Post(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
        std::lock_guard guard(HandOverLock());
        if (target) {
            QCoreApplication::postEvent(target, new MessageEvent(msg, wParam, lParam));
        }
    }
};

TSocketWindow::TSocketWindow(Handler handler)
    : m_target(new SocketMessageTarget(std::move(handler))),
      m_postBox(std::make_shared<PostBox>()),
      m_threadId(std::this_thread::get_id()) {
    m_postBox->target = m_target;
}

TSocketWindow::~TSocketWindow() {
    {
        std::lock_guard guard(HandOverLock());
        m_postBox->target = nullptr;
    }
    m_target->Orphan();
    // Deleting a QObject from inside its own event() is unsafe: a dispatch in
    // progress deletes the orphan when it unwinds.
    if (!m_target->Dispatching()) {
        delete m_target;
    }
}

void TSocketWindow::PostMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
    m_postBox->Post(msg, wParam, lParam);
}

void TSocketWindow::PostMessageAfter(std::chrono::milliseconds delay, unsigned msg,
                                     std::uintptr_t wParam, std::intptr_t lParam) {
    std::shared_ptr<PostBox> box = m_postBox;
    QTimer::singleShot(delay, Qt::PreciseTimer, m_target,
                       [box, msg, wParam, lParam] { box->Post(msg, wParam, lParam); });
}

TSocketWindow::Poster TSocketWindow::MakePoster() const {
    std::shared_ptr<PostBox> box = m_postBox;
    return [box](unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
        box->Post(msg, wParam, lParam);
    };
}

namespace {

constexpr int kPumped = 0x50554D50;

// Runs the events pending now in a nested loop that ends behind them. Such a
// loop returns at once, running nothing, when the thread's event loop has
// been told to quit (QCoreApplication::quit, QThread::quit), and it ends
// early when that happens while it runs: false in both cases.
bool runPendingEvents() {
    QEventLoop loop;
    QMetaObject::invokeMethod(
        &loop, [&loop] { loop.exit(kPumped); }, Qt::QueuedConnection);
    return loop.exec() == kPumped;
}

}  // namespace

bool TSocketWindow::ApplicationClosing() {
    return QCoreApplication::instance() == nullptr || QCoreApplication::closingDown();
}

bool TSocketWindow::ProcessPendingMessages(bool ownThreadOnly) {
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher) {
        return true;
    }
    if (!runPendingEvents()) {
        return false;
    }
    if (!ownThreadOnly) {
        return true;
    }
    // Bounded: a handler that keeps posting must not hold the caller forever.
    for (int round = 0; round < 1000; ++round) {
        QCoreApplication::sendPostedEvents();
        if (!dispatcher->processEvents(QEventLoop::AllEvents)) {
            break;
        }
    }
    return true;
}

int WSocket_WSAAsyncSelect(TSocket s, TSocketWindow* hWnd, unsigned wMsg, long lEvent) {
    if (!hWnd) {
        WSocket_WSASetLastError(vandrel::net::WSAEINVAL);
        return SOCKET_ERROR;
    }
    return hWnd->m_target->Select(s, wMsg, lEvent);
}

void TSocketWindow::NoteReceived() {
    onTargetThread(m_target, [](SocketMessageTarget* t) { t->Received(); });
}

void TSocketWindow::NoteSendBlocked() {
    onTargetThread(m_target, [](SocketMessageTarget* t) { t->SendBlocked(); });
}

void TSocketWindow::NoteAccepted() {
    onTargetThread(m_target, [](SocketMessageTarget* t) { t->Accepted(); });
}

void TSocketWindow::NoteClosing(TSocket s) {
    // Close runs on the socket's own thread, where the notifiers live.
    if (m_target->Selects(s)) {
        m_target->Unselect();
    }
}

void TSocketWindow::NoteConnecting(TSocket s, std::chrono::milliseconds timeout) {
    if (m_target->Selects(s) && m_target->thread() == QThread::currentThread()) {
        m_target->ConnectStarted(timeout);
    }
}

bool TSocketWindow::NoteConnectFailed(TSocket s, int socketError) {
    if (!m_target->Selects(s) || m_target->thread() != QThread::currentThread()) {
        return false;
    }
    m_target->ConnectFailed(socketError);
    return true;
}
}  // namespace vandrel::net
