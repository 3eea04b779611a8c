#include "discovery/TIdUDPListenerThread.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <typeinfo>

#include "discovery/IdExceptions.h"
#include "discovery/TIdSocketHandle.h"
#include "discovery/TIdStack.h"
#include "net/SocketErrorCodes.h"

namespace vandrel::discovery {

namespace {
// Datagrams taken from one socket per wake-up before the others get their turn.
constexpr int kBurstPerSocket = 256;
}  // namespace

TIdUDPListenerThread::TIdUDPListenerThread(std::vector<TIdSocketHandle*> bindings, int bufferSize,
                                           TDeliver deliver)
    : m_bindings(std::move(bindings)),
      m_bufferSize(bufferSize > 0 ? bufferSize : 1),
      m_deliver(std::move(deliver)) {
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

TIdUDPListenerThread::~TIdUDPListenerThread() {
    Stop();
    WaitFor();
    if (m_wakeFd >= 0) {
        ::close(m_wakeFd);
    }
}

void TIdUDPListenerThread::Start() {
    m_thread = std::thread([this] { Execute(); });
}

void TIdUDPListenerThread::Stop() {
    {
        std::lock_guard lock(m_lock);
        m_stopped = true;
        m_terminated = true;
    }
    if (m_wakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof one);
    }
}

void TIdUDPListenerThread::WaitFor() {
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) {
        m_thread.join();
    }
}

bool TIdUDPListenerThread::Stopped() const {
    std::lock_guard lock(m_lock);
    return m_stopped;
}

bool TIdUDPListenerThread::Terminated() const {
    std::lock_guard lock(m_lock);
    return m_terminated;
}

std::string TIdUDPListenerThread::ErrorClass() const {
    std::lock_guard lock(m_lock);
    return m_errorClass;
}

std::string TIdUDPListenerThread::ErrorMessage() const {
    std::lock_guard lock(m_lock);
    return m_errorMessage;
}

void TIdUDPListenerThread::Execute() {
    try {
        while (!Stopped()) {
            Run();
        }
    } catch (const std::exception& error) {
        std::lock_guard lock(m_lock);
        m_errorClass = typeid(error).name();
        m_errorMessage = error.what();
        m_terminated = true;
    }
}

void TIdUDPListenerThread::Run() {
    if (m_bindings.size() > MaxBindings) {
        throw EIdException(RSSetSizeExceeded);
    }
    std::vector<pollfd> fds;
    fds.reserve(m_bindings.size() + 1);
    for (TIdSocketHandle* binding : m_bindings) {
        fds.push_back({binding->Handle(), POLLIN, 0});
    }
    fds.push_back({m_wakeFd, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), WaitTime) <= 0) {
        return;
    }
    for (std::size_t i = 0; i < m_bindings.size(); ++i) {
        if ((fds[i].revents & (POLLIN | POLLERR)) == 0) {
            continue;
        }
        for (int n = 0; n < kBurstPerSocket && !Stopped(); ++n) {
            try {
                ReceiveFrom(*m_bindings[i]);
            } catch (const EIdSocketError& error) {
                if (error.LastError() == net::WSAEWOULDBLOCK) {
                    break;
                }
                // Any other failure loses this one datagram only.
            } catch (...) {
            }
        }
    }
}

void TIdUDPListenerThread::ReceiveFrom(TIdSocketHandle& binding) {
    m_buffer.SetSize(static_cast<std::size_t>(m_bufferSize));
    sockaddr_in from{};
    iovec io{m_buffer.Memory(), m_buffer.Size()};
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    const ssize_t received = ::recvmsg(binding.Handle(), &message, MSG_DONTWAIT);
    TIdStack::CheckForSocketError(static_cast<int>(received));
    if ((message.msg_flags & MSG_TRUNC) != 0) {
        throw EIdSocketError(net::WSAEMSGSIZE);
    }
    m_buffer.SetSize(static_cast<std::size_t>(received));
    m_buffer.SetPosition(0);
    m_deliver(binding, TIdStack::ToDotted(from.sin_addr), ntohs(from.sin_port), m_buffer);
}

}  // namespace vandrel::discovery
