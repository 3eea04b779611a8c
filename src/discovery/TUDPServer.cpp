#include "discovery/TUDPServer.h"

#include <sys/socket.h>

#include <chrono>

#include "discovery/TSocketStack.h"
#include "discovery/TUDPListenerThread.h"
#include "discovery/TUDPSocketHandle.h"

namespace vandrel::discovery {

namespace {
// Replies of a few hundred devices must fit while the listener waits for a core. The system
// caps the request at net.core.rmem_max, on a stock desktop twice its default buffer; that cap
// is kept: SO_RCVBUFFORCE would pass it, but only for root, which a desktop program is not.
constexpr int kReceiveBufferRequest = 4 << 20;
}  // namespace

TUDPServer::TUDPServer() : m_self(std::make_shared<TUDPServer*>(this)) {
    m_queue.SetDrainRequest([this] { PostDelivery(); });
}

TUDPServer::~TUDPServer() {
    // The listener reads m_self when it asks for a delivery, so it must have ended before
    // m_self changes; deliveries already posted find it empty and do nothing.
    SetActive(false);
    m_self.reset();
}

TUDPSocketHandle& TUDPServer::AddBinding() {
    auto binding = std::make_unique<TUDPSocketHandle>();
    binding->SetPort(m_defaultPort);
    m_bindings.push_back(std::move(binding));
    return *m_bindings.back();
}

void TUDPServer::Activate() {
    if (m_bindings.empty()) {
        AddBinding();
    }
    try {
        for (auto& binding : m_bindings) {
            binding->AllocateSocket();
            ::setsockopt(binding->Handle(), SOL_SOCKET, SO_RCVBUF, &kReceiveBufferRequest,
                         sizeof kReceiveBufferRequest);
            binding->Bind();
        }
    } catch (...) {
        CloseBindings();
        throw;
    }
    SetCurrentBinding(m_bindings.front().get());
    std::vector<TUDPSocketHandle*> handles;
    for (auto& binding : m_bindings) {
        handles.push_back(binding.get());
    }
    m_queue.Reset();
    m_thread = std::make_unique<TUDPListenerThread>(
        std::move(handles), BufferSize(),
        [this](TUDPSocketHandle& binding, const ReceivedDatagram* datagrams, std::size_t count) {
            Received(binding, datagrams, count);
        });
    m_thread->Start();
    MarkActive(true);
    BroadcastEnabledChanged();
}

void TUDPServer::Deactivate() {
    if (CurrentBinding() == nullptr) {
        MarkActive(false);
        return;
    }
    // The sockets are closed only after the listener has ended, so it never waits on or
    // reads from a descriptor that is closed (or already reused by another part).
    m_thread->Stop();
    m_queue.Abort();
    m_thread->WaitFor();
    CloseBindings();
    m_thread.reset();
    m_queue.Reset();
    SetCurrentBinding(nullptr);
    MarkActive(false);
}

void TUDPServer::CloseBindings() {
    for (auto& binding : m_bindings) {
        binding->CloseSocket();
    }
}

void TUDPServer::BroadcastEnabledChanged() {
    for (auto& binding : m_bindings) {
        if (binding->HandleAllocated()) {
            SetBroadcastFlag(BroadcastEnabled(), binding.get());
        }
    }
}

void TUDPServer::Received(TUDPSocketHandle& binding, const ReceivedDatagram* datagrams,
                          std::size_t count) {
    if (m_threadedEvent || !m_synchronizer) {
        for (std::size_t k = 0; k < count; ++k) {
            binding.SetPeer(TSocketStack::ToDotted(datagrams[k].PeerAddress),
                            datagrams[k].PeerPort);
            m_threadBuffer.Assign(datagrams[k].Data, datagrams[k].Size);
            try {
                ReadStep(binding, m_threadBuffer);
            } catch (...) {
                // A failing read hook loses only its own datagram.
            }
        }
        return;
    }
    std::vector<UDPDatagram> batch(count);
    for (std::size_t k = 0; k < count; ++k) {
        batch[k].Binding = &binding;
        batch[k].PeerAddress = datagrams[k].PeerAddress;
        batch[k].PeerPort = datagrams[k].PeerPort;
        batch[k].Data.assign(datagrams[k].Data, datagrams[k].Data + datagrams[k].Size);
    }
    m_queue.PushBatch(batch);
}

void TUDPServer::PostDelivery() {
    std::weak_ptr<TUDPServer*> self = m_self;
    m_synchronizer([self] {
        if (const auto server = self.lock()) {
            (*server)->DeliverQueued();
        }
    });
}

void TUDPServer::DeliverQueued() {
    if (m_delivering) {
        return;
    }
    m_delivering = true;
    const auto deadline = std::chrono::steady_clock::now() + m_deliverySlice;
    UDPDatagram datagram;
    while (m_queue.Pop(datagram)) {
        datagram.Binding->SetPeer(TSocketStack::ToDotted(datagram.PeerAddress), datagram.PeerPort);
        m_readBuffer.Assign(datagram.Data.data(), datagram.Data.size());
        try {
            ReadStep(*datagram.Binding, m_readBuffer);
        } catch (...) {
            // A failing read hook loses only its own datagram.
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            // Let the event loop paint and take input; the queue stays marked busy.
            m_delivering = false;
            PostDelivery();
            return;
        }
    }
    m_delivering = false;
}

void TUDPServer::ReadStep(TUDPSocketHandle& binding, ByteStream& data) {
    SetCurrentBinding(&binding);
    if (OnUDPRead) {
        OnUDPRead(*this, data, binding);
    }
}

}  // namespace vandrel::discovery
