#include "net/ReadAhead.h"

#include <algorithm>
#include <cstring>

namespace vandrel::net {

std::uint8_t* ReadAhead::Space(int len) {
    len = std::max(len, 0);
    if (m_head == m_tail) {
        m_head = m_tail = 0;
    }
    if (m_capacity - m_tail < len && m_head > 0) {
        std::memmove(m_bytes.get(), m_bytes.get() + m_head, static_cast<std::size_t>(Size()));
        m_tail -= m_head;
        m_head = 0;
    }
    if (m_capacity - m_tail < len) {
        const int capacity = std::max(m_tail + len, 2 * m_capacity);
        // Uninitialised on purpose: bytes are written before they are read.
        std::unique_ptr<std::uint8_t[]> grown(new std::uint8_t[static_cast<std::size_t>(capacity)]);
        if (m_tail > 0) {
            std::memcpy(grown.get(), m_bytes.get(), static_cast<std::size_t>(m_tail));
        }
        m_bytes = std::move(grown);
        m_capacity = capacity;
    }
    return m_bytes.get() + m_tail;
}

void ReadAhead::Commit(int count) {
    m_tail += std::clamp(count, 0, m_capacity - m_tail);
}

void ReadAhead::Append(const void* data, int len) {
    if (len <= 0 || data == nullptr) {
        return;
    }
    std::memcpy(Space(len), data, static_cast<std::size_t>(len));
    Commit(len);
}

void ReadAhead::Prepend(const void* data, int len) {
    if (len <= 0 || data == nullptr) {
        return;
    }
    if (m_head < len) {
        const int size = Size();
        Space(len);  // room behind the unread bytes, which then move back by len
        std::memmove(m_bytes.get() + m_head + len, m_bytes.get() + m_head,
                     static_cast<std::size_t>(size));
        m_tail += len;
    } else {
        m_head -= len;
    }
    std::memcpy(m_bytes.get() + m_head, data, static_cast<std::size_t>(len));
}

int ReadAhead::Gather(iovec* iov, int maxPieces) const {
    if (Empty() || maxPieces < 1) {
        return 0;
    }
    iov[0].iov_base = m_bytes.get() + m_head;
    iov[0].iov_len = static_cast<std::size_t>(Size());
    return 1;
}

int ReadAhead::Read(void* buffer, int len) {
    if (buffer == nullptr) {
        return 0;
    }
    const int n = std::clamp(len, 0, Size());
    if (n > 0) {
        std::memcpy(buffer, m_bytes.get() + m_head, static_cast<std::size_t>(n));
    }
    return Consume(n);
}

int ReadAhead::Consume(int count) {
    const int n = std::clamp(count, 0, Size());
    m_head += n;
    if (m_head == m_tail) {
        m_head = m_tail = 0;
    }
    return n;
}

}  // namespace vandrel::net
