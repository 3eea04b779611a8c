#include "net/SendQueue.h"

#include <algorithm>
#include <climits>

namespace vandrel::net {

namespace {

// Drained blocks kept for reuse.
constexpr std::size_t kMaxSpareBlocks = 64;

}  // namespace

SendQueue::SendQueue(int blockSize) : m_blockSize(blockSize) {}

void SendQueue::Append(const void* data, int len) {
    if (len <= 0 || data == nullptr) {
        return;
    }
    if (m_blocks.empty()) {
        m_blocks.push_back(NewBlock());
    }
    m_size += static_cast<std::size_t>(len);
    const auto* p = static_cast<const std::uint8_t*>(data);
    int n = m_blocks.back()->Write(p, len);
    while (n < len) {
        p += n;
        len -= n;
        m_blocks.push_back(NewBlock());
        n = m_blocks.back()->Write(p, len);
    }
}

int SendQueue::Gather(iovec* iov, int maxPieces) const {
    int n = 0;
    for (const auto& block : m_blocks) {
        if (n == maxPieces) {
            break;
        }
        int len = 0;
        const std::uint8_t* p = block->Peek(len);
        if (len > 0) {
            iov[n].iov_base = const_cast<std::uint8_t*>(p);
            iov[n].iov_len = static_cast<std::size_t>(len);
            ++n;
        }
    }
    return n;
}

std::size_t SendQueue::Consume(std::size_t count) {
    std::size_t done = 0;
    while (done < count && !m_blocks.empty()) {
        TBuffer& front = *m_blocks.front();
        const auto want = static_cast<int>(std::min<std::size_t>(count - done, INT_MAX));
        done += static_cast<std::size_t>(front.Remove(want));
        int rest = 0;
        front.Peek(rest);
        if (rest > 0 || m_blocks.size() == 1) {
            break;
        }
        RecycleFront();
    }
    m_size -= done;
    return done;
}

void SendQueue::Clear() {
    m_blocks.clear();
    m_size = 0;
    ++m_generation;
}

std::unique_ptr<TBuffer> SendQueue::NewBlock() {
    if (!m_spare.empty()) {
        std::unique_ptr<TBuffer> block = std::move(m_spare.back());
        m_spare.pop_back();
        return block;
    }
    return std::make_unique<TBuffer>(m_blockSize);
}

// Removes the drained front block, keeping it for reuse.
void SendQueue::RecycleFront() {
    std::unique_ptr<TBuffer> block = std::move(m_blocks.front());
    m_blocks.pop_front();
    if (m_spare.size() < kMaxSpareBlocks) {
        m_spare.push_back(std::move(block));
    }
}

}  // namespace vandrel::net
