#include "support/LoopbackServer.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "support/LoopbackListener.h"

namespace vandrel::test {

LoopbackServer::LoopbackServer() {
    m_listenFd = listenLoopback(m_port);
}

LoopbackServer::~LoopbackServer() {
    join();
    ::close(m_listenFd);
}

void LoopbackServer::serve(std::function<void(int fd)> session) {
    m_thread = std::thread([this, session = std::move(session)] {
        pollfd p{m_listenFd, POLLIN, 0};
        if (::poll(&p, 1, 10000) == 1) {
            const int fd = ::accept(m_listenFd, nullptr, nullptr);
            if (fd >= 0) {
                setTimeouts(fd, 20);
                session(fd);
                ::close(fd);
            }
        }
        m_done = true;
    });
}

void LoopbackServer::serveSink() {
    serve([](int fd) {
        std::uint64_t sum = 0;
        readToEnd(fd, sum);
    });
}

void LoopbackServer::join() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void setTimeouts(int fd, int seconds) {
    timeval tv{seconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

bool writeAll(int fd, const void* data, std::size_t len) {
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

std::uint64_t readToEnd(int fd, std::uint64_t& sum) {
    std::uint64_t total = 0;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            return total;
        }
        sum = fold(sum, buf, static_cast<std::size_t>(n));
        total += static_cast<std::uint64_t>(n);
    }
}

void resetClose(int fd) {
    linger l{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

std::uint64_t fold(std::uint64_t sum, const void* data, std::size_t len) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < len; ++i) {
        sum = (sum ^ p[i]) * 1099511628211ull;
    }
    return sum;
}

}  // namespace vandrel::test
