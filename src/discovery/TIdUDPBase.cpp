#include "discovery/TIdUDPBase.h"

#include "discovery/IdExceptions.h"
#include "discovery/TIdSocketHandle.h"
#include "discovery/TIdStack.h"
#include "net/SocketErrorCodes.h"

namespace vandrel::discovery {

TIdUDPBase::TIdUDPBase() {
    TIdStack::Acquire();
}

TIdUDPBase::~TIdUDPBase() {
    TIdStack::Release();
}

void TIdUDPBase::SetActive(bool active) {
    if (active == m_active) {
        return;
    }
    if (active) {
        Activate();
    } else {
        Deactivate();
    }
}

void TIdUDPBase::SetBroadcastEnabled(bool enabled) {
    if (enabled == m_broadcastEnabled) {
        return;
    }
    m_broadcastEnabled = enabled;
    if (m_active) {
        BroadcastEnabledChanged();
    }
}

void TIdUDPBase::BroadcastEnabledChanged() {
    if (m_binding != nullptr) {
        SetBroadcastFlag(m_broadcastEnabled, m_binding);
    }
}

TIdSocketHandle& TIdUDPBase::Binding() {
    if (!m_active) {
        SetActive(true);
    }
    if (m_binding == nullptr) {
        throw EIdSocketError(net::WSAENOTSOCK);
    }
    return *m_binding;
}

void TIdUDPBase::SetBroadcastFlag(bool enabled, TIdSocketHandle* binding) {
    TIdSocketHandle& target = binding != nullptr ? *binding : Binding();
    target.SetBroadcastFlag(enabled);
}

void TIdUDPBase::Broadcast(const std::string& data, int port) {
    SetBroadcastFlag(true);
    Send(BroadcastAddress, port, data);
    BroadcastEnabledChanged();
}

void TIdUDPBase::Send(const std::string& host, int port, const std::string& data) {
    SendBuffer(host, port, data.data(), data.size());
}

void TIdUDPBase::SendBuffer(const std::string& host, int port, const void* buffer,
                            std::size_t count) {
    const std::string address = TIdStack::Instance().ResolveHost(host);
    TIdSocketHandle& binding = Binding();
    std::size_t sent = 0;
    try {
        sent = binding.SendTo(address, port, buffer, count);
    } catch (const EIdSocketError& error) {
        if (error.LastError() == net::WSAEMSGSIZE) {
            throw EIdException(RSPackageSizeTooBig);
        }
        throw;
    }
    if (sent < count) {
        throw EIdException(RSNotAllBytesSent);
    }
}

}  // namespace vandrel::discovery
