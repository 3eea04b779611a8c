#include "support/EchoServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <vector>

#include "support/LoopbackListener.h"

namespace vandrel::test {

namespace {

struct Client {
    int fd;
    std::string pending;  // received, not yet echoed
};

// Reads what is there and echoes as much as the socket takes; false when
// the client has gone.
bool serve(Client& c, short revents) {
    if (revents & (POLLIN | POLLHUP | POLLERR)) {
        char buf[65536];
        const ssize_t n = ::recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            return false;
        }
        if (n > 0) {
            c.pending.append(buf, static_cast<std::size_t>(n));
        }
    }
    if (!c.pending.empty()) {
        const ssize_t n =
            ::send(c.fd, c.pending.data(), c.pending.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        if (n > 0) {
            c.pending.erase(0, static_cast<std::size_t>(n));
        }
    }
    return true;
}

}  // namespace

EchoServer::EchoServer() {
    m_listenFd = listenLoopback(m_port, 16);
    if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::runtime_error("pipe");
    }
    m_thread = std::thread([this] { run(); });
}

EchoServer::~EchoServer() {
    m_stop = true;
    const char c = 0;
    [[maybe_unused]] auto n = ::write(m_wake[1], &c, 1);
    m_thread.join();
    ::close(m_listenFd);
    ::close(m_wake[0]);
    ::close(m_wake[1]);
}

void EchoServer::run() {
    std::vector<Client> clients;
    while (!m_stop) {
        std::vector<pollfd> fds = {{m_wake[0], POLLIN, 0}, {m_listenFd, POLLIN, 0}};
        for (const Client& c : clients) {
            fds.push_back(
                {c.fd, static_cast<short>(POLLIN | (c.pending.empty() ? 0 : POLLOUT)), 0});
        }
        if (::poll(fds.data(), fds.size(), 200) < 0) {
            continue;
        }
        if (fds[1].revents & POLLIN) {
            const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                clients.push_back({fd, {}});
                ++m_accepted;
                ++m_open;
            }
        }
        for (std::size_t i = 0, slot = 2; slot < fds.size(); ++slot) {
            if (serve(clients[i], fds[slot].revents)) {
                ++i;
                continue;
            }
            ::close(clients[i].fd);
            clients.erase(clients.begin() + static_cast<long>(i));
            --m_open;
        }
    }
    for (const Client& c : clients) {
        ::close(c.fd);
    }
}

}  // namespace vandrel::test
