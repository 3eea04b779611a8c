#include "net/LineSplitter.h"

#include <algorithm>
#include <cstring>

namespace vandrel::net {

namespace {

constexpr std::uint8_t kBackspace = 8;
constexpr std::uint8_t kTab = 9;
constexpr int kTabWidth = 8;

}  // namespace

bool LineSplitter::setLineMode(bool on) {
    if (on == m_lineMode) {
        return false;
    }
    m_lineMode = on;
    return m_count > 0 || m_lineLength > 0;
}

std::uint8_t* LineSplitter::reserve(int n) {
    if (m_head > 0) {
        std::memmove(m_buf.data(), front(), static_cast<std::size_t>(m_count));
        m_head = 0;
    }
    const std::size_t need = static_cast<std::size_t>(m_count) + std::max(n, 0) + 1;
    if (m_buf.size() < need) {
        m_buf.resize(need);
    }
    m_exists = true;
    return front() + m_count;
}

void LineSplitter::release() {
    std::vector<std::uint8_t>().swap(m_buf);
    m_head = 0;
    m_count = 0;
    m_lineLength = 0;
    m_exists = false;
    m_clearData = false;
    ++m_generation;
}

void LineSplitter::consume(int n) {
    m_head += n;
    m_count -= n;
    if (m_count == 0) {
        m_head = 0;
    }
}

void LineSplitter::terminate() {
    if (m_exists && static_cast<std::size_t>(m_head + m_count) < m_buf.size()) {
        m_buf[static_cast<std::size_t>(m_head + m_count)] = 0;
    }
}

int LineSplitter::findLineEnd(int searchStart) const {
    const auto* begin = m_buf.data() + m_head;
    const auto* end = begin + m_count;
    const auto* first = reinterpret_cast<const std::uint8_t*>(m_lineEnd.data());
    const std::size_t size = m_lineEnd.size();
    for (const std::uint8_t* p = begin + searchStart; end - p >= static_cast<long>(size); ++p) {
        p = static_cast<const std::uint8_t*>(
            std::memchr(p, *first, static_cast<std::size_t>(end - p) - size + 1));
        if (p == nullptr) {
            return -1;
        }
        std::size_t i = 1;
        while (i < size && p[i] == first[i]) {
            ++i;
        }
        if (i == size) {
            return static_cast<int>(p - begin);
        }
    }
    return -1;
}

int LineSplitter::read(void* out, int size) {
    int n = 0;
    if (active() && m_lineLength > 0) {
        n = std::clamp(size, 0, m_lineLength);
        m_lineLength -= n;
    } else if (!active() && m_count > 0) {
        n = std::clamp(size, 0, m_count);
        m_lineLength = std::max(0, m_lineLength - n);
    } else {
        return -1;
    }
    if (n > 0 && out != nullptr) {
        std::memcpy(out, front(), static_cast<std::size_t>(n));
    }
    consume(n);
    return n;
}

void LineSplitter::received(int n, Client& client) {
    if (n <= 0) {
        if (m_count == 0) {
            return;
        }
        n = 0;
    }
    const unsigned generation = m_generation;
    if (n > 0 && (m_lineEdit || m_lineEcho)) {
        const Outcome o = m_lineEdit ? client.applyLineEdit(n) : client.echo(front() + m_count, n);
        if (o == Outcome::Gone || generation != m_generation) {
            return;
        }
    }
    int searchStart = std::max(0, m_count - static_cast<int>(m_lineEnd.size()));
    m_count += n;
    if (m_lineLength > 0) {
        // A line that its hook kept earlier comes first.
        if (!deliverLine(client, generation)) {
            return;
        }
        searchStart = 0;
    }
    if (cutLines(client, searchStart, generation)) {
        terminate();
    }
}

bool LineSplitter::cutLines(Client& client, int searchStart, unsigned generation) {
    while (active()) {
        const int p = findLineEnd(searchStart);
        if (p < 0) {
            checkLimit(client, generation);
            return true;
        }
        m_lineLength = p + static_cast<int>(m_lineEnd.size());
        m_lineDelivered = true;
        if (!deliverLine(client, generation)) {
            return false;
        }
        searchStart = 0;
    }
    return true;
}

bool LineSplitter::deliverLine(Client& client, unsigned generation) {
    int idle = 0;
    while (active() && m_lineLength > 0) {
        const int before = m_lineLength;
        const Outcome o = client.deliver();
        if (o == Outcome::Gone || generation != m_generation) {
            return false;
        }
        if (o == Outcome::NoHandler) {
            consume(m_lineLength);  // nobody listens: the line is dropped
            m_lineLength = 0;
        } else if (m_lineLength < before) {
            idle = 0;
        } else if (++idle >= kMaxIdleOffers) {
            client.deliverLater();
            return false;
        }
    }
    if (!active()) {
        // Switched off inside the hook: the unread rest of the line and the
        // bytes behind it stay buffered, to be read raw.
        m_lineLength = 0;
        return deliverRaw(client, generation);
    }
    return true;
}

bool LineSplitter::deliverRaw(Client& client, unsigned generation) {
    int idle = 0;
    while (!active() && m_count > 0) {
        const int before = m_count;
        const Outcome o = client.deliver();
        if (o == Outcome::Gone || generation != m_generation) {
            return false;
        }
        if (o == Outcome::NoHandler) {
            consume(m_count);
            m_lineLength = 0;
        } else if (m_count < before) {
            idle = 0;
        } else if (++idle >= kMaxIdleOffers) {
            client.deliverLater();
            return false;
        }
    }
    return true;
}

void LineSplitter::checkLimit(Client& client, unsigned generation) {
    if (m_lineLimit <= 0 || m_count <= m_lineLimit) {
        return;
    }
    m_clearData = true;
    const Outcome o = client.lineLimitExceeded(m_count, m_clearData);
    if (o == Outcome::Gone || generation != m_generation) {
        return;
    }
    if (m_clearData) {
        consume(m_count);
        m_lineLength = 0;
        m_clearData = false;
        terminate();
    }
}

void LineSplitter::sessionClosed(Client& client) {
    if (!m_exists) {
        return;
    }
    if (active() && m_count > 0 && !m_clearData) {
        const unsigned generation = m_generation;
        m_lineLength = m_count;
        int idle = 0;
        while (active() && m_lineLength > 0) {
            const int before = m_lineLength;
            const Outcome o = client.deliver();
            if (o == Outcome::Gone || generation != m_generation) {
                return;
            }
            const bool taken = m_lineLength < before;
            if (o == Outcome::NoHandler || (!taken && ++idle >= kMaxIdleOffers)) {
                break;  // the rest is dropped with the buffer
            }
            if (taken) {
                idle = 0;
            }
        }
    }
    release();
}

void LineSplitter::editNewBytes(int& newCount, std::string& echo) {
    std::uint8_t* base = front();
    const int old = m_count;
    int pos = old;
    int lowest = old;
    bool copying = false;
    std::vector<std::uint8_t> copy;
    auto startCopy = [&] {
        if (!copying) {
            copying = true;
            copy.reserve(static_cast<std::size_t>((old + newCount + 256) / 256 * 256));
            copy.assign(base, base + pos);
        }
    };
    for (int i = 0; i < newCount; ++i) {
        const std::uint8_t b = base[old + i];
        if (b == kBackspace) {
            if (m_lineEcho && pos > 0) {
                echo += "\b \b";
            }
            startCopy();
            if (pos > 0) {
                --pos;
                copy.pop_back();
                lowest = std::min(lowest, pos);
            }
        } else if (b == kTab) {
            startCopy();
            do {
                copy.push_back(' ');
                ++pos;
                if (m_lineEcho) {
                    echo += ' ';
                }
            } while (pos % kTabWidth != 0);
        } else {
            if (m_lineEcho) {
                echo += static_cast<char>(b);
            }
            if (copying) {
                copy.push_back(b);
            }
            ++pos;
        }
    }
    if (!copying) {
        return;
    }
    const std::size_t need = static_cast<std::size_t>(m_head + pos) + 1;
    if (m_buf.size() < need) {
        m_buf.resize(need);
    }
    std::memcpy(front(), copy.data(), copy.size());
    m_buf[need - 1] = 0;
    m_count = lowest;
    newCount = pos - lowest;
}

}  // namespace vandrel::net
