#include "support/LoopbackServer.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "support/LoopbackListener.h"

namespace vandrel::test {

LoopbackServer::LoopbackServer() {
    m_listenFd = listenLoopback(m_port, 16);
}

LoopbackServer::~LoopbackServer() {
    stop();
    ::close(m_listenFd);
}

void LoopbackServer::serve(Session session, Connections which) {
    m_acceptor = std::thread([this, session = std::move(session), which] {
        accept(session, which);
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
    if (m_acceptor.joinable()) {
        m_acceptor.join();
    }
}

void LoopbackServer::stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        for (const int fd : m_open) {
            ::shutdown(fd, SHUT_RDWR);
        }
    }
    join();
}

void LoopbackServer::accept(const Session& session, Connections which) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!m_stop) {
        if (which == Connections::One && std::chrono::steady_clock::now() > deadline) {
            break;
        }
        pollfd p{m_listenFd, POLLIN, 0};
        const int fd =
            ::poll(&p, 1, 50) == 1 ? ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC) : -1;
        if (fd < 0) {
            continue;
        }
        ++m_accepted;
        if (which != Connections::EachAtOnce) {
            run(session, fd);
            if (which == Connections::One) {
                break;
            }
            continue;
        }
        m_running.remove_if([](Running& r) {
            const bool ended = r.ended;
            if (ended) {
                r.thread.join();
            }
            return ended;
        });
        Running& r = m_running.emplace_back();
        r.thread = std::thread([this, &session, fd, &r] {
            run(session, fd);
            r.ended = true;
        });
    }
    for (Running& r : m_running) {  // before the session they share goes
        r.thread.join();
    }
}

void LoopbackServer::run(const Session& session, int fd) {
    {
        std::lock_guard lock(m_mutex);
        m_open.insert(fd);
        if (m_stop) {
            ::shutdown(fd, SHUT_RDWR);
        }
    }
    setTimeouts(fd, 20);
    session(fd);
    {
        std::lock_guard lock(m_mutex);
        m_open.erase(fd);
    }
    ::close(fd);
}

EchoServer::EchoServer() {
    serve(echoBack, Connections::EachAtOnce);
}

void echoBack(int fd) {
    std::string pending;  // received, not yet echoed
    char buf[65536];
    for (;;) {
        pollfd p{fd, static_cast<short>(POLLIN | (pending.empty() ? 0 : POLLOUT)), 0};
        if (::poll(&p, 1, 200) < 0 && errno != EINTR) {
            return;
        }
        if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                return;
            }
            pending.append(buf, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
        }
        if (!pending.empty()) {
            const ssize_t n =
                ::send(fd, pending.data(), pending.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return;
            }
            pending.erase(0, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
        }
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
    for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) {
        sum = fold(sum, buf, static_cast<std::size_t>(n));
        total += static_cast<std::uint64_t>(n);
    }
    return total;
}

std::string readBytes(int fd, std::size_t n) {
    std::string out;
    char buf[4096];
    for (ssize_t got = 1; out.size() < n && got > 0;) {
        got = ::recv(fd, buf, std::min(sizeof buf, n - out.size()), 0);
        out.append(buf, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    }
    return out;
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

std::string patternText(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        s[i] = static_cast<char>(patternByte(i));
    }
    return s;
}

}  // namespace vandrel::test
