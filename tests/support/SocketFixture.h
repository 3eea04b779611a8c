#pragma once

// The fixture of the socket tests: a loopback server and a client socket with every hook
// recorded (declared in this order, so the client goes first).

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "support/EventRecorder.h"
#include "support/LoopbackServer.h"
#include "support/RaisedText.h"

namespace vandrel::test {

class SocketFixture : public ::testing::Test {
protected:
    // Serves session (by default: read everything) and connects the client to it.
    bool connect(LoopbackServer::Session session = nullptr) {
        session ? server.serve(std::move(session)) : server.serveSink();
        return client.connectTo(server.portText());
    }
    static std::string raised(const std::function<void()>& f) {
        return raisedText<net::ESocketException>(f);
    }

    LoopbackServer server;
    RecordedSocket client;
    EventRecorder& rec = client.rec;
    net::TWSocket& s = client.s;
};

}  // namespace vandrel::test
