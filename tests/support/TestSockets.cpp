#include "support/TestSockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace vandrel::test {

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in makeAddress(const std::string& address, std::uint16_t port) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &result.sin_addr);
    return result;
}

int msLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

UdpProbe::UdpProbe(const std::string& address, std::uint16_t port) {
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        return;
    }
    int on = 1;
    ::setsockopt(m_fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in local = makeAddress(address, port);
    socklen_t length = sizeof local;
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        ::close(m_fd);
        m_fd = -1;
        return;
    }
    m_port = ntohs(local.sin_port);
}

UdpProbe::~UdpProbe() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool UdpProbe::sendTo(const std::string& address, std::uint16_t port, const std::string& bytes) {
    sockaddr_in to = makeAddress(address, port);
    return ::sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to),
                    sizeof to) == static_cast<ssize_t>(bytes.size());
}

std::vector<Datagram> UdpProbe::receiveAll(milliseconds quiet, milliseconds total) {
    std::vector<Datagram> result;
    auto end = Clock::now() + total;
    while (true) {
        int wait = msLeft(end);
        if (!result.empty()) {
            wait = std::min(wait, static_cast<int>(quiet.count()));
        }
        pollfd p{m_fd, POLLIN, 0};
        if (wait <= 0 || ::poll(&p, 1, wait) <= 0) {
            return result;
        }
        char buffer[70000];
        sockaddr_in from{};
        socklen_t length = sizeof from;
        ssize_t n =
            ::recvfrom(m_fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
        if (n < 0) {
            return result;
        }
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        result.push_back(
            {text, ntohs(from.sin_port), std::string(buffer, static_cast<std::size_t>(n))});
    }
}

TcpClient::~TcpClient() {
    close();
}

int TcpClient::connectTo(const std::string& address, std::uint16_t port, milliseconds timeout) {
    close();
    m_received.clear();
    m_peerClosed = false;
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in to = makeAddress(address, port);
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 && errno != EINPROGRESS) {
        return errno;
    }
    pollfd p{m_fd, POLLOUT, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) {
        return ETIMEDOUT;
    }
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &length);
    return error;
}

bool TcpClient::send(const std::string& bytes) {
    std::size_t done = 0;
    while (m_fd >= 0 && done < bytes.size()) {
        ssize_t n = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EAGAIN) {
            pollfd p{m_fd, POLLOUT, 0};
            ::poll(&p, 1, 1000);
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return m_fd >= 0;
}

bool TcpClient::readSome(milliseconds timeout) {
    pollfd p{m_fd, POLLIN, 0};
    if (m_fd < 0 || m_peerClosed || ::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) {
        return false;
    }
    char buffer[65536];
    ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
    if (n <= 0) {
        m_peerClosed = n == 0 || errno != EAGAIN;
        m_closeError = n == 0 ? 0 : errno;
        return false;
    }
    m_received.append(buffer, static_cast<std::size_t>(n));
    return true;
}

bool TcpClient::readUntil(const std::string& needle, milliseconds timeout) {
    auto end = Clock::now() + timeout;
    while (m_received.find(needle) == std::string::npos) {
        if (msLeft(end) == 0 || m_peerClosed) {
            return false;
        }
        readSome(milliseconds(msLeft(end)));
    }
    return true;
}

bool TcpClient::readUntilClosed(milliseconds timeout) {
    auto end = Clock::now() + timeout;
    while (!m_peerClosed && msLeft(end) > 0) {
        readSome(milliseconds(msLeft(end)));
    }
    return m_peerClosed;
}

void TcpClient::readFor(milliseconds time) {
    auto end = Clock::now() + time;
    while (!m_peerClosed && msLeft(end) > 0) {
        readSome(milliseconds(msLeft(end)));
    }
}

void TcpClient::close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

}  // namespace vandrel::test
