#pragma once

#include <netinet/in.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

namespace vandrel::discovery {

class TUDPSocketHandle;

// One received datagram waiting for delivery on the GUI thread.
struct UDPDatagram {
    TUDPSocketHandle* Binding = nullptr;
    in_addr PeerAddress{};
    int PeerPort = 0;
    std::vector<std::uint8_t> Data;
};

// Hands datagrams from the listener thread to the GUI thread in arrival order. The listener
// drains the socket into it quickly, so a burst survives the system's small receive queue;
// the GUI thread pops one datagram at a time, taking all that are queued under one lock.
// Bounded: when full, Push blocks the listener (later datagrams then wait in the system
// queue, as with a direct hand-over); the consumer's taken share is at most one full queue.
//
// The queue is idle when the GUI side has found it empty; the push that makes it busy again
// calls the drain request, so exactly one drain is asked for per idle-to-busy change.
class UDPDatagramQueue {
public:
    explicit UDPDatagramQueue(std::size_t maxBytes = 64u << 20);

    // Called on the pushing thread, outside the queue's lock.
    void SetDrainRequest(std::function<void()> request) { m_drainRequest = std::move(request); }
    void SetMaxBytes(std::size_t maxBytes);

    // False when the queue was aborted; the datagram (and the rest of a batch) is dropped.
    bool Push(UDPDatagram&& datagram);
    bool PushBatch(std::vector<UDPDatagram>& batch);
    // Takes the oldest datagram; when none is left, marks the queue idle and returns false.
    // One consumer thread only.
    bool Pop(UDPDatagram& datagram);
    // Wakes a blocked Push and makes further pushes fail until Reset.
    void Abort();
    // Drops every queued datagram and re-opens the queue, idle. On the consumer's thread.
    void Reset();
    // On the consumer's thread.
    std::size_t Count() const;

private:
    mutable std::mutex m_lock;
    std::condition_variable m_space;
    std::deque<UDPDatagram> m_items;
    std::deque<UDPDatagram> m_taken;  // the consumer's, unlocked
    std::size_t m_bytes = 0;
    std::size_t m_maxBytes;
    bool m_busy = false;
    bool m_aborted = false;
    std::function<void()> m_drainRequest;
};

}  // namespace vandrel::discovery
