#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "discovery/TMemoryStream.h"

namespace vandrel::discovery {

class TIdSocketHandle;

// The endpoint's receiving thread. It waits up to WaitTime ms for any binding to become
// readable, receives each datagram into one reused buffer of BufferSize bytes and passes it to
// the deliver function together with the binding and the sender. A datagram longer than
// BufferSize is lost. Errors of a single datagram are discarded; any other error ends the
// thread and is kept in ErrorClass / ErrorMessage.
class TIdUDPListenerThread {
public:
    using TDeliver = std::function<void(TIdSocketHandle& binding, const std::string& peerIP,
                                        int peerPort, TMemoryStream& data)>;

    static constexpr int WaitTime = 1000;
    static constexpr std::size_t MaxBindings = 64;

    TIdUDPListenerThread(std::vector<TIdSocketHandle*> bindings, int bufferSize, TDeliver deliver);
    // Stops and joins the thread.
    ~TIdUDPListenerThread();
    TIdUDPListenerThread(const TIdUDPListenerThread&) = delete;
    TIdUDPListenerThread& operator=(const TIdUDPListenerThread&) = delete;

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
    void ReceiveFrom(TIdSocketHandle& binding);

    std::vector<TIdSocketHandle*> m_bindings;
    int m_bufferSize;
    TDeliver m_deliver;
    TMemoryStream m_buffer;
    int m_wakeFd = -1;
    mutable std::mutex m_lock;
    bool m_stopped = false;
    bool m_terminated = false;
    std::string m_errorClass;
    std::string m_errorMessage;
    std::thread m_thread;
};

}  // namespace vandrel::discovery
