#pragma once

#include "net/TCustomWSocket.h"

// SOCKS proxy client layer. No proxy is configured, so everything passes straight through.
class TCustomSocksWSocket : public TCustomWSocket {
public:
    TCustomSocksWSocket() = default;
    ~TCustomSocksWSocket() override = default;
};
