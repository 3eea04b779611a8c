#include <gtest/gtest.h>

#include <QThread>
#include <cstdint>
#include <string>
#include <vector>

#include "net/SocketErrorCodes.h"
#include "support/EventPump.h"
#include "support/LoopbackListener.h"
#include "support/ScriptedPeer.h"
#include "telnet/TTnCnx.h"
#include "telnet/TelnetCodes.h"

using namespace vandrel::net;
using namespace vandrel::telnet;
using namespace vandrel::test;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// A connection to a scripted peer with every hook counted and recorded in order.
class TTnCnxTest : public ::testing::Test {
protected:
    void SetUp() override {
        cnx.SetHost("127.0.0.1");
        cnx.SetPort(peer.portText());
        cnx.OnSessionConnected = [this](TTnCnx* s, Word e) {
            EXPECT_EQ(s, &cnx);
            events.push_back("connected:" + std::to_string(e));
        };
        cnx.OnSessionClosed = [this](TTnCnx*, Word e) {
            events.push_back("closed:" + std::to_string(e));
        };
        cnx.OnDataAvailable = [this](TTnCnx*, const char* buf, int len) {
            ASSERT_GT(len, 0);
            ASSERT_LE(len, 2048);
            EXPECT_EQ(buf[len], '\0');
            data.insert(data.end(), buf, buf + len);
            ++deliveries;
        };
        cnx.OnDisplay = [this](TTnCnx*, const std::string& s) { events.push_back("display:" + s); };
        cnx.OnLocalEcho = [this](TObject*) { events.push_back("echo"); };
        cnx.OnEndOfRecord = [this](TObject*) { events.push_back("eor"); };
    }

    void connect() {
        cnx.Connect();
        ASSERT_TRUE(pumpUntil([this] { return !events.empty(); }));
        ASSERT_EQ(events.front(), "connected:0");
        ASSERT_TRUE(pumpUntil([this] { return peer.acceptedCount() == 1; }));
    }

    bool peerGot(const Bytes& want, int ms = 5000) {
        return pumpUntil([&] { return peer.received() == want; }, ms);
    }

    ScriptedPeer peer;
    TTnCnx cnx;
    std::vector<std::string> events;
    Bytes data;
    int deliveries = 0;
};

}  // namespace

TEST_F(TTnCnxTest, DefaultsAndPlainProperties) {
    TTnCnx fresh;
    EXPECT_EQ(fresh.Port(), "23");
    EXPECT_EQ(fresh.Host(), "");
    EXPECT_EQ(fresh.Location(), "TNCNX");
    EXPECT_EQ(fresh.TermType(), "VT100");
    EXPECT_FALSE(fresh.LocalEcho());
    ASSERT_NE(fresh.Socket(), nullptr);
    EXPECT_EQ(fresh.Socket()->State(), wsClosed);
    fresh.SetHost("192.0.2.1");  // stored only: nothing reaches the socket before Connect
    EXPECT_EQ(fresh.Socket()->Addr(), "");
}

TEST_F(TTnCnxTest, ConnectsAnswersOptionsAndDeliversData) {
    peer.send(cat({{kIac, kDo, kOptTerminalType}, text("hello\r\n"), {kIac, kWill, kOptEcho}}));
    connect();
    ASSERT_TRUE(peerGot(Bytes{255, 251, 24, 255, 253, 1}));
    ASSERT_TRUE(pumpUntil([this] { return data.size() == 7; }));
    EXPECT_EQ(data, text("hello\r\n"));
    EXPECT_FALSE(cnx.LocalEcho());
    EXPECT_EQ(events, (std::vector<std::string>{"connected:0", "echo"}));
    EXPECT_EQ(cnx.Socket()->Proto(), "tcp");
    EXPECT_EQ(cnx.Socket()->Port(), peer.portText());
}

TEST_F(TTnCnxTest, TerminalTypeAndLocationExchanges) {
    cnx.OnTermType = [this](TObject*) {
        events.push_back("termtype");
        cnx.SetTermType("ANSI");
    };
    // A hook's own Send goes out between the WILL and the location message.
    cnx.OnSendLoc = [this](TObject*) {
        events.push_back("sendloc");
        cnx.SendStr("~");
    };
    connect();
    peer.send(Bytes{kIac, kDo, kOptTerminalType, kIac, kSb, kOptTerminalType, kSubSend, kIac, kSe});
    ASSERT_TRUE(peerGot(Bytes{255, 251, 24, 255, 250, 24, 0, 'A', 'N', 'S', 'I', 255, 240}));

    peer.clearReceived();
    peer.send(Bytes{kIac, kDo, kOptSendLocation});
    ASSERT_TRUE(
        peerGot(cat({{255, 251, 23}, text("~"), {255, 250, 23}, text("TNCNX"), {255, 240}})));
    EXPECT_EQ(events, (std::vector<std::string>{"connected:0", "termtype", "sendloc"}));
    EXPECT_EQ(deliveries, 0);  // commands only: no delivery
}

TEST_F(TTnCnxTest, RepeatedRequestsAreAnsweredAgainAndUnknownOnesRefused) {
    connect();
    peer.send(Bytes{kIac, kWill, kOptSuppressGoAhead,
                    kIac, kWill, kOptSuppressGoAhead,
                    kIac, kDo,   31,
                    kIac, kWill, 5,
                    kIac, kWont, 200,
                    kIac, kDont, kOptEcho,
                    kIac, kDo,   kOptBinary,
                    kIac, kWill, kOptBinary});
    ASSERT_TRUE(peerGot(
        Bytes{255, 253, 3, 255, 253, 3, 255, 252, 31, 255, 254, 5, 255, 252, 200, 255, 253, 0}));
    pumpFor(100);
    EXPECT_EQ(peer.received().size(), 18u);  // DONT ECHO and DO BINARY got no reply
}

TEST_F(TTnCnxTest, CommandSplitAcrossReadsIsOnePiece) {
    connect();
    for (const Bytes& piece :
         {Bytes{'a', kIac}, Bytes{kDo}, Bytes{kOptTerminalType, kIac, kSb}, Bytes{kOptTerminalType},
          Bytes{kSubSend, kIac}, Bytes{kSe, kIac}, Bytes{kIac, 'b'}}) {
        peer.send(piece);
        pumpFor(60);  // lets each piece arrive as its own read
    }
    ASSERT_TRUE(peerGot(Bytes{255, 251, 24, 255, 250, 24, 0, 'V', 'T', '1', '0', '0', 255, 240}));
    ASSERT_TRUE(pumpUntil([this] { return data.size() == 3; }));
    EXPECT_EQ(data, (Bytes{'a', 255, 'b'}));
}

TEST_F(TTnCnxTest, WithoutADataHookDataIsDroppedButOptionsAnswered) {
    cnx.OnDataAvailable = nullptr;
    connect();
    peer.send(cat(
        {text(std::string(5000, 'x')), {kIac, kDo, kOptEndOfRecord}, text("tail"), {kIac, kEor}}));
    ASSERT_TRUE(peerGot(Bytes{255, 251, 25}));
    ASSERT_TRUE(pumpUntil([this] { return events.size() == 2; }));
    EXPECT_EQ(events.back(), "eor");
    EXPECT_EQ(cnx.Protocol().BufferedCount(), 0);
}

TEST_F(TTnCnxTest, LargeDataArrivesInReadsOfAtMost2048) {
    Bytes big;
    for (int i = 0; i < 20000; ++i) {
        big.push_back(static_cast<std::uint8_t>(i % 255));  // every value but 255
    }
    connect();
    peer.send(big);
    ASSERT_TRUE(pumpUntil([&] { return data.size() >= big.size(); }));
    EXPECT_EQ(data, big);
    EXPECT_GE(deliveries, 10);  // size and terminator of each block are checked in the hook
}

TEST_F(TTnCnxTest, NeverEndedSubnegotiationKeepsMemoryBounded) {
    connect();
    peer.send(Bytes{kIac, kSb, kOptTerminalType, kSubSend});
    peer.send(Bytes(1 << 20, 'z'));
    ASSERT_TRUE(pumpUntil([this] { return cnx.Socket()->ReadCount() >= (1 << 20) + 4; }, 10000));
    EXPECT_LE(cnx.Protocol().SubnegotiationSize(), TelnetProtocol::kMaxSubnegotiation);
    peer.send(cat({{kIac, kSe}, text("after")}));
    ASSERT_TRUE(pumpUntil([this] { return data.size() == 5; }));
    EXPECT_EQ(data, text("after"));
    EXPECT_TRUE(peer.received().empty());  // the over-long request was ignored
}

TEST_F(TTnCnxTest, ServerCloseIsShownThenReported) {
    connect();
    peer.send(text("bye"));
    peer.closeClient();
    ASSERT_TRUE(pumpUntil([this] { return events.back().rfind("closed:", 0) == 0; }));
    EXPECT_EQ(data, text("bye"));
    EXPECT_EQ(events,
              (std::vector<std::string>{
                  "connected:0", "display:\r\n**** Remote has closed ****\r\n", "closed:0"}));
    EXPECT_EQ(cnx.Socket()->State(), wsClosed);
}

TEST_F(TTnCnxTest, ReceiveErrorsAreShownExceptWouldBlock) {
    connect();
    // A data event with nothing to read: would-block, nothing shown or delivered.
    cnx.Socket()->OnDataAvailable(cnx.Socket(), 0);
    EXPECT_EQ(events.size(), 1u);
    EXPECT_EQ(deliveries, 0);

    // A reset that the read meets before the socket has seen the close.
    peer.resetClient();
    QThread::msleep(200);
    cnx.Socket()->OnDataAvailable(cnx.Socket(), 0);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1], "display:\r\n**** ERROR: 10054 ****\r\n");
    ASSERT_TRUE(pumpUntil([this] { return events.back().rfind("closed:", 0) == 0; }));
    EXPECT_EQ(cnx.Socket()->State(), wsClosed);
}

TEST_F(TTnCnxTest, RefusedPortReportsTheCode) {
    cnx.SetPort(std::to_string(unusedPort()));
    cnx.Connect();
    ASSERT_TRUE(pumpUntil([this] { return !events.empty(); }));
    EXPECT_EQ(events.front(), "connected:" + std::to_string(vandrel::net::WSAECONNREFUSED));
    pumpFor(100);
    EXPECT_EQ(cnx.Socket()->State(), wsClosed);
}

TEST_F(TTnCnxTest, ConnectWhileConnectedClosesAndReconnects) {
    connect();
    cnx.Connect();
    ASSERT_TRUE(pumpUntil([this] { return peer.acceptedCount() == 2; }));
    ASSERT_TRUE(pumpUntil([this] { return events.size() >= 3; }));
    EXPECT_EQ(events.back(), "connected:0");
    peer.send(Bytes{kIac, kDo, kOptTerminalType});
    EXPECT_TRUE(peerGot(Bytes{255, 251, 24}));
}

TEST_F(TTnCnxTest, CloseIsReportedThroughTheSocket) {
    connect();
    cnx.Close();
    ASSERT_TRUE(pumpUntil([this] { return peer.clientClosedByPeer(); }));
    pumpFor(100);
    EXPECT_EQ(cnx.Socket()->State(), wsClosed);
}

TEST_F(TTnCnxTest, SocketFreedElsewhereIsForgotten) {
    connect();
    delete cnx.Socket();
    EXPECT_EQ(cnx.Socket(), nullptr);
    EXPECT_EQ(cnx.Send("x", 1), -1);
    EXPECT_EQ(cnx.SendStr("abc"), -1);
    EXPECT_EQ(cnx.SendStr(""), -1);
    cnx.Connect();  // nothing to do
    cnx.Close();
    ASSERT_TRUE(pumpUntil([this] { return peer.clientClosedByPeer(); }));
    pumpFor(50);
    EXPECT_EQ(peer.acceptedCount(), 1);
}

TEST_F(TTnCnxTest, SendPassesBytesUnchanged) {
    connect();
    const Bytes raw{255, '\r', '\n', 0, '\r', 0, 'x'};
    EXPECT_EQ(cnx.Send(raw.data(), static_cast<int>(raw.size())), 7);
    EXPECT_EQ(cnx.SendStr("#"), 1);
    ASSERT_TRUE(peerGot(cat({raw, text("#")})));
}
