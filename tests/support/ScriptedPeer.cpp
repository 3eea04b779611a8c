#include "support/ScriptedPeer.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <thread>

namespace vandrel::test {

namespace {

constexpr int kPollMs = 5;
constexpr auto kStepTimeout = std::chrono::seconds(10);
constexpr auto kBytePause = std::chrono::milliseconds(5);

}  // namespace

ScriptedPeer::ScriptedPeer(std::vector<Step> script, Then then)
    : m_script(std::move(script)), m_then(then) {
    serve([this](int fd) { session(fd); }, Connections::EachInTurn);
}

ScriptedPeer::~ScriptedPeer() {
    stop();
}

void ScriptedPeer::send(const Bytes& bytes) {
    std::lock_guard lock(m_mutex);
    m_outgoing.push_back(bytes);
}

void ScriptedPeer::closeClient() {
    std::lock_guard lock(m_mutex);
    m_closeRequested = true;
}

void ScriptedPeer::resetClient() {
    std::lock_guard lock(m_mutex);
    m_resetRequested = true;
}

ScriptedPeer::Bytes ScriptedPeer::received() const {
    std::lock_guard lock(m_mutex);
    return m_received;
}

void ScriptedPeer::clearReceived() {
    std::lock_guard lock(m_mutex);
    m_received.clear();
    m_reads.clear();
}

std::chrono::steady_clock::time_point ScriptedPeer::receivedAt(std::size_t index) const {
    std::lock_guard lock(m_mutex);
    std::chrono::steady_clock::time_point when{};
    for (const auto& [offset, time] : m_reads) {
        if (offset > index) {
            break;
        }
        when = time;
    }
    return when;
}

std::vector<ScriptedPeer::Bytes> ScriptedPeer::requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

void ScriptedPeer::session(int fd) {
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    m_clientGone = false;
    for (const Step& step : m_script) {
        if (!play(fd, step)) {
            return;
        }
        ++m_stepsDone;
    }
    if (m_then == Then::Echo) {
        echoBack(fd);
    } else if (m_then == Then::Hold) {
        hold(fd);
    }
}

// Waits for the step's request (polling, so that stopping ends the wait), then answers.
bool ScriptedPeer::play(int fd, const Step& step) {
    Bytes request;
    const auto deadline = std::chrono::steady_clock::now() + kStepTimeout;
    while (request.size() < step.expect && !stopping() &&
           std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) <= 0) {
            continue;
        }
        std::uint8_t buf[512];
        const ssize_t got = ::recv(fd, buf, std::min(sizeof buf, step.expect - request.size()), 0);
        if (got <= 0) {
            break;
        }
        request.insert(request.end(), buf, buf + got);
    }
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(request);
    }
    if (request.size() < step.expect) {
        return false;
    }
    if (!step.byteByByte) {
        return writeAll(fd, step.reply.data(), step.reply.size());
    }
    for (const std::uint8_t b : step.reply) {
        if (!writeAll(fd, &b, 1)) {
            return false;
        }
        std::this_thread::sleep_for(kBytePause);
    }
    return true;
}

void ScriptedPeer::hold(int fd) {
    while (!stopping() && flush(fd)) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) <= 0) {
            continue;
        }
        std::uint8_t buf[4096];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            m_clientGone = true;
            return;
        }
        std::lock_guard lock(m_mutex);
        m_reads.emplace_back(m_received.size(), std::chrono::steady_clock::now());
        m_received.insert(m_received.end(), buf, buf + n);
    }
}

// Sends what is queued; false once the test asked to close or reset the connection.
bool ScriptedPeer::flush(int fd) {
    std::unique_lock lock(m_mutex);
    if (m_resetRequested) {
        m_resetRequested = false;
        m_outgoing.clear();
        resetClose(fd);
        return false;
    }
    while (!m_outgoing.empty()) {
        const Bytes chunk = std::move(m_outgoing.front());
        m_outgoing.pop_front();
        lock.unlock();
        writeAll(fd, chunk.data(), chunk.size());
        lock.lock();
    }
    const bool close = m_closeRequested;
    m_closeRequested = false;
    return !close;
}

}  // namespace vandrel::test
