#include "net/WSocketLibrary.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "net/ESocketException.h"
#include "net/NativeError.h"
#include "net/SocketErrorCodes.h"
#include "net/WSocketErrorText.h"

namespace vandrel::net {

namespace {

struct LibraryState {
    std::recursive_mutex windowClassLock;
    std::recursive_mutex libraryLock;
    std::recursive_mutex sendBufferLock;
    std::atomic<bool> loaded{false};
    std::atomic<bool> loaded2{false};
    int userCount = 0;
    int startups = 0;
    std::atomic<std::uint8_t> reqVerLow{1};
    std::atomic<std::uint8_t> reqVerHigh{1};
    LibraryStartInfo startupRecord;
};

LibraryState& lib() {
    // Never destroyed: sockets may outlive static destruction order.
    static LibraryState* state = new LibraryState;
    return *state;
}

thread_local int t_lastError = 0;

constexpr std::array<std::string_view, 32> kEntries = {"WSAStartup",
                                                       "WSACleanup",
                                                       "WSASetLastError",
                                                       "WSAGetLastError",
                                                       "WSACancelAsyncRequest",
                                                       "WSAAsyncGetHostByName",
                                                       "WSAAsyncGetHostByAddr",
                                                       "WSAAsyncSelect",
                                                       "getservbyname",
                                                       "getprotobyname",
                                                       "gethostbyname",
                                                       "gethostbyaddr",
                                                       "socket",
                                                       "shutdown",
                                                       "setsockopt",
                                                       "getsockopt",
                                                       "sendto",
                                                       "send",
                                                       "ntohs",
                                                       "listen",
                                                       "ioctlsocket",
                                                       "inet_ntoa",
                                                       "inet_addr",
                                                       "htons",
                                                       "getsockname",
                                                       "getpeername",
                                                       "connect",
                                                       "closesocket",
                                                       "bind",
                                                       "accept",
                                                       "recv",
                                                       "recvfrom"};

inline void ensureStarted() {
    if (!lib().loaded.load(std::memory_order_acquire)) {
        LoadSocketEntry("");
    }
}

// Stores the mapped errno and returns the library's failure value.
inline int failWithErrno() {
    t_lastError = SocketErrorFromErrno(errno);
    return SOCKET_ERROR;
}

int failWith(int socketError) {
    t_lastError = socketError;
    return SOCKET_ERROR;
}

int secondsFromMs(std::uint32_t ms) {
    return static_cast<int>(std::max<std::uint32_t>(1, (ms + 999) / 1000));
}

int applyKeepAliveValues(SocketHandle s, const KeepAliveValues& v) {
    const int on = v.OnOff ? 1 : 0;
    if (::setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0) {
        return failWithErrno();
    }
    if (!on) {
        return 0;
    }
    const int idle = secondsFromMs(v.KeepAliveTime);
    const int interval = secondsFromMs(v.KeepAliveInterval);
    if (::setsockopt(s, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle) != 0 ||
        ::setsockopt(s, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval) != 0) {
        return failWithErrno();
    }
    return 0;
}

int hostErrorToSocketError(int herr) {
    switch (herr) {
        case HOST_NOT_FOUND:
            return WSAHOST_NOT_FOUND;
        case TRY_AGAIN:
            return WSATRY_AGAIN;
        case NO_RECOVERY:
            return WSANO_RECOVERY;
        default:
            return WSANO_DATA;
    }
}

struct HostRecord {
    hostent entry;
    std::array<char, 8192> buf;
};

}  // namespace

std::recursive_mutex& SocketLibrary::WindowClassLock() {
    return lib().windowClassLock;
}
std::recursive_mutex& SocketLibrary::LibraryLock() {
    return lib().libraryLock;
}
std::recursive_mutex& SocketLibrary::SendBufferLock() {
    return lib().sendBufferLock;
}

int SocketLibrary::SocketUserCount() {
    std::lock_guard lock(LibraryLock());
    return lib().userCount;
}

void SocketLibrary::AddSocketUser() {
    std::lock_guard lock(LibraryLock());
    ++lib().userCount;
}

void SocketLibrary::RemoveSocketUser() {
    std::lock_guard lock(LibraryLock());
    if (--lib().userCount < 1) {
        ReleaseSocketLibrary();
    }
}

bool SocketLibrary::IsLoaded() {
    return lib().loaded.load();
}
bool SocketLibrary::IsLoaded2() {
    return lib().loaded2.load();
}

int SocketLibrary::StartupCount() {
    std::lock_guard lock(LibraryLock());
    return lib().startups;
}

std::uint8_t SocketLibrary::ReqVerLow() {
    return lib().reqVerLow.load();
}
std::uint8_t SocketLibrary::ReqVerHigh() {
    return lib().reqVerHigh.load();
}
void SocketLibrary::StoreReqVerLow(std::uint8_t v) {
    lib().reqVerLow.store(v);
}
void SocketLibrary::StoreReqVerHigh(std::uint8_t v) {
    lib().reqVerHigh.store(v);
}

void LoadSocketEntry(const std::string& name) {
    std::lock_guard lock(SocketLibrary::LibraryLock());
    LibraryState& s = lib();
    if (!s.loaded.load()) {
        // Nothing to load with ordinary linking; a failed start keeps the
        // library counted as loaded and is not retried.
        s.loaded.store(true, std::memory_order_release);
        const std::uint16_t version =
            static_cast<std::uint16_t>(s.reqVerLow.load() | (s.reqVerHigh.load() << 8));
        ++s.startups;
        const int r = WSocket_WSAStartup(version, &s.startupRecord);
        if (r != 0) {
            throw ESocketException("Winsock startup error wsock32.dll - " + SystemErrorMessage(r));
        }
    }
    if (name.empty()) {
        return;
    }
    if (std::find(kEntries.begin(), kEntries.end(), name) == kEntries.end()) {
        throw ESocketException("Procedure " + name + " not found in wsock32.dll - " +
                               SystemErrorMessage(ENOSYS));
    }
}

void LoadSocket2Entry(const std::string& name) {
    std::lock_guard lock(SocketLibrary::LibraryLock());
    if (!lib().loaded2.load()) {
        LoadSocketEntry("");
        lib().loaded2.store(true);
    }
    if (!name.empty() && name != "WSAIoctl") {
        throw ESocketException("Procedure " + name + " not found in ws2_32.dll - " +
                               SystemErrorMessage(ENOSYS));
    }
}

void ReleaseSocketLibrary() {
    std::lock_guard lock(SocketLibrary::LibraryLock());
    LibraryState& s = lib();
    if (!s.loaded.load() || s.userCount != 0) {
        return;
    }
    WSocket_WSACleanup();
    s.loaded2.store(false);
    s.loaded.store(false);
}

int WSocket_WSAStartup(std::uint16_t wVersionRequired, LibraryStartInfo* lpWSAData) {
    // Version 1.1 up to 2.2 is offered; a request below 1.0 is refused as the
    // library it stands for refuses it.
    const int major = wVersionRequired & 0xFF;
    if (major < 1) {
        return WSAVERNOTSUPPORTED;
    }
    if (lpWSAData) {
        lpWSAData->wVersion = std::min<std::uint16_t>(wVersionRequired, 0x0202);
        lpWSAData->wHighVersion = 0x0202;
        std::strncpy(lpWSAData->szDescription, "BSD sockets", sizeof lpWSAData->szDescription - 1);
    }
    return 0;
}

int WSocket_WSACleanup() {
    return 0;
}
void WSocket_WSASetLastError(int iError) {
    t_lastError = iError;
}
int WSocket_WSAGetLastError() {
    return t_lastError;
}

SocketHandle WSocket_socket(int af, int type, int protocol) {
    ensureStarted();
    const SocketHandle s = ::socket(af, type | SOCK_CLOEXEC, protocol);
    return s < 0 ? failWithErrno() : s;
}

int WSocket_shutdown(SocketHandle s, int how) {
    ensureStarted();
    return ::shutdown(s, how) == 0 ? 0 : failWithErrno();
}

int WSocket_setsockopt(SocketHandle s, int level, int optname, const void* optval, int optlen) {
    ensureStarted();
    return ::setsockopt(s, level, optname, optval, static_cast<socklen_t>(optlen)) == 0
               ? 0
               : failWithErrno();
}

int WSocket_getsockopt(SocketHandle s, int level, int optname, void* optval, int* optlen) {
    ensureStarted();
    socklen_t len = optlen ? static_cast<socklen_t>(*optlen) : 0;
    if (::getsockopt(s, level, optname, optval, &len) != 0) {
        return failWithErrno();
    }
    if (optlen) {
        *optlen = static_cast<int>(len);
    }
    return 0;
}

namespace {

int sendResult(ssize_t n) {
    return n < 0 ? failWithErrno() : static_cast<int>(n);
}

}  // namespace

int WSocket_sendto(SocketHandle s, const void* buf, int len, int flags, const sockaddr* to,
                   int tolen) {
    ensureStarted();
    const ssize_t n =
        ::sendto(s, buf, static_cast<size_t>(std::max(len, 0)), flags | MSG_NOSIGNAL | MSG_DONTWAIT,
                 to, static_cast<socklen_t>(tolen));
    return sendResult(n);
}

int WSocket_send(SocketHandle s, const void* buf, int len, int flags) {
    ensureStarted();
    const ssize_t n =
        ::send(s, buf, static_cast<size_t>(std::max(len, 0)), flags | MSG_NOSIGNAL | MSG_DONTWAIT);
    return sendResult(n);
}

int WSocket_sendv(SocketHandle s, const iovec* iov, int iovcnt, int flags) {
    ensureStarted();
    msghdr msg{};
    msg.msg_iov = const_cast<iovec*>(iov);
    msg.msg_iovlen = static_cast<std::size_t>(std::max(iovcnt, 0));
    return sendResult(::sendmsg(s, &msg, flags | MSG_NOSIGNAL | MSG_DONTWAIT));
}

int WSocket_recv(SocketHandle s, void* buf, int len, int flags) {
    ensureStarted();
    const ssize_t n = ::recv(s, buf, static_cast<size_t>(std::max(len, 0)), flags | MSG_DONTWAIT);
    return n < 0 ? failWithErrno() : static_cast<int>(n);
}

int WSocket_recvfrom(SocketHandle s, void* buf, int len, int flags, sockaddr* from, int* fromlen) {
    ensureStarted();
    socklen_t alen = fromlen ? static_cast<socklen_t>(*fromlen) : 0;
    const ssize_t n = ::recvfrom(s, buf, static_cast<size_t>(std::max(len, 0)),
                                 flags | MSG_DONTWAIT, from, fromlen ? &alen : nullptr);
    if (n < 0) {
        return failWithErrno();
    }
    if (fromlen) {
        *fromlen = static_cast<int>(alen);
    }
    return static_cast<int>(n);
}

std::uint16_t WSocket_ntohs(std::uint16_t netshort) {
    return ntohs(netshort);
}
std::uint16_t WSocket_htons(std::uint16_t hostshort) {
    return htons(hostshort);
}

int WSocket_listen(SocketHandle s, int backlog) {
    ensureStarted();
    return ::listen(s, backlog) == 0 ? 0 : failWithErrno();
}

int WSocket_ioctlsocket(SocketHandle s, unsigned long cmd, unsigned long* argp) {
    ensureStarted();
    if (!argp) {
        return failWith(WSAEFAULT);
    }
    if (cmd == static_cast<unsigned long>(FIONREAD)) {
        int n = 0;
        if (::ioctl(s, FIONREAD, &n) != 0) {
            return failWithErrno();
        }
        *argp = static_cast<unsigned long>(std::max(n, 0));
        return 0;
    }
    if (cmd == static_cast<unsigned long>(FIONBIO)) {
        const int flags = ::fcntl(s, F_GETFL);
        if (flags < 0) {
            return failWithErrno();
        }
        const int wanted = *argp ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
        return ::fcntl(s, F_SETFL, wanted) == 0 ? 0 : failWithErrno();
    }
    return failWith(WSAEINVAL);
}

std::string WSocket_inet_ntoa(in_addr in) {
    char buf[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &in, buf, sizeof buf);
    return buf;
}

std::uint32_t WSocket_inet_addr(const char* cp) {
    return cp ? ::inet_addr(cp) : INADDR_NONE;
}

int WSocket_getsockname(SocketHandle s, sockaddr* name, int* namelen) {
    ensureStarted();
    socklen_t len = namelen ? static_cast<socklen_t>(*namelen) : 0;
    if (::getsockname(s, name, &len) != 0) {
        return failWithErrno();
    }
    if (namelen) {
        *namelen = static_cast<int>(len);
    }
    return 0;
}

int WSocket_getpeername(SocketHandle s, sockaddr* name, int* namelen) {
    ensureStarted();
    socklen_t len = namelen ? static_cast<socklen_t>(*namelen) : 0;
    if (::getpeername(s, name, &len) != 0) {
        return failWithErrno();
    }
    if (namelen) {
        *namelen = static_cast<int>(len);
    }
    return 0;
}

int WSocket_connect(SocketHandle s, const sockaddr* name, int namelen) {
    ensureStarted();
    if (::connect(s, name, static_cast<socklen_t>(namelen)) == 0) {
        return 0;
    }
    return failWithErrno();
}

int WSocket_closesocket(SocketHandle s) {
    ensureStarted();
    // Linux releases the descriptor even when close() reports EINTR.
    if (::close(s) != 0 && errno != EINTR) {
        return failWithErrno();
    }
    return 0;
}

int WSocket_bind(SocketHandle s, const sockaddr* addr, int namelen) {
    ensureStarted();
    return ::bind(s, addr, static_cast<socklen_t>(namelen)) == 0 ? 0 : failWithErrno();
}

SocketHandle WSocket_accept(SocketHandle s, sockaddr* addr, int* addrlen) {
    ensureStarted();
    socklen_t len = addrlen ? static_cast<socklen_t>(*addrlen) : 0;
    const SocketHandle r = ::accept4(s, addr, addrlen ? &len : nullptr, SOCK_CLOEXEC);
    if (r < 0) {
        return failWithErrno();
    }
    if (addrlen) {
        *addrlen = static_cast<int>(len);
    }
    return r;
}

int WSocket_WSAIoctl(SocketHandle s, std::uint32_t dwIoControlCode, const void* lpvInBuffer,
                     std::uint32_t cbInBuffer, void* /*lpvOutBuffer*/,
                     std::uint32_t /*cbOutBuffer*/, std::uint32_t* lpcbBytesReturned,
                     void* /*lpOverlapped*/, void* /*lpCompletionRoutine*/) {
    if (!lib().loaded2.load()) {
        LoadSocket2Entry("");
    }
    if (lpcbBytesReturned) {
        *lpcbBytesReturned = 0;
    }
    if (dwIoControlCode == SIO_KEEPALIVE_VALS) {
        if (!lpvInBuffer || cbInBuffer < sizeof(KeepAliveValues)) {
            return failWith(WSAEFAULT);
        }
        KeepAliveValues v;
        std::memcpy(&v, lpvInBuffer, sizeof v);
        return applyKeepAliveValues(s, v);
    }
    // Capturing every packet of an interface has no counterpart here.
    return failWith(WSAEOPNOTSUPP);
}

servent* WSocket_getservbyname(const char* name, const char* proto) {
    ensureStarted();
    thread_local servent entry;
    thread_local std::array<char, 4096> buf;
    servent* result = nullptr;
    if (!name || ::getservbyname_r(name, proto, &entry, buf.data(), buf.size(), &result) != 0 ||
        !result) {
        t_lastError = WSANO_DATA;
        return nullptr;
    }
    return result;
}

protoent* WSocket_getprotobyname(const char* name) {
    ensureStarted();
    thread_local protoent entry;
    thread_local std::array<char, 4096> buf;
    protoent* result = nullptr;
    if (!name || ::getprotobyname_r(name, &entry, buf.data(), buf.size(), &result) != 0 ||
        !result) {
        t_lastError = WSANO_DATA;
        return nullptr;
    }
    return result;
}

hostent* WSocket_gethostbyname(const char* name) {
    ensureStarted();
    thread_local HostRecord rec;
    hostent* result = nullptr;
    int herr = 0;
    if (!name ||
        ::gethostbyname_r(name, &rec.entry, rec.buf.data(), rec.buf.size(), &result, &herr) != 0 ||
        !result) {
        t_lastError = hostErrorToSocketError(herr);
        return nullptr;
    }
    return result;
}

hostent* WSocket_gethostbyaddr(const void* addr, int len, int type) {
    ensureStarted();
    thread_local HostRecord rec;
    hostent* result = nullptr;
    int herr = 0;
    if (!addr ||
        ::gethostbyaddr_r(addr, static_cast<socklen_t>(len), type, &rec.entry, rec.buf.data(),
                          rec.buf.size(), &result, &herr) != 0 ||
        !result) {
        t_lastError = hostErrorToSocketError(herr);
        return nullptr;
    }
    return result;
}

namespace {

// Holds one socket user for the duration of a counted call, also when it raises.
struct CountedCall {
    CountedCall() { SocketLibrary::AddSocketUser(); }
    ~CountedCall() {
        // Lowered without releasing: the call only borrowed the library.
        std::lock_guard lock(SocketLibrary::LibraryLock());
        --lib().userCount;
    }
};

}  // namespace

int CountedGetsockopt(SocketHandle s, int level, int optname, void* optval, int* optlen) {
    CountedCall c;
    return WSocket_getsockopt(s, level, optname, optval, optlen);
}

int CountedWSAIoctl(SocketHandle s, std::uint32_t dwIoControlCode, const void* lpvInBuffer,
                    std::uint32_t cbInBuffer, void* lpvOutBuffer, std::uint32_t cbOutBuffer,
                    std::uint32_t* lpcbBytesReturned) {
    CountedCall c;
    return WSocket_WSAIoctl(s, dwIoControlCode, lpvInBuffer, cbInBuffer, lpvOutBuffer, cbOutBuffer,
                            lpcbBytesReturned, nullptr, nullptr);
}

std::string CountedInetNtoa(in_addr in) {
    CountedCall c;
    return WSocket_inet_ntoa(in);
}

}  // namespace vandrel::net
