#include "discovery/UDPDatagramQueue.h"

namespace vandrel::discovery {

namespace {
// Bookkeeping cost of an entry, so that a flood of empty datagrams is bounded as well.
constexpr std::size_t kEntryOverhead = 64;
}  // namespace

UDPDatagramQueue::UDPDatagramQueue(std::size_t maxBytes) : m_maxBytes(maxBytes) {}

void UDPDatagramQueue::SetMaxBytes(std::size_t maxBytes) {
    std::lock_guard lock(m_lock);
    m_maxBytes = maxBytes;
    m_space.notify_all();
}

bool UDPDatagramQueue::Push(UDPDatagram&& datagram) {
    std::vector<UDPDatagram> batch;
    batch.push_back(std::move(datagram));
    return PushBatch(batch);
}

// One lock for the whole batch: the GUI thread takes the same lock, and a listener that
// waits for it while a burst fills the socket loses datagrams.
bool UDPDatagramQueue::PushBatch(std::vector<UDPDatagram>& batch) {
    bool requestDrain = false;
    const auto drain = [&] {
        if (requestDrain && m_drainRequest) {
            m_drainRequest();
        }
        requestDrain = false;
    };
    std::unique_lock lock(m_lock);
    for (UDPDatagram& datagram : batch) {
        const std::size_t cost = datagram.Data.size() + kEntryOverhead;
        const auto room = [&] {
            return m_aborted || m_items.empty() || m_bytes + cost <= m_maxBytes;
        };
        if (!room()) {
            // The items already pushed must be asked for before waiting for their space.
            lock.unlock();
            drain();
            lock.lock();
            m_space.wait(lock, room);
        }
        if (m_aborted) {
            return false;
        }
        m_items.push_back(std::move(datagram));
        m_bytes += cost;
        requestDrain = requestDrain || !m_busy;
        m_busy = true;
    }
    lock.unlock();
    drain();
    return true;
}

// The consumer takes everything queued at once and then pops from its own share without
// locking, so the two threads meet once per batch instead of once per datagram.
bool UDPDatagramQueue::Pop(UDPDatagram& datagram) {
    if (m_taken.empty()) {
        std::lock_guard lock(m_lock);
        if (m_items.empty()) {
            m_busy = false;
            return false;
        }
        m_taken.swap(m_items);
        m_bytes = 0;
        m_space.notify_one();
    }
    datagram = std::move(m_taken.front());
    m_taken.pop_front();
    return true;
}

void UDPDatagramQueue::Abort() {
    std::lock_guard lock(m_lock);
    m_aborted = true;
    m_space.notify_all();
}

void UDPDatagramQueue::Reset() {
    std::lock_guard lock(m_lock);
    m_items.clear();
    m_taken.clear();
    m_bytes = 0;
    m_busy = false;
    m_aborted = false;
}

std::size_t UDPDatagramQueue::Count() const {
    std::lock_guard lock(m_lock);
    return m_items.size() + m_taken.size();
}

}  // namespace vandrel::discovery
