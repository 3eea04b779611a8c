#include "TelnetPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vandrel::bench {

namespace {

constexpr std::uint8_t kIac = 255;
constexpr std::uint8_t kDo = 253;
constexpr std::uint8_t kWill = 251;
constexpr std::uint8_t kWont = 252;
constexpr std::uint8_t kSb = 250;
constexpr std::uint8_t kSe = 240;
constexpr std::uint8_t kTimingMark = 6;

}  // namespace

TelnetPeer::TelnetPeer(const std::string& address, Mode mode,
                       const std::vector<std::uint8_t>* stream)
    : m_mode(mode), m_stream(stream) {
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int on = 1;
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(23);
    ::inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        ::listen(m_listenFd, 1) != 0) {
        m_error = address + ":23: " + std::strerror(errno);
        return;
    }
    m_thread = std::thread([this] { Run(); });
}

TelnetPeer::~TelnetPeer() {
    m_stop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
    ::close(m_listenFd);
}

void TelnetPeer::Run() {
    int fd = -1;
    while (!m_stop && fd < 0) {
        pollfd pfd{m_listenFd, POLLIN, 0};
        if (::poll(&pfd, 1, 50) > 0) {
            fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        }
    }
    if (fd < 0) {
        return;
    }
    m_acceptTime = std::chrono::steady_clock::now();
    m_accepted = true;
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (m_mode == Mode::Flood) {
        Flood(fd);
    } else {
        Echo(fd);
    }
    ::close(fd);
}

void TelnetPeer::Flood(int fd) {
    // The stream is shared by every peer: it is sent from where it is, then the mark.
    const std::vector<std::uint8_t>& stream = *m_stream;
    const std::uint8_t mark[] = {kIac, kDo, kTimingMark};
    const std::size_t total = stream.size() + sizeof mark;
    std::size_t pos = 0;
    std::uint8_t in[4096];
    std::uint8_t last[2] = {0, 0};
    while (!m_stop) {
        short events = POLLIN;
        if (pos < total) {
            events |= POLLOUT;
        }
        pollfd pfd{fd, events, 0};
        if (::poll(&pfd, 1, 50) <= 0) {
            continue;
        }
        if (pfd.revents & POLLOUT) {
            const bool inStream = pos < stream.size();
            const std::uint8_t* from =
                inStream ? stream.data() + pos : mark + (pos - stream.size());
            const std::size_t left = inStream ? stream.size() - pos : total - pos;
            const ssize_t n =
                ::send(fd, from, std::min<std::size_t>(left, 1 << 18), MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n > 0) {
                pos += static_cast<std::size_t>(n);
                m_sent = std::min(pos, stream.size());
            }
        }
        if (pfd.revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = ::recv(fd, in, sizeof in, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN)) {
                return;
            }
            for (ssize_t i = 0; i < n && pos == total; ++i) {
                // IAC WILL|WONT TIMING-MARK, which may straddle reads.
                if (last[0] == kIac && (last[1] == kWill || last[1] == kWont) &&
                    in[i] == kTimingMark && !m_answered) {
                    m_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() -
                                                              m_acceptTime)
                                    .count();
                    m_answered = true;
                }
                last[0] = last[1];
                last[1] = in[i];
            }
        }
    }
}

void TelnetPeer::Echo(int fd) {
    const std::uint8_t hello[] = {kIac, kWill, 1, kIac, kWill, 3, 'e', 'c', 'h', 'o', '\r', '\n'};
    ::send(fd, hello, sizeof hello, MSG_NOSIGNAL);
    enum { Data, Command, Option, Sub, SubIac } state = Data;
    std::uint8_t in[4096];
    std::uint8_t out[4096];
    while (!m_stop) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 50) <= 0) {
            continue;
        }
        const ssize_t n = ::recv(fd, in, sizeof in, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN)) {
            return;
        }
        std::size_t echo = 0;
        for (ssize_t i = 0; i < n; ++i) {
            const std::uint8_t b = in[i];
            switch (state) {
                case Data:
                    if (b == kIac) {
                        state = Command;
                    } else {
                        out[echo++] = b;
                    }
                    break;
                case Command:
                    if (b == kIac) {
                        out[echo++] = b;
                        state = Data;
                    } else {
                        state = b == kSb ? Sub : (b >= kWill ? Option : Data);
                    }
                    break;
                case Option:
                    state = Data;
                    break;
                case Sub:
                    state = b == kIac ? SubIac : Sub;
                    break;
                case SubIac:
                    state = b == kSe ? Data : Sub;
                    break;
            }
        }
        if (echo > 0) {
            ::send(fd, out, echo, MSG_NOSIGNAL);
        }
    }
}

std::vector<std::uint8_t> makeTextLines(std::size_t bytes) {
    std::vector<std::uint8_t> out;
    out.reserve(bytes);
    for (std::size_t line = 0; out.size() < bytes; ++line) {
        for (int col = 0; col < 78 && out.size() < bytes; ++col) {
            out.push_back(
                static_cast<std::uint8_t>('!' + (line + static_cast<std::size_t>(col)) % 94));
        }
        for (const char c : {'\r', '\n'}) {
            if (out.size() < bytes) {
                out.push_back(static_cast<std::uint8_t>(c));
            }
        }
    }
    return out;
}

}  // namespace vandrel::bench
