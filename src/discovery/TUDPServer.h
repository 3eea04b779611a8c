#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "discovery/ByteStream.h"
#include "discovery/TUDPBase.h"
#include "discovery/UDPDatagramQueue.h"

namespace vandrel::discovery {

class TUDPSocketHandle;
class TUDPListenerThread;
struct ReceivedDatagram;

// The discovery endpoint: binds its Bindings (one on DefaultPort and all local addresses
// when none are given), receives on a listener thread and delivers every datagram to
// OnUDPRead.
//
// Delivery with ThreadedEvent False: the listener only drains the sockets into a queue, and
// the Synchronizer runs DeliverQueued on the GUI thread, which calls OnUDPRead for one
// datagram at a time in arrival order. While OnUDPRead runs (for example inside a modal
// message box), a nested DeliverQueued delivers nothing, so later datagrams wait until it
// returns. With ThreadedEvent True, or without a Synchronizer, OnUDPRead runs on the
// listener thread. Exceptions raised by OnUDPRead are discarded.
class TUDPServer : public TUDPBase {
public:
    using UDPReadEvent =
        std::function<void(TUDPServer& Sender, ByteStream& AData, TUDPSocketHandle& ABinding)>;
    // Must run the given call later on the GUI thread, never inside the call to itself. It
    // is invoked from the listener thread.
    using Synchronizer = std::function<void(std::function<void()>)>;

    TUDPServer();
    ~TUDPServer() override;

    std::vector<std::unique_ptr<TUDPSocketHandle>>& Bindings() { return m_bindings; }
    // Appends a binding whose Port is DefaultPort.
    TUDPSocketHandle& AddBinding();

    int DefaultPort() const { return m_defaultPort; }
    void SetDefaultPort(int port) { m_defaultPort = port; }
    bool ThreadedEvent() const { return m_threadedEvent; }
    void SetThreadedEvent(bool threaded) { m_threadedEvent = threaded; }
    void SetSynchronizer(Synchronizer synchronizer) { m_synchronizer = std::move(synchronizer); }
    // Longest stretch DeliverQueued works before it yields to the event loop and asks the
    // Synchronizer to call it again.
    void SetDeliverySlice(std::chrono::milliseconds slice) { m_deliverySlice = slice; }

    // Bytes of datagrams that may wait for delivery; when they are reached the listener stops
    // receiving until the GUI thread catches up (64 MiB by default).
    void SetMaxQueuedBytes(std::size_t bytes) { m_queue.SetMaxBytes(bytes); }

    UDPReadEvent OnUDPRead;

    // The listener thread while active, else null.
    TUDPListenerThread* Thread() const { return m_thread.get(); }
    // Delivers queued datagrams on the calling thread (the GUI thread).
    void DeliverQueued();
    // Datagrams received but not yet delivered.
    std::size_t PendingCount() const { return m_queue.Count(); }

protected:
    void Activate() override;
    void Deactivate() override;
    void BroadcastEnabledChanged() override;

private:
    void Received(TUDPSocketHandle& binding, const ReceivedDatagram* datagrams, std::size_t count);
    void ReadStep(TUDPSocketHandle& binding, ByteStream& data);
    void PostDelivery();
    void CloseBindings();

    std::vector<std::unique_ptr<TUDPSocketHandle>> m_bindings;
    int m_defaultPort = 0;
    bool m_threadedEvent = false;
    Synchronizer m_synchronizer;
    std::chrono::milliseconds m_deliverySlice{8};
    std::unique_ptr<TUDPListenerThread> m_thread;
    UDPDatagramQueue m_queue;
    ByteStream m_readBuffer;
    // The read buffer of deliveries on the listener thread.
    ByteStream m_threadBuffer;
    bool m_delivering = false;
    // Posted deliveries hold a weak reference, so one that arrives after destruction is void.
    std::shared_ptr<TUDPServer*> m_self;
};

}  // namespace vandrel::discovery
