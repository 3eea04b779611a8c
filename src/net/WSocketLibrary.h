#pragma once

// Process-wide access to the socket library: the WSocket_ wrappers (one per
// entry point, same arguments and result as the BSD call they wrap), the
// library's start/clean-up bookkeeping, the three process-wide re-entrant
// locks and the socket user count.
//
// Every wrapper starts the library on first use (LoadSocketEntry("")), which
// may raise ESocketException. Failures leave the socket error number (mapped
// from errno, see NativeError.h) in a per-thread slot read by
// WSocket_WSAGetLastError(). Handles are file descriptors; -1 is invalid.

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <cstdint>
#include <mutex>
#include <string>

namespace vandrel::net {

using SocketHandle = int;
inline constexpr SocketHandle INVALID_SOCKET = -1;
inline constexpr int SOCKET_ERROR = -1;

// Library start record; filled by WSocket_WSAStartup, not read afterwards.
struct LibraryStartInfo {
    std::uint16_t wVersion = 0;
    std::uint16_t wHighVersion = 0;
    char szDescription[257] = {};
};

// Control codes understood by WSocket_WSAIoctl.
inline constexpr std::uint32_t SIO_RCVALL = 0x98000001u;
inline constexpr std::uint32_t SIO_KEEPALIVE_VALS = 0x98000004u;

// Input record of SIO_KEEPALIVE_VALS: three 32-bit values, milliseconds.
struct KeepAliveValues {
    std::uint32_t OnOff;
    std::uint32_t KeepAliveTime;
    std::uint32_t KeepAliveInterval;
};

// Asynchronous notification bits (lParam bits 0-15 of message 1025).
inline constexpr long FD_READ = 1;
inline constexpr long FD_WRITE = 2;
inline constexpr long FD_ACCEPT = 8;
inline constexpr long FD_CONNECT = 16;
inline constexpr long FD_CLOSE = 32;

// The library's process-wide state: its locks, its user count and the version it is
// started with.
class SocketLibrary {
public:
    static std::recursive_mutex& WindowClassLock();
    static std::recursive_mutex& LibraryLock();
    // Guards the send queue of every socket; hooks run while it is held.
    static std::recursive_mutex& SendBufferLock();

    // Live socket objects plus counted calls in progress (under LibraryLock).
    static int SocketUserCount();
    static void AddSocketUser();
    // Lowers the count; releases the library when it falls below 1.
    static void RemoveSocketUser();

    static bool IsLoaded();
    static bool IsLoaded2();
    // How many times the library has been started since the process began.
    static int StartupCount();

    static std::uint8_t ReqVerLow();
    static std::uint8_t ReqVerHigh();
    // Raw stores; the refusal while loaded lives in the socket's setters.
    static void StoreReqVerLow(std::uint8_t v);
    static void StoreReqVerHigh(std::uint8_t v);
};

// Loads and starts the library when needed; an empty name only does that.
// A name outside the entry table raises "Procedure <name> not found in ...".
void LoadSocketEntry(const std::string& name);
void LoadSocket2Entry(const std::string& name);
// Cleans up and unloads when the socket user count is exactly 0.
void ReleaseSocketLibrary();

int WSocket_WSAStartup(std::uint16_t wVersionRequired, LibraryStartInfo* lpWSAData);
int WSocket_WSACleanup();
void WSocket_WSASetLastError(int iError);
int WSocket_WSAGetLastError();

SocketHandle WSocket_socket(int af, int type, int protocol);
int WSocket_shutdown(SocketHandle s, int how);
int WSocket_setsockopt(SocketHandle s, int level, int optname, const void* optval, int optlen);
int WSocket_getsockopt(SocketHandle s, int level, int optname, void* optval, int* optlen);
int WSocket_sendto(SocketHandle s, const void* buf, int len, int flags, const sockaddr* to,
                   int tolen);
int WSocket_send(SocketHandle s, const void* buf, int len, int flags);
int WSocket_recv(SocketHandle s, void* buf, int len, int flags);
// One send of several pieces in order (a gathering send); as WSocket_send.
int WSocket_sendv(SocketHandle s, const iovec* iov, int iovcnt, int flags);
int WSocket_recvfrom(SocketHandle s, void* buf, int len, int flags, sockaddr* from, int* fromlen);
std::uint16_t WSocket_ntohs(std::uint16_t netshort);
std::uint16_t WSocket_htons(std::uint16_t hostshort);
int WSocket_listen(SocketHandle s, int backlog);
// FIONREAD (readable byte count) and FIONBIO (non-blocking mode).
int WSocket_ioctlsocket(SocketHandle s, unsigned long cmd, unsigned long* argp);
std::string WSocket_inet_ntoa(in_addr in);
// INADDR_NONE (all ones) for a text that is not an address.
std::uint32_t WSocket_inet_addr(const char* cp);
int WSocket_getsockname(SocketHandle s, sockaddr* name, int* namelen);
int WSocket_getpeername(SocketHandle s, sockaddr* name, int* namelen);
int WSocket_connect(SocketHandle s, const sockaddr* name, int namelen);
int WSocket_closesocket(SocketHandle s);
int WSocket_bind(SocketHandle s, const sockaddr* addr, int namelen);
SocketHandle WSocket_accept(SocketHandle s, sockaddr* addr, int* addrlen);
int WSocket_WSAIoctl(SocketHandle s, std::uint32_t dwIoControlCode, const void* lpvInBuffer,
                     std::uint32_t cbInBuffer, void* lpvOutBuffer, std::uint32_t cbOutBuffer,
                     std::uint32_t* lpcbBytesReturned, void* lpOverlapped,
                     void* lpCompletionRoutine);
// The lookups return the library's record or nullptr (error in the last-error slot).
servent* WSocket_getservbyname(const char* name, const char* proto);
protoent* WSocket_getprotobyname(const char* name);
hostent* WSocket_gethostbyname(const char* name);
hostent* WSocket_gethostbyaddr(const void* addr, int len, int type);

// Counted forms: raise the socket user count for the duration of the call.
int CountedGetsockopt(SocketHandle s, int level, int optname, void* optval, int* optlen);
int CountedWSAIoctl(SocketHandle s, std::uint32_t dwIoControlCode, const void* lpvInBuffer,
                    std::uint32_t cbInBuffer, void* lpvOutBuffer, std::uint32_t cbOutBuffer,
                    std::uint32_t* lpcbBytesReturned);
std::string CountedInetNtoa(in_addr in);

}  // namespace vandrel::net
