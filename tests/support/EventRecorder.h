#pragma once

// Records every hook of a socket as short texts, in order, so tests can compare the whole
// event road at once; and a client socket recorded that way.

#include <string>
#include <vector>

#include "net/TWSocket.h"

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
    bool hasPrefix(const std::string& prefix) const;
    std::string joined() const;
    // The events without the state changes, joined.
    std::string road() const;
};

// Sets Proto, Addr 127.0.0.1 and Port.
void prepareLoopback(net::TCustomWSocket& s, const std::string& port,
                     const std::string& proto = "tcp");

// A TWSocket with every hook recorded. The recorder comes first: it outlives the socket,
// whose close it records.
struct RecordedSocket {
    EventRecorder rec;
    net::TWSocket s;

    RecordedSocket() { rec.attach(s); }
    // Connects to 127.0.0.1:port and runs the event loop until the connection stands (the
    // first OnDataSent); false when it closed or timed out instead.
    bool connectTo(const std::string& port);
};

}  // namespace vandrel::test
