#pragma once

#include "net/TCustomSocksWSocket.h"

// Line-mode layer. Line mode is off, so everything passes straight through.
class TCustomLineWSocket : public TCustomSocksWSocket {
public:
    TCustomLineWSocket() = default;
    ~TCustomLineWSocket() override = default;
};
