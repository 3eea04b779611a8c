#include "net/SocketWindow.h"

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
#include "net/SocketMessageTarget.h"

namespace vandrel::net {

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

// Lets other threads post to a target that may be destroyed meanwhile.
struct PostBox {
    SocketMessageTarget* target = nullptr;  // guarded by HandOverLock()

    void Post(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
        std::lock_guard guard(HandOverLock());
        if (target) {
            SocketMessageTarget::PostTo(target, msg, wParam, lParam);
        }
    }
};

SocketWindow::SocketWindow(Handler handler)
    : m_target(new SocketMessageTarget(std::move(handler))),
      m_postBox(std::make_shared<PostBox>()),
      m_threadId(std::this_thread::get_id()) {
    m_postBox->target = m_target;
}

SocketWindow::~SocketWindow() {
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

void SocketWindow::PostMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
    m_postBox->Post(msg, wParam, lParam);
}

void SocketWindow::PostMessageAfter(std::chrono::milliseconds delay, unsigned msg,
                                    std::uintptr_t wParam, std::intptr_t lParam) {
    std::shared_ptr<PostBox> box = m_postBox;
    QTimer::singleShot(delay, Qt::PreciseTimer, m_target,
                       [box, msg, wParam, lParam] { box->Post(msg, wParam, lParam); });
}

SocketWindow::Poster SocketWindow::MakePoster() const {
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

bool SocketWindow::ApplicationClosing() {
    return QCoreApplication::instance() == nullptr || QCoreApplication::closingDown();
}

bool SocketWindow::ProcessPendingMessages(bool ownThreadOnly) {
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

int WSocket_WSAAsyncSelect(SocketHandle s, SocketWindow* hWnd, unsigned wMsg, long lEvent) {
    if (!hWnd) {
        WSocket_WSASetLastError(vandrel::net::WSAEINVAL);
        return SOCKET_ERROR;
    }
    return hWnd->m_target->Select(s, wMsg, lEvent);
}

void SocketWindow::NoteReceived() {
    onTargetThread(m_target, [](SocketMessageTarget* t) { t->Received(); });
}

void SocketWindow::NoteSendBlocked() {
    onTargetThread(m_target, [](SocketMessageTarget* t) { t->SendBlocked(); });
}

void SocketWindow::NoteAccepted() {
    onTargetThread(m_target, [](SocketMessageTarget* t) { t->Accepted(); });
}

void SocketWindow::NoteClosing(SocketHandle s) {
    // Close runs on the socket's own thread, where the notifiers live.
    if (m_target->Selects(s)) {
        m_target->Unselect();
    }
}

void SocketWindow::NoteConnecting(SocketHandle s, std::chrono::milliseconds timeout) {
    if (m_target->Selects(s) && m_target->thread() == QThread::currentThread()) {
        m_target->ConnectStarted(timeout);
    }
}

bool SocketWindow::NoteConnectFailed(SocketHandle s, int socketError) {
    if (!m_target->Selects(s) || m_target->thread() != QThread::currentThread()) {
        return false;
    }
    m_target->ConnectFailed(socketError);
    return true;
}
}  // namespace vandrel::net
