#pragma once

// Records every hook of a socket as short texts, in order, so tests can
// compare the whole event road at once.

#include <string>
#include <vector>

#include "net/TCustomWSocket.h"

namespace nettest {

const char* StateName(TSocketState s);

struct EventRecorder {
    std::vector<std::string> events;
    int errors = 0;

    // Hooks OnChangeState, OnSessionConnected, OnSessionClosed, OnDataSent and
    // OnError. OnDataAvailable is left to the test.
    void Attach(TCustomWSocket& s);
    int Count(const std::string& e) const;
    bool Has(const std::string& e) const { return Count(e) > 0; }
    std::string Joined() const;
};

}  // namespace nettest
