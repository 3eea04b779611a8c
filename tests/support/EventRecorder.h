#pragma once

// Records every hook of a socket as short texts, in order, so tests can compare the whole
// event road at once.

#include <string>
#include <vector>

#include "net/TCustomWSocket.h"

namespace vandrel::test {

const char* stateName(net::TSocketState s);

struct EventRecorder {
    std::vector<std::string> events;
    int errors = 0;

    // Hooks OnChangeState, OnSessionConnected, OnSessionClosed, OnDataSent and OnError.
    // OnDataAvailable is left to the test.
    void attach(net::TCustomWSocket& s);
    int count(const std::string& e) const;
    bool has(const std::string& e) const { return count(e) > 0; }
    std::string joined() const;
};

}  // namespace vandrel::test
