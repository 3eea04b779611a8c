#include "discovery/ByteStream.h"

#include <algorithm>
#include <cstring>

namespace vandrel::discovery {

void ByteStream::SetSize(std::size_t size) {
    if (size > m_bytes.size()) {
        m_bytes.resize(size);
    }
    m_size = size;
    m_position = std::min(m_position, m_size);
}

std::size_t ByteStream::Read(void* buffer, std::size_t count) {
    const std::size_t n = std::min(count, m_size - m_position);
    if (n > 0) {
        std::memcpy(buffer, m_bytes.data() + m_position, n);
        m_position += n;
    }
    return n;
}

void ByteStream::Assign(const std::uint8_t* data, std::size_t count) {
    SetSize(count);
    if (count > 0) {
        std::memcpy(m_bytes.data(), data, count);
    }
    m_position = 0;
}

}  // namespace vandrel::discovery
