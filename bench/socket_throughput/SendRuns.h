#pragma once

// One bulk send to a BlockingPeer sink, the same for TWSocket and QTcpSocket: blocks of
// kSendBlock bytes, at most kSendHighWater queued, MB/s (MB = 2^20 bytes) from the
// connection until the sink has read everything; 0 when the run failed.

#include <QTcpSocket>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "net/TWSocket.h"

namespace vandrel::bench {

inline constexpr int kSendBlock = 1460;
inline constexpr std::size_t kSendHighWater = 256 * 1024;

// prepare sets the socket's address (and proxy) for the sink's port before Connect.
double twsocketSendMBps(std::size_t total,
                        const std::function<void(net::TWSocket&, std::uint16_t)>& prepare);
double qtSendMBps(std::size_t total, const std::function<void(QTcpSocket&)>& prepare = nullptr);

}  // namespace vandrel::bench
