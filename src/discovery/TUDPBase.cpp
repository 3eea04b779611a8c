#include "discovery/TUDPBase.h"

#include "discovery/TSocketStack.h"
#include "discovery/TUDPSocketHandle.h"
#include "discovery/UDPErrors.h"
#include "net/SocketErrorCodes.h"

namespace vandrel::discovery {

TUDPBase::TUDPBase() {
    TSocketStack::Acquire();
}

TUDPBase::~TUDPBase() {
    TSocketStack::Release();
}

void TUDPBase::SetActive(bool active) {
    if (active == m_active) {
        return;
    }
    if (active) {
        Activate();
    } else {
        Deactivate();
    }
}

void TUDPBase::SetBroadcastEnabled(bool enabled) {
    if (enabled == m_broadcastEnabled) {
        return;
    }
    m_broadcastEnabled = enabled;
    if (m_active) {
        BroadcastEnabledChanged();
    }
}

void TUDPBase::BroadcastEnabledChanged() {
    if (TUDPSocketHandle* binding = CurrentBinding()) {
        SetBroadcastFlag(m_broadcastEnabled, binding);
    }
}

TUDPSocketHandle& TUDPBase::Binding() {
    if (!m_active) {
        SetActive(true);
    }
    TUDPSocketHandle* binding = CurrentBinding();
    if (binding == nullptr) {
        throw EUDPSocketError(net::WSAENOTSOCK);
    }
    return *binding;
}

void TUDPBase::SetBroadcastFlag(bool enabled, TUDPSocketHandle* binding) {
    TUDPSocketHandle& target = binding != nullptr ? *binding : Binding();
    target.SetBroadcastFlag(enabled);
}

void TUDPBase::Broadcast(const std::string& data, int port) {
    SetBroadcastFlag(true);
    Send(BroadcastAddress, port, data);
    BroadcastEnabledChanged();
}

void TUDPBase::Send(const std::string& host, int port, const std::string& data) {
    SendBuffer(host, port, data.data(), data.size());
}

void TUDPBase::SendBuffer(const std::string& host, int port, const void* buffer,
                          std::size_t count) {
    const std::string address = TSocketStack::Instance().ResolveHost(host);
    TUDPSocketHandle& binding = Binding();
    std::size_t sent = 0;
    try {
        sent = binding.SendTo(address, port, buffer, count);
    } catch (const EUDPSocketError& error) {
        if (error.LastError() == net::WSAEMSGSIZE) {
            throw EUDPError(RSPackageSizeTooBig);
        }
        throw;
    }
    if (sent < count) {
        throw EUDPError(RSNotAllBytesSent);
    }
}

}  // namespace vandrel::discovery
