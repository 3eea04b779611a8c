#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vandrel::discovery {

// A growable byte buffer with a read position, handed to OnUDPRead as the datagram.
// Its capacity is kept when the size shrinks, so one stream can be reused per datagram.
class ByteStream {
public:
    std::size_t Size() const { return m_size; }
    void SetSize(std::size_t size);
    std::size_t Position() const { return m_position; }
    void SetPosition(std::size_t position) { m_position = position > m_size ? m_size : position; }

    // Copies up to count bytes from the position on; returns how many were copied.
    std::size_t Read(void* buffer, std::size_t count);
    void Assign(const std::uint8_t* data, std::size_t count);

    std::uint8_t* Memory() { return m_bytes.data(); }
    const std::uint8_t* Memory() const { return m_bytes.data(); }

private:
    std::vector<std::uint8_t> m_bytes;
    std::size_t m_size = 0;
    std::size_t m_position = 0;
};

}  // namespace vandrel::discovery
