#pragma once

#include "net/TCustomSyncWSocket.h"

namespace vandrel::net {

// The socket applications use; see TCustomWSocket.h for the contract.
class TWSocket : public TCustomSyncWSocket {
public:
    TWSocket() = default;
    ~TWSocket() override = default;
};

}  // namespace vandrel::net
