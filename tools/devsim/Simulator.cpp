#include "Simulator.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "Ipv4.h"

namespace vandrel::devsim {

namespace {

constexpr int kIdleWakeupMs = 200;  // how soon a stop request is noticed

}  // namespace

Simulator::Simulator(const Options& options)
    : m_options(options), m_state(m_options), m_responder(m_options, m_state) {}

Simulator::~Simulator() {
    m_sessions.clear();
    if (m_listenFd >= 0) {
        ::close(m_listenFd);
    }
    if (m_recordFd >= 0) {
        ::close(m_recordFd);
    }
}

bool Simulator::open(std::string& error) {
    return openRecorder(error) && m_responder.open(error) && openListener(error);
}

bool Simulator::openRecorder(std::string& error) {
    if (m_options.recordFile.empty()) {
        return true;
    }
    m_recordFd = ::open(m_options.recordFile.c_str(),
                        O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (m_recordFd < 0) {
        error = "record file " + m_options.recordFile + ": " + std::strerror(errno);
        return false;
    }
    m_recorder = std::make_unique<Recorder>(m_recordFd);
    return true;
}

bool Simulator::openListener(std::string& error) {
    if (m_options.refuse) {
        return true;
    }
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0) {
        error = std::string("tcp socket: ") + std::strerror(errno);
        return false;
    }
    int on = 1;
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(m_options.telnetPort));
    address.sin_addr.s_addr = htonl(parseIpv4(m_options.bindAddress).value_or(0));
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listenFd, 16) != 0) {
        error = "telnet listen " + m_options.bindAddress + ":" +
                std::to_string(m_options.telnetPort) + ": " + std::strerror(errno);
        return false;
    }
    socklen_t length = sizeof address;
    ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length);
    m_telnetPort = ntohs(address.sin_port);
    return true;
}

std::string Simulator::readyLine() const {
    std::string line = "ready discovery=" + m_options.bindAddress + ":" +
                       std::to_string(m_responder.port()) + " telnet=";
    if (m_options.refuse) {
        return line + "off";
    }
    return line + m_options.bindAddress + ":" + std::to_string(m_telnetPort);
}

void Simulator::acceptClients(TimePoint now) {
    for (int i = 0; i < 16; ++i) {
        int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            return;
        }
        if (m_sessions.size() >= kMaxSessions) {
            logLine("too many telnet clients, closing a new one");
            ::close(fd);
            continue;
        }
        m_sessions.push_back(
            std::make_unique<TelnetSession>(fd, m_options, m_state, m_recorder.get(), now));
    }
}

int Simulator::pollTimeout(TimePoint now) const {
    std::optional<TimePoint> next = m_responder.nextDeadline();
    for (const auto& session : m_sessions) {
        auto due = session->nextDeadline();
        if (due && (!next || *due < *next)) {
            next = due;
        }
    }
    if (!next) {
        return kIdleWakeupMs;
    }
    auto wait = std::chrono::duration_cast<Milliseconds>(*next - now).count() + 1;
    return static_cast<int>(std::clamp<long long>(wait, 1, kIdleWakeupMs));
}

int Simulator::run(const volatile std::sig_atomic_t& stop) {
    std::vector<pollfd> fds;
    while (!stop) {
        fds.clear();
        fds.push_back({m_responder.fd(), POLLIN, 0});
        fds.push_back({m_listenFd, static_cast<short>(m_listenFd >= 0 ? POLLIN : 0), 0});
        for (const auto& session : m_sessions) {
            short events = POLLIN;
            if (session->wantsWrite()) {
                events |= POLLOUT;
            }
            fds.push_back({session->fd(), events, 0});
        }
        int ready = ::poll(fds.data(), fds.size(), pollTimeout(Clock::now()));
        if (ready < 0 && errno != EINTR) {
            logLine("poll failed: %s", std::strerror(errno));
            return 1;
        }
        TimePoint now = Clock::now();
        for (std::size_t i = 0; i < m_sessions.size(); ++i) {
            short revents = ready > 0 ? fds[i + 2].revents : 0;
            TelnetSession& session = *m_sessions[i];
            if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                session.onReadable(now);
            }
            if ((revents & POLLOUT) != 0 && !session.finished()) {
                session.onWritable(now);
            }
            if (!session.finished()) {
                session.onTimer(now);
            }
        }
        std::erase_if(m_sessions, [](const auto& session) { return session->finished(); });
        if (ready > 0 && (fds[1].revents & POLLIN) != 0) {
            acceptClients(now);
        }
        // Requests are answered after the sessions' news of this pass, so that a reply
        // never reports a session that has just ended (or misses one just accepted).
        m_state.setOpenSessions(m_sessions.size());
        if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
            m_responder.onReadable(now);
        }
        m_responder.onTimer(now);
    }
    return 0;
}

}  // namespace vandrel::devsim
