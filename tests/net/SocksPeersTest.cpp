// The SOCKS test peers themselves, driven by a raw client: a proxy test that
// fails should point at the socket, not at its fixture.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/LoopbackServer.h"
#include "support/ScriptedPeer.h"
#include "support/SocksProxyProcess.h"
#include "support/Subprocess.h"
#include "support/TestSockets.h"

using namespace vandrel::test;
using std::chrono::milliseconds;

namespace {

std::string portBytes(std::uint16_t port) {
    return {static_cast<char>(port >> 8), static_cast<char>(port & 0xFF)};
}

// Level 4 (or 5 by name) through the proxy to the echo server; returns what came back.
std::string relayThrough(std::uint16_t proxyPort, std::uint16_t target, bool level5) {
    TcpClient c;
    if (c.connectTo("127.0.0.1", proxyPort, milliseconds(2000)) != 0) {
        return "no connection";
    }
    if (level5) {
        c.send(std::string("\x05\x01\x00", 3));
        c.readUntil(std::string("\x05\x00", 2), milliseconds(2000));
        c.send(std::string("\x05\x01\x00\x03\x09", 5) + "127.0.0.1" + portBytes(target));
    } else {
        c.send("\x04\x01" + portBytes(target) + std::string("\x7f\x00\x00\x01me\x00", 7));
    }
    c.readFor(milliseconds(200));
    c.clearReceived();
    c.send("ping");
    c.readUntil("ping", milliseconds(2000));
    return c.received();
}

TEST(SocksPeers, RealProxiesRelayToTheEchoServer) {
    EchoServer echo;
    auto microsocks = SocksProxyProcess::microsocks();
    auto danted = SocksProxyProcess::danted();
    ASSERT_TRUE(microsocks.ready()) << microsocks.error();
    ASSERT_TRUE(danted.ready()) << danted.error();
    EXPECT_EQ(relayThrough(microsocks.port(), echo.port(), true), "ping");
    EXPECT_EQ(relayThrough(danted.port(), echo.port(), true), "ping");
    EXPECT_EQ(relayThrough(danted.port(), echo.port(), false), "ping");
    EXPECT_EQ(echo.acceptedCount(), 3);
    danted.stop();
    EXPECT_FALSE(danted.ready());
}

// Peers are found with a normal user's PATH too, and one that cannot start says why.
TEST(SocksPeers, PeersStartWithAUsersPathAndFailuresShowTheirOutput) {
    const std::string saved = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    ::setenv("PATH", "/usr/local/bin:/usr/bin:/bin", 1);
    const std::string danted = findProgram("danted");
    const ProcessResult missing = runProcess({"vandrel-no-such-peer"}, milliseconds(5000));
    ::setenv("PATH", saved.c_str(), 1);
    EXPECT_TRUE(danted.ends_with("sbin/danted")) << danted;
    EXPECT_EQ(missing.exitCode, 127);
    EXPECT_EQ(missing.output.find("vandrel-no-such-peer: not found"), 0u) << missing.output;

    auto refused = SocksProxyProcess::microsocks("user");
    EXPECT_FALSE(refused.ready());
    EXPECT_NE(refused.error().find("microsocks ended at start: "), std::string::npos);
    EXPECT_NE(refused.error().find("user and pass must be used together"), std::string::npos)
        << refused.error();
}

TEST(SocksPeers, ScriptedPeerPlaysStepsAndEchoes) {
    ScriptedPeer peer({{3, {5, 0}}, {2, {'o', 'k'}, true}}, ScriptedPeer::Then::Echo);
    TcpClient c;
    ASSERT_EQ(c.connectTo("127.0.0.1", peer.port(), milliseconds(2000)), 0);
    c.send(std::string("\x05\x01\x00", 3));
    ASSERT_TRUE(c.readUntil(std::string("\x05\x00", 2), milliseconds(2000)));
    c.send("go");
    ASSERT_TRUE(c.readUntil("ok", milliseconds(2000)));
    c.send("echo");
    ASSERT_TRUE(c.readUntil("echo", milliseconds(2000)));
    EXPECT_EQ(peer.stepsDone(), 2);
    EXPECT_EQ(peer.requests(), (std::vector<ScriptedPeer::Bytes>{{5, 1, 0}, {'g', 'o'}}));
}

}  // namespace
