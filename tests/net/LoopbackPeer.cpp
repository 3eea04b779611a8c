#include "LoopbackPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <stdexcept>

namespace nettest {

namespace {

int boundLoopbackSocket(std::uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw std::runtime_error("socket failed");
    }
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sin;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len) != 0) {
        ::close(fd);
        throw std::runtime_error("bind failed");
    }
    port = ntohs(sin.sin_port);
    return fd;
}

}  // namespace

LoopbackServer::LoopbackServer() {
    m_listenFd = boundLoopbackSocket(m_port);
    ::listen(m_listenFd, 4);
}

LoopbackServer::~LoopbackServer() {
    Join();
    ::close(m_listenFd);
}

void LoopbackServer::Serve(std::function<void(int fd)> session) {
    m_thread = std::thread([this, session = std::move(session)] {
        pollfd p{m_listenFd, POLLIN, 0};
        if (::poll(&p, 1, 10000) == 1) {
            const int fd = ::accept(m_listenFd, nullptr, nullptr);
            if (fd >= 0) {
                SetTimeouts(fd, 20);
                session(fd);
                ::close(fd);
            }
        }
        m_done = true;
    });
}

void LoopbackServer::ServeSink() {
    Serve([](int fd) {
        std::uint64_t sum = 0;
        ReadToEnd(fd, sum);
    });
}

void LoopbackServer::Join() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

std::uint16_t UnusedPort() {
    std::uint16_t port = 0;
    ::close(boundLoopbackSocket(port));
    return port;
}

void SetTimeouts(int fd, int seconds) {
    timeval tv{seconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

bool WriteAll(int fd, const void* data, std::size_t len) {
    const auto* p = static_cast<const char*>(data);
    while (len > 0) {
        const ssize_t n = ::send(fd, p, len, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        p += n;
        len -= static_cast<std::size_t>(n);
    }
    return true;
}

std::uint64_t ReadToEnd(int fd, std::uint64_t& sum) {
    std::uint64_t total = 0;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            return total;
        }
        sum = Fold(sum, buf, static_cast<std::size_t>(n));
        total += static_cast<std::uint64_t>(n);
    }
}

void ResetClose(int fd) {
    linger l{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

std::uint64_t Fold(std::uint64_t sum, const void* data, std::size_t len) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < len; ++i) {
        sum = (sum ^ p[i]) * 1099511628211ull;
    }
    return sum;
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (!QAbstractEventDispatcher::instance()->processEvents(QEventLoop::AllEvents)) {
            ::usleep(500);
        }
    }
    return true;
}

void PumpFor(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::sendPostedEvents();
        if (!QAbstractEventDispatcher::instance()->processEvents(QEventLoop::AllEvents)) {
            ::usleep(500);
        }
    }
}

}  // namespace nettest
