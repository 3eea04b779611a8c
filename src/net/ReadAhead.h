#pragma once

#include <sys/uio.h>

#include <cstdint>
#include <memory>

namespace vandrel::net {

// Bytes received ahead of their reader, in one linear buffer: received straight into its free
// space (Space, then Commit) or appended, taken from the front, and written from the start
// again once drained. The storage is allocated on first use and kept.
class ReadAhead {
public:
    ReadAhead() = default;
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Room for len more bytes at the end, for a receive straight into the buffer; Commit then
    // counts the bytes that arrived. Valid until the next call that changes the buffer.
    std::uint8_t* Space(int len);
    void Commit(int count);
    // Appends len bytes; nothing for len <= 0 or no data.
    void Append(const void* data, int len);
    // Puts len bytes in front of the unread ones (bytes taken out that must be read again
    // first); nothing for len <= 0 or no data.
    void Prepend(const void* data, int len);
    // The unread bytes, Size() of them; valid until the next call that changes the buffer.
    const std::uint8_t* Data() const { return m_bytes.get() + m_head; }
    // Points an iovec at the unread bytes; returns 1, or 0 when there are none (or no room).
    int Gather(iovec* iov, int maxPieces) const;
    // Copies up to len unread bytes to buffer and drops them; returns the count.
    int Read(void* buffer, int len);
    // Drops up to count bytes from the front; returns how many were dropped.
    int Consume(int count);
    // Unread bytes.
    int Size() const { return m_tail - m_head; }
    bool Empty() const { return m_tail == m_head; }
    // Drops the unread bytes; the storage stays.
    void Clear() { m_head = m_tail = 0; }

private:
    std::unique_ptr<std::uint8_t[]> m_bytes;
    int m_capacity = 0;
    int m_head = 0;
    int m_tail = 0;
};

}  // namespace vandrel::net
