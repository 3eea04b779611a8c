#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace vandrel::discovery {

class TIdSocketHandle;

// One received datagram waiting for delivery on the GUI thread.
struct TIdDatagram {
    TIdSocketHandle* Binding = nullptr;
    std::string PeerIP;
    int PeerPort = 0;
    std::vector<std::uint8_t> Data;
};

// Hands datagrams from the listener thread to the GUI thread in arrival order. The listener
// drains the socket into it quickly, so a burst survives the system's small receive queue;
// the GUI thread pops one datagram at a time. Bounded: when full, Push blocks the listener
// (later datagrams then wait in the system queue, as with a direct hand-over).
//
// It also tracks whether a drain of the GUI side is pending, so the listener posts exactly
// one drain request per idle-to-busy change.
class TIdDatagramQueue {
public:
    enum class PushResult { Queued, QueuedFirst, Aborted };

    explicit TIdDatagramQueue(std::size_t maxBytes = 64u << 20);

    // QueuedFirst: the queue was idle and the caller must request a drain.
    PushResult Push(TIdDatagram&& datagram);
    // Takes the oldest datagram; when none is left, marks the queue idle and returns false.
    bool Pop(TIdDatagram& datagram);
    // Wakes a blocked Push and makes further pushes fail until Reset.
    void Abort();
    // Drops every queued datagram and re-opens the queue, idle.
    void Reset();
    std::size_t Count() const;
    void SetMaxBytes(std::size_t maxBytes);

private:
    mutable std::mutex m_lock;
    std::condition_variable m_space;
    std::deque<TIdDatagram> m_items;
    std::size_t m_bytes = 0;
    std::size_t m_maxBytes;
    bool m_busy = false;
    bool m_aborted = false;
};

}  // namespace vandrel::discovery
