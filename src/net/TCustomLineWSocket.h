#pragma once

#include "net/TCustomSocksWSocket.h"

namespace vandrel::net {

// Line-mode layer. Line mode is off, so everything passes straight through.
class TCustomLineWSocket : public TCustomSocksWSocket {
public:
    TCustomLineWSocket() = default;
    ~TCustomLineWSocket() override = default;
};

}  // namespace vandrel::net
