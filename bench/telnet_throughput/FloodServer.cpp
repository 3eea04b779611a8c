#include "FloodServer.h"

#include "support/LoopbackListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace vandrel::bench {

FloodServer::FloodServer(const std::vector<std::uint8_t>& stream) : m_stream(stream) {
    m_listenFd = test::listenLoopback(m_port, 1);
    m_thread = std::thread([this] { run(); });
}

FloodServer::~FloodServer() {
    m_stop = true;
    m_thread.join();
    ::close(m_listenFd);
}

bool FloodServer::wait(std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!m_done && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return m_done;
}

void FloodServer::run() {
    int fd = -1;
    while (!m_stop && fd < 0) {
        pollfd pfd{m_listenFd, POLLIN, 0};
        if (::poll(&pfd, 1, 50) > 0) {
            fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        }
    }
    std::size_t pos = 0;
    std::uint8_t sink[4096];
    while (!m_stop && fd >= 0 && pos < m_stream.size()) {
        pollfd pfd{fd, POLLIN | POLLOUT, 0};
        if (::poll(&pfd, 1, 100) <= 0) {
            continue;
        }
        if (pfd.revents & POLLIN) {
            const ssize_t n = ::recv(fd, sink, sizeof sink, MSG_DONTWAIT);
            if (n > 0) {
                m_received += static_cast<std::uint64_t>(n);
            }
        }
        if (pfd.revents & POLLOUT) {
            const std::size_t chunk = std::min<std::size_t>(m_stream.size() - pos, 256 * 1024);
            const ssize_t n = ::send(fd, m_stream.data() + pos, chunk, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n > 0) {
                pos += static_cast<std::size_t>(n);
                m_sent += static_cast<std::uint64_t>(n);
            }
        }
        if (pfd.revents & (POLLERR | POLLHUP)) {
            break;
        }
    }
    if (fd >= 0) {
        ::shutdown(fd, SHUT_WR);
        // Let the client read to the end and close its side first.
        for (int i = 0; i < 600 && !m_stop; ++i) {
            pollfd pfd{fd, POLLIN, 0};
            if (::poll(&pfd, 1, 100) > 0 && ::recv(fd, sink, sizeof sink, MSG_DONTWAIT) <= 0) {
                break;
            }
        }
        ::close(fd);
    }
    m_done = true;
}

std::vector<std::uint8_t> makeFloodStream(std::size_t totalBytes, std::size_t& dataBytes) {
    std::vector<std::uint8_t> out = {255, 253, 24, 255, 251, 1, 255, 251, 3, 255, 253, 31};
    out.reserve(totalBytes + 16);
    dataBytes = 0;
    std::size_t column = 0;
    std::size_t sinceIac = 0;
    while (out.size() < totalBytes) {
        if (sinceIac >= 1000) {
            out.push_back(255);
            out.push_back(255);
            ++dataBytes;
            sinceIac = 0;
            continue;
        }
        if (column == 78) {
            out.push_back('\r');
            out.push_back('\n');
            dataBytes += 2;
            sinceIac += 2;
            column = 0;
            continue;
        }
        out.push_back(static_cast<std::uint8_t>('!' + (dataBytes % 94)));
        ++dataBytes;
        ++sinceIac;
        ++column;
    }
    return out;
}

}  // namespace vandrel::bench
