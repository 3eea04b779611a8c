#include "TelnetSession.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace vandrel::devsim {

namespace {

constexpr std::size_t kFloodChunk = 64 * 1024;
constexpr std::size_t kFloodLine = 80;
constexpr std::size_t kMaxLabel = 64;
// Bytes one session may send per loop pass, so a flood never starves discovery or
// the other sessions.
constexpr std::size_t kWriteBudget = 256 * 1024;

// Deterministic printable text, 80-byte lines ending in CR LF, so a receiver can
// check both the count and the contents of what it got.
std::string floodText(std::uint64_t offset, std::size_t length) {
    static const std::string pattern = [] {
        std::string line =
            "000000 the quick brown fox jumps over the lazy dog 0123456789 ABCDEFGHIJKLMNOPQR";
        line.resize(kFloodLine - 2, '.');
        return line + "\r\n";
    }();
    std::string text;
    text.reserve(length);
    std::string line = pattern;
    while (text.size() < length) {
        std::uint64_t number = (offset / kFloodLine) % 1000000;
        for (int digit = 5; digit >= 0; --digit, number /= 10) {
            line[static_cast<std::size_t>(digit)] = static_cast<char>('0' + number % 10);
        }
        std::size_t column = offset % kFloodLine;
        std::size_t take = std::min(kFloodLine - column, length - text.size());
        text.append(line, column, take);
        offset += take;
    }
    return text;
}

// Terminal types and locations are shown in the banner: keep them printable and short.
std::string label(const std::string& raw) {
    std::string text;
    for (char c : raw.substr(0, kMaxLabel)) {
        auto byte = static_cast<unsigned char>(c);
        text += (byte >= 32 && byte < 127) ? c : '?';
    }
    return text;
}

std::uint32_t localAddressOf(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 0;
    }
    return ntohl(address.sin_addr.s_addr);
}

std::string peerOf(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return "?";
    }
    return std::string(inet_ntoa(address.sin_addr)) + ":" + std::to_string(ntohs(address.sin_port));
}

}  // namespace

void Recorder::write(const char* bytes, std::size_t length) {
    while (length > 0) {
        ssize_t written = ::write(m_fd, bytes, length);
        if (written <= 0) {
            if (written < 0 && errno == EINTR) {
                continue;
            }
            return;
        }
        bytes += written;
        length -= static_cast<std::size_t>(written);
    }
}

TelnetSession::TelnetSession(int fd, const Options& options, DeviceState& state, Recorder* recorder,
                             TimePoint now)
    : m_fd(fd),
      m_recorder(recorder),
      m_console(state, localAddressOf(fd)),
      m_answerDelay(options.answerDelayMs),
      m_floodLeft(options.floodBytes),
      m_resetLeft(options.resetAfterBytes),
      m_bannerDue(now + kBannerWait),
      m_peer(peerOf(fd)) {
    m_console.setHungDialogue(options.hungDialogue);
    if (options.closeAfterMs >= 0) {
        m_closeDue = now + Milliseconds(options.closeAfterMs);
    }
    const std::string& script = options.optionScript;
    for (std::size_t i = 0; i + 2 < script.size(); ++i) {
        auto verb = static_cast<unsigned char>(script[i + 1]);
        auto option = static_cast<unsigned char>(script[i + 2]);
        if (static_cast<unsigned char>(script[i]) == IAC && (verb == WILL || verb == DO)) {
            (verb == WILL ? m_weWill : m_weDo)[option] = true;
        }
    }
    m_ttypeDone = !m_weDo[TTYPE];
    m_locationDone = !m_weDo[LOCATION];
    logLine("telnet client %s connected", m_peer.c_str());
    queue(script);
    maybeShowBanner(now);
}

TelnetSession::~TelnetSession() {
    ::close(m_fd);
}

void TelnetSession::finish(const char* why) {
    if (!m_finished) {
        logLine("telnet client %s: %s", m_peer.c_str(), why);
    }
    m_finished = true;
}

void TelnetSession::onReadable(TimePoint now) {
    char buffer[4096];
    ssize_t received = ::recv(m_fd, buffer, sizeof buffer, 0);
    if (received == 0) {
        finish(m_drainDue ? m_closeReason : "closed by the client");
        return;
    }
    if (received < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            finish("connection lost");
        }
        return;
    }
    if (m_recorder != nullptr) {
        m_recorder->write(buffer, static_cast<std::size_t>(received));
    }
    if (m_closing) {
        return;
    }
    std::vector<TelnetEvent> events;
    m_reader.feed(buffer, static_cast<std::size_t>(received), events);
    for (const TelnetEvent& event : events) {
        handleEvent(event, now);
        if (m_closing) {
            break;
        }
    }
    maybeShowBanner(now);
    flush();
}

void TelnetSession::handleEvent(const TelnetEvent& event, TimePoint now) {
    switch (event.kind) {
        case TelnetEvent::Kind::Data: {
            std::string answer = m_console.input(event.data);
            if (m_answerDelay.count() > 0 && !answer.empty()) {
                m_answers.emplace_back(now + m_answerDelay, std::move(answer));
            } else {
                queue(answer);
            }
            if (m_console.closeRequested()) {
                m_closing = true;
                releaseAnswers(TimePoint::max());
            }
            break;
        }
        case TelnetEvent::Kind::Option:
            handleOption(event.verb, event.option);
            break;
        case TelnetEvent::Kind::Subnegotiation:
            handleSubnegotiation(event.data);
            break;
        case TelnetEvent::Kind::Command:
            if (event.verb == IP) {
                queue(m_console.interrupt());
            }
            break;
    }
}

void TelnetSession::handleOption(unsigned char verb, unsigned char option) {
    switch (verb) {
        case WILL:
            clientWill(option);
            break;
        case WONT:
            if (option == TTYPE) {
                m_ttypeDone = true;
            } else if (option == LOCATION) {
                m_locationDone = true;
            }
            break;
        case DO:
            clientDo(option);
            break;
        default:
            clientDont(option);
            break;
    }
}

// Replies follow RFC 854's loop rule: answer only what changes an option's state,
// and refuse an unknown option only once.
void TelnetSession::clientWill(unsigned char option) {
    if (option != TTYPE && option != LOCATION) {
        if (!m_weDo[option] && !m_refused[option]) {
            m_refused[option] = true;
            sendCommand(DONT, option);
        }
        return;
    }
    if (!m_weDo[option]) {
        m_weDo[option] = true;
        sendCommand(DO, option);
    }
    if (option == TTYPE && !m_ttypeAsked) {
        m_ttypeAsked = true;
        m_ttypeDone = false;
        queue(std::string{char(IAC), char(SB), char(TTYPE), char(SEND), char(IAC), char(SE)});
    }
}

void TelnetSession::clientDo(unsigned char option) {
    if (option == ECHO || option == SGA) {
        if (option == ECHO) {
            m_console.setEcho(true);
        }
        if (!m_weWill[option]) {
            m_weWill[option] = true;
            sendCommand(WILL, option);
        }
    } else if (!m_weWill[option] && !m_refused[option]) {
        m_refused[option] = true;
        sendCommand(WONT, option);
    }
}

void TelnetSession::clientDont(unsigned char option) {
    if (option == ECHO) {
        m_console.setEcho(false);
    }
    if (m_weWill[option]) {
        m_weWill[option] = false;
        sendCommand(WONT, option);
    }
}

void TelnetSession::handleSubnegotiation(const std::string& data) {
    if (data.size() >= 2 && static_cast<unsigned char>(data[0]) == TTYPE && data[1] == IS) {
        m_terminalType = label(data.substr(2));
        m_ttypeDone = true;
    } else if (!data.empty() && static_cast<unsigned char>(data[0]) == LOCATION) {
        m_location = label(data.substr(1));
        m_locationDone = true;
    }
}

void TelnetSession::sendCommand(unsigned char verb, unsigned char option) {
    queue(std::string{char(IAC), char(verb), char(option)});
}

void TelnetSession::maybeShowBanner(TimePoint now) {
    bool known = m_ttypeDone && m_locationDone;
    if (m_bannerShown || m_floodLeft > 0 || m_closing || (!known && now < m_bannerDue)) {
        return;
    }
    m_bannerShown = true;
    logLine("telnet client %s: terminal type '%s', location '%s'", m_peer.c_str(),
            m_terminalType.c_str(), m_location.c_str());
    queue(m_console.banner(m_terminalType, m_location));
}

void TelnetSession::queue(const std::string& bytes) {
    if (m_outOffset > 0 && m_outOffset == m_out.size()) {
        m_out.clear();
        m_outOffset = 0;
    }
    m_out += bytes;
}

void TelnetSession::fillFlood() {
    if (m_floodLeft == 0 || m_out.size() - m_outOffset >= kFloodChunk) {
        return;
    }
    std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(m_floodLeft, kFloodChunk));
    queue(floodText(m_floodOffset, take));
    m_floodOffset += take;
    m_floodLeft -= take;
}

void TelnetSession::flush() {
    std::size_t budget = kWriteBudget;
    while (!m_finished && budget > 0) {
        fillFlood();
        if (m_outOffset >= m_out.size()) {
            break;
        }
        std::size_t length = m_out.size() - m_outOffset;
        if (m_resetLeft == 0) {
            resetNow();
            return;
        }
        if (m_resetLeft > 0) {
            length = std::min(length, static_cast<std::size_t>(m_resetLeft));
        }
        ssize_t sent = ::send(m_fd, m_out.data() + m_outOffset, length, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                finish("connection lost while sending");
            }
            return;
        }
        m_outOffset += static_cast<std::size_t>(sent);
        budget -= std::min(budget, static_cast<std::size_t>(sent));
        if (m_resetLeft >= 0 && (m_resetLeft -= sent) == 0) {
            resetNow();
            return;
        }
        if (m_outOffset >= m_out.size()) {
            m_out.clear();
            m_outOffset = 0;
        }
    }
    if (m_closing && !wantsWrite() && !m_drainDue) {
        startDrain("session ended by exit");
    }
}

// Sends FIN and reads on until the client closes too (or a grace time passes), so the
// close reaches the client as an orderly end rather than a reset that could destroy
// output it has not read yet.
void TelnetSession::startDrain(const char* reason) {
    ::shutdown(m_fd, SHUT_WR);
    m_closeReason = reason;
    m_drainDue = Clock::now() + kDrainTime;
}

// A zero linger time makes the close a reset; the session ends at once.
void TelnetSession::resetNow() {
    const linger reset{1, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    finish("reset by the device (reset-after)");
}

void TelnetSession::onWritable(TimePoint now) {
    flush();
    maybeShowBanner(now);
    flush();
}

void TelnetSession::onTimer(TimePoint now) {
    if (m_drainDue && now >= *m_drainDue) {
        finish(m_closeReason);
        return;
    }
    if (m_closeDue && now >= *m_closeDue && !m_drainDue) {
        // The device hangs up: what it had not sent yet is dropped, as on a real one.
        m_out.clear();
        m_outOffset = 0;
        m_floodLeft = 0;
        m_closing = true;
        startDrain("closed by the device (close-after)");
        return;
    }
    releaseAnswers(now);
    maybeShowBanner(now);
    flush();
}

void TelnetSession::releaseAnswers(TimePoint now) {
    while (!m_answers.empty() && m_answers.front().first <= now) {
        queue(m_answers.front().second);
        m_answers.pop_front();
    }
}

std::optional<TimePoint> TelnetSession::nextDeadline() const {
    if (m_drainDue) {
        return m_drainDue;
    }
    std::optional<TimePoint> next = m_closeDue;
    bool bannerWaits = !m_bannerShown && m_floodLeft == 0 && !m_closing;
    if (bannerWaits && (!next || m_bannerDue < *next)) {
        next = m_bannerDue;
    }
    if (!m_answers.empty() && (!next || m_answers.front().first < *next)) {
        next = m_answers.front().first;
    }
    return next;
}

}  // namespace vandrel::devsim
