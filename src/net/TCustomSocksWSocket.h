#pragma once

#include "net/TCustomWSocket.h"

namespace vandrel::net {

// SOCKS proxy client layer. No proxy is configured, so everything passes straight through.
class TCustomSocksWSocket : public TCustomWSocket {
public:
    TCustomSocksWSocket() = default;
    ~TCustomSocksWSocket() override = default;
};

}  // namespace vandrel::net
