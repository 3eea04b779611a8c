#include "support/ScriptedPeer.h"

#include "support/LoopbackListener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace vandrel::test {

ScriptedPeer::ScriptedPeer() {
    m_listenFd = listenLoopback(m_port);
    if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::runtime_error("pipe");
    }
    m_thread = std::thread([this] { run(); });
}

ScriptedPeer::~ScriptedPeer() {
    m_stop = true;
    const char c = 0;
    [[maybe_unused]] auto n = ::write(m_wake[1], &c, 1);
    m_thread.join();
    dropClient();
    ::close(m_listenFd);
    ::close(m_wake[0]);
    ::close(m_wake[1]);
}

void ScriptedPeer::send(const Bytes& bytes) {
    {
        std::lock_guard lock(m_mutex);
        m_outgoing.push_back(bytes);
    }
    const char c = 0;
    [[maybe_unused]] auto n = ::write(m_wake[1], &c, 1);
}

void ScriptedPeer::closeClient() {
    {
        std::lock_guard lock(m_mutex);
        m_closeRequested = true;
    }
    const char c = 0;
    [[maybe_unused]] auto n = ::write(m_wake[1], &c, 1);
}

void ScriptedPeer::resetClient() {
    {
        std::lock_guard lock(m_mutex);
        m_resetRequested = true;
    }
    const char c = 0;
    [[maybe_unused]] auto n = ::write(m_wake[1], &c, 1);
}

ScriptedPeer::Bytes ScriptedPeer::received() const {
    std::lock_guard lock(m_mutex);
    return m_received;
}

void ScriptedPeer::clearReceived() {
    std::lock_guard lock(m_mutex);
    m_received.clear();
}

void ScriptedPeer::dropClient() {
    if (m_clientFd >= 0) {
        ::close(m_clientFd);
        m_clientFd = -1;
    }
}

void ScriptedPeer::flushOutgoing() {
    std::unique_lock lock(m_mutex);
    if (m_clientFd >= 0 && m_resetRequested) {
        m_resetRequested = false;
        m_outgoing.clear();
        const linger hard{1, 0};
        ::setsockopt(m_clientFd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        lock.unlock();
        dropClient();
        return;
    }
    while (m_clientFd >= 0 && !m_outgoing.empty()) {
        const Bytes chunk = std::move(m_outgoing.front());
        m_outgoing.pop_front();
        lock.unlock();
        std::size_t done = 0;
        while (done < chunk.size()) {
            const ssize_t n =
                ::send(m_clientFd, chunk.data() + done, chunk.size() - done, MSG_NOSIGNAL);
            if (n <= 0) {
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        lock.lock();
    }
    if (m_clientFd >= 0 && m_outgoing.empty() && m_closeRequested) {
        m_closeRequested = false;
        lock.unlock();
        dropClient();
    }
}

void ScriptedPeer::run() {
    while (!m_stop) {
        pollfd fds[2] = {{m_wake[0], POLLIN, 0}, {-1, POLLIN, 0}};
        fds[1].fd = m_clientFd >= 0 ? m_clientFd : m_listenFd;
        ::poll(fds, 2, 50);
        char drain[64];
        while (::read(m_wake[0], drain, sizeof drain) > 0) {
        }
        if (m_clientFd < 0 && (fds[1].revents & POLLIN)) {
            m_clientFd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (m_clientFd >= 0) {
                const int one = 1;
                ::setsockopt(m_clientFd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                m_clientGone = false;
                ++m_accepted;
            }
        } else if (m_clientFd >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            std::uint8_t buf[4096];
            const ssize_t n = ::recv(m_clientFd, buf, sizeof buf, 0);
            if (n > 0) {
                std::lock_guard lock(m_mutex);
                m_received.insert(m_received.end(), buf, buf + n);
            } else {
                m_clientGone = true;
                dropClient();
            }
        }
        flushOutgoing();
    }
}

}  // namespace vandrel::test
