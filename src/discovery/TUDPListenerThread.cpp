#include "discovery/TUDPListenerThread.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <typeinfo>

#include "discovery/TSocketStack.h"
#include "discovery/TUDPSocketHandle.h"
#include "discovery/UDPErrors.h"
#include "net/SocketErrorCodes.h"

namespace vandrel::discovery {

namespace {
// Longest time one binding is drained before the wait runs again and the others get a turn.
constexpr auto kSocketTurn = std::chrono::milliseconds(100);
}  // namespace

TUDPListenerThread::TUDPListenerThread(std::vector<TUDPSocketHandle*> bindings, int bufferSize,
                                       DeliverBatch deliver)
    : m_bindings(std::move(bindings)),
      m_bufferSize(bufferSize > 0 ? bufferSize : 1),
      m_deliver(std::move(deliver)),
      m_buffer(BatchSize * static_cast<std::size_t>(m_bufferSize)) {
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

TUDPListenerThread::~TUDPListenerThread() {
    Stop();
    WaitFor();
    if (m_wakeFd >= 0) {
        ::close(m_wakeFd);
    }
}

void TUDPListenerThread::Start() {
    m_thread = std::thread([this] { Execute(); });
}

void TUDPListenerThread::Stop() {
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

void TUDPListenerThread::WaitFor() {
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) {
        m_thread.join();
    }
}

bool TUDPListenerThread::Stopped() const {
    std::lock_guard lock(m_lock);
    return m_stopped;
}

bool TUDPListenerThread::Terminated() const {
    std::lock_guard lock(m_lock);
    return m_terminated;
}

std::string TUDPListenerThread::ErrorClass() const {
    std::lock_guard lock(m_lock);
    return m_errorClass;
}

std::string TUDPListenerThread::ErrorMessage() const {
    std::lock_guard lock(m_lock);
    return m_errorMessage;
}

void TUDPListenerThread::Execute() {
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

void TUDPListenerThread::Run() {
    if (m_bindings.size() > MaxBindings) {
        throw EUDPError(RSSetSizeExceeded);
    }
    std::vector<pollfd> fds;
    fds.reserve(m_bindings.size() + 1);
    for (TUDPSocketHandle* binding : m_bindings) {
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
        // Drain the socket: the system's default receive buffer holds only a few hundred
        // small datagrams, so a burst of replies must be taken out as fast as it comes.
        const auto start = std::chrono::steady_clock::now();
        while (!Stopped() && std::chrono::steady_clock::now() - start < kSocketTurn) {
            try {
                if (ReceiveBatch(*m_bindings[i]) == 0) {
                    break;
                }
            } catch (...) {
                // A failed receive or deliver loses only its own datagrams.
                break;
            }
        }
    }
}

std::size_t TUDPListenerThread::ReceiveBatch(TUDPSocketHandle& binding) {
    const auto slot = static_cast<std::size_t>(m_bufferSize);
    mmsghdr messages[BatchSize] = {};
    iovec io[BatchSize];
    sockaddr_in from[BatchSize];
    for (std::size_t k = 0; k < BatchSize; ++k) {
        io[k] = {m_buffer.data() + k * slot, slot};
        messages[k].msg_hdr.msg_name = &from[k];
        messages[k].msg_hdr.msg_namelen = sizeof from[k];
        messages[k].msg_hdr.msg_iov = &io[k];
        messages[k].msg_hdr.msg_iovlen = 1;
    }
    const int received = ::recvmmsg(binding.Handle(), messages, BatchSize, MSG_DONTWAIT, nullptr);
    if (received < 0) {
        const int error = TSocketStack::WSGetLastError();
        if (error == net::WSAEWOULDBLOCK || error == net::WSAEINTR) {
            return 0;
        }
        throw EUDPSocketError(error);
    }
    ReceivedDatagram datagrams[BatchSize];
    std::size_t count = 0;
    for (int k = 0; k < received; ++k) {
        // Longer than the buffer: cut off by the system, so it is lost.
        if ((messages[k].msg_hdr.msg_flags & MSG_TRUNC) != 0) {
            continue;
        }
        datagrams[count++] = {from[k].sin_addr, ntohs(from[k].sin_port),
                              m_buffer.data() + static_cast<std::size_t>(k) * slot,
                              messages[k].msg_len};
    }
    if (count > 0) {
        m_deliver(binding, datagrams, count);
    }
    return static_cast<std::size_t>(received);
}

}  // namespace vandrel::discovery
