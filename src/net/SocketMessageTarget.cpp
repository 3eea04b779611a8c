#include "net/SocketMessageTarget.h"

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

void SocketMessageTarget::PostTo(SocketMessageTarget* target, unsigned msg, std::uintptr_t wParam,
                                 std::intptr_t lParam) {
    QCoreApplication::postEvent(target, new MessageEvent(msg, wParam, lParam));
}

void SocketMessageTarget::Post(long bits, int error) {
    PostTo(this, m_msg, static_cast<std::uintptr_t>(m_fd), makeSelectParam(bits, error));
}

void SocketMessageTarget::Orphan() {
    m_handler = nullptr;
    m_orphaned = true;
    Unselect();
}

int SocketMessageTarget::Select(SocketHandle s, unsigned msg, long mask) {
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
    SocketMessage msg;
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
    SocketWindow::Handler handler = m_handler;
    handler(msg);
    if (--m_dispatching == 0 && m_orphaned) {
        deleteLater();
    }
    return true;
}

}  // namespace vandrel::net
