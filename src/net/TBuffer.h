#pragma once

#include <cstdint>
#include <memory>

namespace vandrel::net {

// One fixed-size block of outgoing bytes. Linear, not a ring: bytes are
// appended at the write position and taken from the read position; the space
// in front of the read position is reused only once the block is drained,
// when both positions return to 0. No lock of its own: the socket uses it
// under the process-wide send-buffer lock.
class TBuffer {
public:
    static constexpr int DefaultSize = 1514;

    // A size of 0 or less gives DefaultSize bytes.
    explicit TBuffer(int size);
    TBuffer(const TBuffer&) = delete;
    TBuffer& operator=(const TBuffer&) = delete;

    // Keeps unread bytes and both positions; the caller must not shrink the
    // block below its write position.
    void SetSize(int newSize);
    // Appends as much as fits; returns the count taken (0 when full).
    int Write(const void* data, int len);
    // Unread bytes in place, valid until the next Write, SetSize or
    // destruction; nullptr with len 0 when the block is empty.
    const std::uint8_t* Peek(int& len) const;
    // Consumes up to len unread bytes; returns the count consumed.
    int Remove(int len);

    int Size() const { return m_size; }
    int WritePos() const { return m_wrCount; }
    int ReadPos() const { return m_rdCount; }

private:
    std::unique_ptr<std::uint8_t[]> m_buf;
    int m_size = 0;
    int m_wrCount = 0;
    int m_rdCount = 0;
};

}  // namespace vandrel::net
