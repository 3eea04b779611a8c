#include "BlockingPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <vector>

#include "support/LoopbackListener.h"

namespace vandrel::bench {

namespace {

constexpr std::size_t kChunk = 64 * 1024;

int connectLoopback(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sin.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0) {
        throw std::runtime_error("connect failed");
    }
    return fd;
}

std::size_t writeBytes(int fd, std::size_t bytes) {
    std::vector<char> buf(kChunk, 'v');
    std::size_t done = 0;
    while (done < bytes) {
        const ssize_t n = ::send(fd, buf.data(), std::min(kChunk, bytes - done), MSG_NOSIGNAL);
        if (n <= 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::size_t readBytes(int fd, std::size_t bytes) {
    std::vector<char> buf(kChunk);
    std::size_t done = 0;
    while (done < bytes) {
        const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
        if (n <= 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

}  // namespace

BlockingPeer::BlockingPeer(Role role, std::size_t bytes) : m_role(role), m_bytes(bytes) {
    m_listenFd = test::listenLoopback(m_port, 1);
    if (::pipe(m_wakeFd) != 0) {
        throw std::runtime_error("peer setup failed");
    }
    m_thread = std::thread([this] { run(); });
}

BlockingPeer::~BlockingPeer() {
    release();
    join();
    ::close(m_listenFd);
    ::close(m_wakeFd[0]);
    ::close(m_wakeFd[1]);
}

void BlockingPeer::release() {
    if (m_wakeFd[1] >= 0) {
        const char b = 1;
        (void)!::write(m_wakeFd[1], &b, 1);
    }
}

std::size_t BlockingPeer::join() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
    return m_moved;
}

void BlockingPeer::run() {
    struct Finish {
        std::atomic<bool>& flag;
        ~Finish() { flag = true; }
    } finish{m_finished};
    pollfd p[2] = {{m_listenFd, POLLIN, 0}, {m_wakeFd[0], POLLIN, 0}};
    if (::poll(p, 2, 30000) <= 0 || !(p[0].revents & POLLIN)) {
        return;
    }
    const int fd = ::accept(m_listenFd, nullptr, nullptr);
    if (fd < 0) {
        return;
    }
    switch (m_role) {
        case Role::Source:
            m_moved = writeBytes(fd, m_bytes);
            break;
        case Role::Sink:
            m_moved = readBytes(fd, m_bytes);
            break;
        case Role::Hold: {
            pollfd w{m_wakeFd[0], POLLIN, 0};
            ::poll(&w, 1, 60000);
            break;
        }
    }
    ::close(fd);
}

double plainReadLoopMBps(std::size_t bytes) {
    BlockingPeer source(BlockingPeer::Role::Source, bytes);
    const int fd = connectLoopback(source.port());
    const auto start = std::chrono::steady_clock::now();
    const std::size_t got = readBytes(fd, bytes);
    const double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ::close(fd);
    source.join();
    return static_cast<double>(got) / (1 << 20) / secs;
}

}  // namespace vandrel::bench
