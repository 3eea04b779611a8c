#pragma once

#include <atomic>
#include <cstddef>
#include <string>

namespace vandrel::discovery {

class TUDPSocketHandle;

// What every UDP component of the endpoint family shares: the Active switch, the buffer size,
// the broadcast setting, the current binding and sending. Creating a component acquires the
// shared socket stack, destroying it releases the stack.
class TUDPBase {
public:
    static constexpr int DefaultBufferSize = 8192;
    static constexpr const char* BroadcastAddress = "255.255.255.255";

    TUDPBase();
    virtual ~TUDPBase();
    TUDPBase(const TUDPBase&) = delete;
    TUDPBase& operator=(const TUDPBase&) = delete;

    bool Active() const { return m_active; }
    // Activating an active or deactivating an inactive component does nothing.
    void SetActive(bool active);

    int BufferSize() const { return m_bufferSize; }
    void SetBufferSize(int size) { m_bufferSize = size; }
    bool BroadcastEnabled() const { return m_broadcastEnabled; }
    void SetBroadcastEnabled(bool enabled);

    // The binding used for sending; activates the component first when inactive.
    TUDPSocketHandle& Binding();

    // data to 255.255.255.255:port with SO_BROADCAST switched on only for this send. When
    // the send raises, broadcast stays on.
    void Broadcast(const std::string& data, int port);
    void Send(const std::string& host, int port, const std::string& data);
    // host: "localhost", dotted text, or a name whose first address is used. Raises
    // "Package Size Too Big.", a socket error, or "Not all bytes sent.".
    void SendBuffer(const std::string& host, int port, const void* buffer, std::size_t count);
    // On the given binding, or on the current one (activating first) when none is given.
    void SetBroadcastFlag(bool enabled, TUDPSocketHandle* binding = nullptr);

protected:
    virtual void Activate() = 0;
    virtual void Deactivate() = 0;
    // Applies BroadcastEnabled to every binding.
    virtual void BroadcastEnabledChanged();

    void SetCurrentBinding(TUDPSocketHandle* binding) { m_binding.store(binding); }
    TUDPSocketHandle* CurrentBinding() const { return m_binding.load(); }
    void MarkActive(bool active) { m_active = active; }

private:
    bool m_active = false;
    int m_bufferSize = DefaultBufferSize;
    bool m_broadcastEnabled = false;
    // Set by the listener thread when it delivers there (no synchronizer, or ThreadedEvent)
    // while the owner's thread sends from it.
    std::atomic<TUDPSocketHandle*> m_binding{nullptr};
};

}  // namespace vandrel::discovery
