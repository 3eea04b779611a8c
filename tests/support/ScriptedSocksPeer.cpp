#include "support/ScriptedSocksPeer.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "support/LoopbackListener.h"

namespace vandrel::test {

namespace {

constexpr int kPollMs = 50;
constexpr auto kStepTimeout = std::chrono::seconds(10);
constexpr auto kBytePause = std::chrono::milliseconds(5);

bool sendAll(int fd, const std::uint8_t* data, std::size_t len) {
    while (len > 0) {
        const ssize_t n = ::send(fd, data, len, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        data += n;
        len -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

ScriptedSocksPeer::ScriptedSocksPeer(std::vector<Step> script, Then then)
    : m_script(std::move(script)), m_then(then) {
    m_listenFd = listenLoopback(m_port, 1);
    m_thread = std::thread([this] { run(); });
}

ScriptedSocksPeer::~ScriptedSocksPeer() {
    m_stop = true;
    m_thread.join();
    ::close(m_listenFd);
}

std::vector<ScriptedSocksPeer::Bytes> ScriptedSocksPeer::requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

// Waits for n bytes, polling so that the destructor can stop the wait.
bool ScriptedSocksPeer::readExactly(int fd, std::size_t n, Bytes& out) {
    const auto deadline = std::chrono::steady_clock::now() + kStepTimeout;
    while (out.size() < n) {
        if (m_stop || std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) <= 0) {
            continue;
        }
        std::uint8_t buf[512];
        const ssize_t got = ::recv(fd, buf, std::min(sizeof buf, n - out.size()), 0);
        if (got <= 0) {
            return false;
        }
        out.insert(out.end(), buf, buf + got);
    }
    return true;
}

bool ScriptedSocksPeer::play(int fd, const Step& step) {
    Bytes request;
    const bool complete = readExactly(fd, step.expect, request);
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(request);
    }
    if (!complete) {
        return false;
    }
    if (!step.byteByByte) {
        return sendAll(fd, step.reply.data(), step.reply.size());
    }
    for (const std::uint8_t b : step.reply) {
        if (!sendAll(fd, &b, 1)) {
            return false;
        }
        std::this_thread::sleep_for(kBytePause);
    }
    return true;
}

void ScriptedSocksPeer::echo(int fd) {
    while (!m_stop) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) <= 0) {
            continue;
        }
        std::uint8_t buf[4096];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0 || !sendAll(fd, buf, static_cast<std::size_t>(n))) {
            return;
        }
    }
}

void ScriptedSocksPeer::run() {
    int fd = -1;
    while (!m_stop && fd < 0) {
        pollfd p{m_listenFd, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) > 0) {
            fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        }
    }
    if (fd < 0) {
        return;
    }
    m_accepted = true;
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    bool playing = true;
    for (const Step& step : m_script) {
        if (!(playing = play(fd, step))) {
            break;
        }
        ++m_stepsDone;
    }
    if (playing && m_then == Then::Echo) {
        echo(fd);
    }
    while (playing && m_then == Then::Hold && !m_stop) {
        std::uint8_t buf[512];  // read and dropped
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) > 0 && ::recv(fd, buf, sizeof buf, 0) <= 0) {
            break;
        }
    }
    m_clientGone = true;
    ::close(fd);
}

}  // namespace vandrel::test
