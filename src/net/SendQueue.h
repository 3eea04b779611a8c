#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <deque>
#include <memory>
#include <vector>

#include "net/TBuffer.h"

namespace vandrel::net {

// A chunked byte queue: bytes are appended to the last TBuffer block (new blocks of BlockSize
// bytes as needed), copied once, and leave from the front straight out of the block storage.
// Drained blocks are kept for reuse, so a steady stream allocates nothing. A drained block that
// is the only one stays and is written again from its start.
//
// No lock of its own: the socket uses it under the process-wide send-buffer lock.
class SendQueue {
public:
    explicit SendQueue(int blockSize);
    SendQueue(const SendQueue&) = delete;
    SendQueue& operator=(const SendQueue&) = delete;

    // Appends len bytes; nothing for len <= 0 or no data.
    void Append(const void* data, int len);
    // Points up to maxPieces iovecs at the unread bytes from the front, one per block, in
    // order; returns the number filled. They stay valid until the next Append, Consume or
    // Clear.
    int Gather(iovec* iov, int maxPieces) const;
    // Drops up to count bytes from the front; returns how many were dropped.
    std::size_t Consume(std::size_t count);
    // Unread bytes.
    std::size_t Size() const { return m_size; }
    bool Empty() const { return m_size == 0; }
    // Drops every byte and every block.
    void Clear();

    int BlockSize() const { return m_blockSize; }
    // The blocks in order, for inspection; only the last may be empty.
    std::size_t BlockCount() const { return m_blocks.size(); }
    const TBuffer& Block(std::size_t index) const { return *m_blocks[index]; }
    // Changes with every Clear, so that a caller who gathered bytes can tell that a hook
    // running in between has dropped them.
    unsigned Generation() const { return m_generation; }

private:
    std::unique_ptr<TBuffer> NewBlock();
    void RecycleFront();

    int m_blockSize;
    std::deque<std::unique_ptr<TBuffer>> m_blocks;
    std::vector<std::unique_ptr<TBuffer>> m_spare;
    std::size_t m_size = 0;
    unsigned m_generation = 0;
};

}  // namespace vandrel::net
