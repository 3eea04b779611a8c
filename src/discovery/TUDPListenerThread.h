#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vandrel::discovery {

class TUDPSocketHandle;

// One datagram of a receive batch. Data points into the listener's buffer and is valid
// until the deliver call returns.
struct ReceivedDatagram {
    in_addr PeerAddress{};
    int PeerPort = 0;
    const std::uint8_t* Data = nullptr;
    std::size_t Size = 0;
};

// The endpoint's receiving thread. It waits up to WaitTime ms for any binding to become
// readable, then drains it: datagrams are received in batches into one reused buffer of
// BatchSize slots of BufferSize bytes and passed to the deliver function with the binding.
// A datagram longer than BufferSize is lost. Errors of a single receive are discarded; any
// other error ends the thread and is kept in ErrorClass / ErrorMessage.
class TUDPListenerThread {
public:
    using DeliverBatch = std::function<void(TUDPSocketHandle& binding,
                                            const ReceivedDatagram* datagrams, std::size_t count)>;

    static constexpr int WaitTime = 1000;
    static constexpr std::size_t MaxBindings = 64;
    static constexpr std::size_t BatchSize = 64;

    TUDPListenerThread(std::vector<TUDPSocketHandle*> bindings, int bufferSize,
                       DeliverBatch deliver);
    // Stops and joins the thread.
    ~TUDPListenerThread();
    TUDPListenerThread(const TUDPListenerThread&) = delete;
    TUDPListenerThread& operator=(const TUDPListenerThread&) = delete;

    void Start();
    // Sets the stop and terminate flags under the thread's lock and wakes the wait at once.
    void Stop();
    // Waits for the thread to end. The bindings' sockets stay open until this returns.
    void WaitFor();

    bool Stopped() const;
    bool Terminated() const;
    std::string ErrorClass() const;
    std::string ErrorMessage() const;

private:
    void Execute();
    void Run();
    // Receives and delivers up to BatchSize datagrams; returns how many were received, 0
    // when none was waiting.
    std::size_t ReceiveBatch(TUDPSocketHandle& binding);

    std::vector<TUDPSocketHandle*> m_bindings;
    int m_bufferSize;
    DeliverBatch m_deliver;
    std::vector<std::uint8_t> m_buffer;
    int m_wakeFd = -1;
    mutable std::mutex m_lock;
    bool m_stopped = false;
    bool m_terminated = false;
    std::string m_errorClass;
    std::string m_errorMessage;
    std::thread m_thread;
};

}  // namespace vandrel::discovery
