#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <chrono>
#include <cstdint>

#include "net/SocketWindow.h"

namespace vandrel::net {

// The QObject behind a SocketWindow. It may outlive its SocketWindow by one
// event-loop pass when the socket is destroyed from inside its own dispatch.
class SocketMessageTarget : public QObject {
public:
    explicit SocketMessageTarget(SocketWindow::Handler handler) : m_handler(std::move(handler)) {}
    // Queues a message for target behind the events pending in its thread.
    static void PostTo(SocketMessageTarget* target, unsigned msg, std::uintptr_t wParam,
                       std::intptr_t lParam);
    ~SocketMessageTarget() override { Unselect(); }

    void Orphan();
    bool Dispatching() const { return m_dispatching > 0; }
    int Select(SocketHandle s, unsigned msg, long mask);
    void Unselect();
    void Received();
    void SendBlocked();
    void Accepted();
    void ConnectStarted(std::chrono::milliseconds timeout);
    void ConnectFailed(int error);
    // True while handle s is registered here for some notification.
    bool Selects(SocketHandle s) const { return m_fd == s && m_mask != 0; }

protected:
    bool event(QEvent* e) override;

private:
    void Post(long bits, int error);
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

    SocketWindow::Handler m_handler;
    int m_dispatching = 0;
    bool m_orphaned = false;
    SocketHandle m_fd = INVALID_SOCKET;
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

}  // namespace vandrel::net
