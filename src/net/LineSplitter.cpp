#include "net/LineSplitter.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace vandrel::net {

namespace {

constexpr std::uint8_t kBackspace = 8;
constexpr std::uint8_t kTab = 9;
constexpr int kTabWidth = 8;

}  // namespace

bool LineSplitter::SetLineMode(bool on) {
    if (on == m_lineMode) {
        return false;
    }
    m_lineMode = on;
    return BufferedCount() > 0 || m_lineLength > 0;
}

std::uint8_t* LineSplitter::Reserve(int n) {
    if (!m_bytes) {
        m_bytes.emplace();
    }
    return m_bytes->Space(n);
}

void LineSplitter::Release() {
    m_bytes.reset();
    m_lineLength = 0;
    m_clearData = false;
    ++m_generation;
}

void LineSplitter::Discard() {
    if (m_bytes) {
        m_bytes->Clear();
    }
    m_lineLength = 0;
}

int LineSplitter::FindLineEnd(int searchStart) const {
    const std::uint8_t* begin = m_bytes->Data();
    const std::uint8_t* end = begin + m_bytes->Size();
    const auto* wanted = reinterpret_cast<const std::uint8_t*>(m_lineEnd.data());
    const auto size = static_cast<std::ptrdiff_t>(m_lineEnd.size());
    for (const std::uint8_t* p = begin + searchStart; end - p >= size; ++p) {
        p = static_cast<const std::uint8_t*>(
            std::memchr(p, wanted[0], static_cast<std::size_t>(end - p - size + 1)));
        if (p == nullptr) {
            return -1;
        }
        std::ptrdiff_t i = 1;
        while (i < size && p[i] == wanted[i]) {
            ++i;
        }
        if (i == size) {
            return static_cast<int>(p - begin);
        }
    }
    return -1;
}

int LineSplitter::Read(void* out, int size) {
    int n = 0;
    if (Active() && m_lineLength > 0) {
        n = std::clamp(size, 0, m_lineLength);
        m_lineLength -= n;
    } else if (!Active() && BufferedCount() > 0) {
        n = std::clamp(size, 0, BufferedCount());
        m_lineLength = std::max(0, m_lineLength - n);
    } else {
        return -1;
    }
    if (out != nullptr) {
        return m_bytes->Read(out, n);
    }
    return m_bytes->Consume(n);
}

void LineSplitter::Received(int n, Client& client) {
    if (!m_bytes || (n <= 0 && m_bytes->Empty())) {
        return;
    }
    n = std::max(n, 0);
    const unsigned generation = m_generation;
    const int before = m_bytes->Size();
    m_bytes->Commit(n);
    if (n > 0 && (m_lineEdit || m_lineEcho)) {
        const Outcome o =
            m_lineEdit ? client.ApplyLineEdit(n) : client.Echo(m_bytes->Data() + before, n);
        if (o == Outcome::Gone || generation != m_generation) {
            return;
        }
    }
    // From just before the new bytes, so that a line end split across reads is found.
    int searchStart = std::max(0, m_bytes->Size() - n - static_cast<int>(m_lineEnd.size()));
    if (m_lineLength > 0) {
        // A line that its hook kept earlier comes first.
        if (!DeliverLine(client, generation)) {
            return;
        }
        searchStart = 0;
    }
    CutLines(client, searchStart, generation);
}

bool LineSplitter::CutLines(Client& client, int searchStart, unsigned generation) {
    while (Active()) {
        const int p = FindLineEnd(searchStart);
        if (p < 0) {
            CheckLimit(client, generation);
            return true;
        }
        m_lineLength = p + static_cast<int>(m_lineEnd.size());
        m_lineDelivered = true;
        if (!DeliverLine(client, generation)) {
            return false;
        }
        searchStart = 0;
    }
    return true;
}

bool LineSplitter::DeliverLine(Client& client, unsigned generation) {
    int idle = 0;
    while (Active() && m_lineLength > 0) {
        const int before = m_lineLength;
        const Outcome o = client.Deliver();
        if (o == Outcome::Gone || generation != m_generation) {
            return false;
        }
        if (o == Outcome::NoHandler) {
            m_bytes->Consume(m_lineLength);  // nobody listens: the line is dropped
            m_lineLength = 0;
        } else if (m_lineLength < before) {
            idle = 0;
        } else if (++idle >= kMaxIdleOffers) {
            client.DeliverLater();
            return false;
        }
    }
    if (!Active()) {
        // Switched off inside the hook: the unread rest of the line and the
        // bytes behind it stay buffered, to be read raw.
        m_lineLength = 0;
        return DeliverRaw(client, generation);
    }
    return true;
}

bool LineSplitter::DeliverRaw(Client& client, unsigned generation) {
    int idle = 0;
    while (!Active() && BufferedCount() > 0) {
        const int before = BufferedCount();
        const Outcome o = client.Deliver();
        if (o == Outcome::Gone || generation != m_generation) {
            return false;
        }
        if (o == Outcome::NoHandler) {
            Discard();
        } else if (BufferedCount() < before) {
            idle = 0;
        } else if (++idle >= kMaxIdleOffers) {
            client.DeliverLater();
            return false;
        }
    }
    return true;
}

void LineSplitter::CheckLimit(Client& client, unsigned generation) {
    if (m_lineLimit <= 0 || BufferedCount() <= m_lineLimit) {
        return;
    }
    m_clearData = true;
    const Outcome o = client.LineLimitExceeded(BufferedCount(), m_clearData);
    if (o == Outcome::Gone || generation != m_generation) {
        return;
    }
    if (m_clearData) {
        Discard();
        m_clearData = false;
    }
}

void LineSplitter::SessionClosed(Client& client) {
    if (!m_bytes) {
        return;
    }
    if (Active() && BufferedCount() > 0 && !m_clearData) {
        const unsigned generation = m_generation;
        m_lineLength = BufferedCount();
        int idle = 0;
        while (Active() && m_lineLength > 0) {
            const int before = m_lineLength;
            const Outcome o = client.Deliver();
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
    Release();
}

void LineSplitter::EditNewBytes(int& newCount, std::string& echo) {
    const std::uint8_t* bytes = m_bytes->Data();
    const int old = m_bytes->Size() - newCount;
    int pos = old;
    int lowest = old;
    bool copying = false;
    std::vector<std::uint8_t> copy;
    auto startCopy = [&] {
        if (!copying) {
            copying = true;
            copy.reserve(static_cast<std::size_t>((old + newCount + 256) / 256 * 256));
            copy.assign(bytes, bytes + pos);
        }
    };
    for (int i = 0; i < newCount; ++i) {
        const std::uint8_t b = bytes[old + i];
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
    m_bytes->Clear();
    m_bytes->Append(copy.data(), static_cast<int>(copy.size()));
    m_lineLength = std::min(m_lineLength, lowest);
    newCount = pos - lowest;
}

}  // namespace vandrel::net
