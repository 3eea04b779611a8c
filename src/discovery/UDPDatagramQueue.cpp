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

bool UDPDatagramQueue::PushBatch(std::vector<UDPDatagram>& batch) {
    for (UDPDatagram& datagram : batch) {
        const std::size_t cost = datagram.Data.size() + kEntryOverhead;
        bool first = false;
        {
            std::unique_lock lock(m_lock);
            m_space.wait(
                lock, [&] { return m_aborted || m_items.empty() || m_bytes + cost <= m_maxBytes; });
            if (m_aborted) {
                return false;
            }
            m_items.push_back(std::move(datagram));
            m_bytes += cost;
            first = !m_busy;
            m_busy = true;
        }
        if (first && m_drainRequest) {
            m_drainRequest();
        }
    }
    return true;
}

bool UDPDatagramQueue::Pop(UDPDatagram& datagram) {
    std::lock_guard lock(m_lock);
    if (m_items.empty()) {
        m_busy = false;
        return false;
    }
    datagram = std::move(m_items.front());
    m_items.pop_front();
    m_bytes -= datagram.Data.size() + kEntryOverhead;
    m_space.notify_one();
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
    m_bytes = 0;
    m_busy = false;
    m_aborted = false;
}

std::size_t UDPDatagramQueue::Count() const {
    std::lock_guard lock(m_lock);
    return m_items.size();
}

}  // namespace vandrel::discovery
