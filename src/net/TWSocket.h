#pragma once

#include "net/TCustomSyncWSocket.h"

// The socket applications use; see TCustomWSocket.h for the contract.
class TWSocket : public TCustomSyncWSocket {
public:
    TWSocket() = default;
    ~TWSocket() override = default;
};
