#pragma once

// The options of a socket: what its owner sets before Listen or Connect and
// the socket applies to the library. Plain data; the socket's properties read
// and write it. Linger, and the flush time-out, go back to their defaults after
// every close; the rest stays.

#include <chrono>
#include <string>

#include "net/EnumSet.h"

namespace vandrel::net {

enum TWSocketOption { wsoNoReceiveLoop, wsoTcpNoDelay, wsoSIO_RCVALL };
using TWSocketOptions = EnumSet<TWSocketOption>;

enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };
enum TSocketKeepAliveOnOff { wsKeepAliveOff, wsKeepAliveOnCustom, wsKeepAliveOnSystem };

// A TCP connect that has not reached the owner's OnSessionConnected this long
// after Connect ends with 10060 (WSAETIMEDOUT).
inline constexpr std::chrono::milliseconds DefaultConnectTimeout{21000};

struct SocketOptions {
    TWSocketOptions componentOptions;
    int sendFlags = 0;  // the library's flags word: 0 or MSG_OOB
    TSocketLingerOnOff lingerOnOff = wsLingerOn;
    int lingerTimeout = 0;
    TSocketKeepAliveOnOff keepAliveOnOff = wsKeepAliveOnSystem;
    int keepAliveTime = 30000;  // milliseconds
    int keepAliveInterval = 1000;
    std::chrono::milliseconds connectTimeout = DefaultConnectTimeout;
    int listenBacklog = 5;
    bool reuseAddr = false;
    bool multiCast = false;
    std::string multiCastAddrStr;
    int multiCastIpTTL = 1;
    int flushTimeout = 60;  // seconds
    bool multiThreaded = false;
};

}  // namespace vandrel::net
