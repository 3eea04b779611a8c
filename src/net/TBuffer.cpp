#include "net/TBuffer.h"

#include <algorithm>
#include <cstring>

namespace vandrel::net {

TBuffer::TBuffer(int size) {
    SetSize(size);
}

void TBuffer::SetSize(int newSize) {
    if (newSize <= 0) {
        newSize = DefaultSize;
    }
    if (newSize == m_size) {
        return;
    }
    // new[] without () leaves the storage uninitialised: a block is written
    // before it is read, and zeroing would touch every queued byte twice.
    std::unique_ptr<std::uint8_t[]> fresh(new std::uint8_t[static_cast<std::size_t>(newSize)]);
    if (m_wrCount != m_rdCount) {
        std::memcpy(fresh.get(), m_buf.get(), static_cast<std::size_t>(m_wrCount));
    }
    m_buf = std::move(fresh);
    m_size = newSize;
}

int TBuffer::Write(const void* data, int len) {
    const int free = m_size - m_wrCount;
    if (free <= 0 || len <= 0 || data == nullptr) {
        return 0;
    }
    const int count = std::min(free, len);
    std::memcpy(m_buf.get() + m_wrCount, data, static_cast<std::size_t>(count));
    m_wrCount += count;
    return count;
}

const std::uint8_t* TBuffer::Peek(int& len) const {
    len = m_wrCount - m_rdCount;
    if (len <= 0) {
        len = 0;
        return nullptr;
    }
    return m_buf.get() + m_rdCount;
}

int TBuffer::Remove(int len) {
    const int unread = m_wrCount - m_rdCount;
    if (unread <= 0 || len <= 0) {
        return 0;
    }
    const int count = std::min(len, unread);
    m_rdCount += count;
    if (m_rdCount >= m_wrCount) {
        m_rdCount = 0;
        m_wrCount = 0;
    }
    return count;
}

}  // namespace vandrel::net
