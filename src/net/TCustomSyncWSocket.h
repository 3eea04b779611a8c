#pragma once

#include "net/TCustomLineWSocket.h"

namespace vandrel::net {

// Layer for waiting while pumping messages; adds no behaviour of its own here.
class TCustomSyncWSocket : public TCustomLineWSocket {
public:
    TCustomSyncWSocket() = default;
    ~TCustomSyncWSocket() override = default;
};

}  // namespace vandrel::net
