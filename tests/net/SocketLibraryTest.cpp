// Process-wide library bookkeeping: user count, start/clean-up, version request.
#include <gtest/gtest.h>

#include <vector>

#include "net/TWSocket.h"
#include "net/WSocketLibrary.h"
#include "support/EventPump.h"
#include "support/RaisedText.h"

using namespace vandrel::net;
using namespace vandrel::test;

namespace {

TEST(SocketLibrary, LivesAsLongAsASocket) {
    ASSERT_EQ(SocketLibrary::SocketUserCount(), 0);
    const int startups = SocketLibrary::StartupCount();
    {
        TWSocket a;
        {
            TWSocket b;
            EXPECT_EQ(SocketLibrary::SocketUserCount(), 2);
            LoadSocketEntry("");
            EXPECT_TRUE(SocketLibrary::IsLoaded());
        }
        EXPECT_TRUE(SocketLibrary::IsLoaded());  // one of two destroyed
        EXPECT_EQ(SocketLibrary::StartupCount(), startups + 1);
    }
    EXPECT_FALSE(SocketLibrary::IsLoaded());
    EXPECT_EQ(SocketLibrary::SocketUserCount(), 0);
    {
        TWSocket c;
        WSocket_closesocket(WSocket_socket(AF_INET, SOCK_STREAM, 0));
        EXPECT_EQ(SocketLibrary::StartupCount(), startups + 2);
    }
}

TEST(SocketLibrary, CountedCallsBorrowTheLibrary) {
    TWSocket a;
    const SocketHandle h = WSocket_socket(AF_INET, SOCK_STREAM, 0);
    int size = 0;
    int len = sizeof size;
    EXPECT_EQ(CountedGetsockopt(h, SOL_SOCKET, SO_SNDBUF, &size, &len), 0);
    EXPECT_GT(size, 0);
    EXPECT_EQ(SocketLibrary::SocketUserCount(), 1);
    EXPECT_EQ(CountedInetNtoa(in_addr{htonl(INADDR_LOOPBACK)}), "127.0.0.1");
    EXPECT_EQ(SocketLibrary::SocketUserCount(), 1);
    WSocket_closesocket(h);
}

TEST(SocketLibrary, VersionRequestIsFixedWhileLoaded) {
    TWSocket s;
    LoadSocketEntry("");
    const std::uint8_t high = s.ReqVerHigh();
    EXPECT_NO_THROW(s.SetReqVerHigh(high));
    WSocket_WSASetLastError(0);
    EXPECT_EQ(raisedText<ESocketException>([&] { s.SetReqVerHigh(high + 1); }),
              "No Error (#0 in SetReqVerHigh: WinSock version can't be changed now)");
    EXPECT_EQ(s.ReqVerHigh(), high);
}

TEST(SocketLibrary, RefusedVersionChangeLeavesTheConnectionAlone) {
    TWSocket s;
    s.SetAddr("127.0.0.1");
    s.SetPort("9");
    s.OnError = [](TObject*) {};
    s.Connect();  // refused later; the socket is open now
    ASSERT_NE(s.State(), wsClosed);
    WSocket_WSASetLastError(10054);  // left over from some other call
    s.SetReqVerLow(s.ReqVerLow() + 1);
    EXPECT_EQ(s.LastError(), 10054);
    EXPECT_NE(s.State(), wsClosed);
    EXPECT_NE(s.HSocket(), INVALID_SOCKET);
    s.Abort();
}

// The library starts with the first operation, on whatever thread it runs: a Connect raises
// the refusal, a name lookup (whose worker thread makes the first call) reports it as 11003.
TEST(SocketLibrary, RefusedVersionFailsTheFirstOperation) {
    for (bool lookup : {false, true}) {
        SCOPED_TRACE(lookup ? "name lookup" : "Connect");
        ASSERT_TRUE(pumpUntil([] { return SocketLibrary::SocketUserCount() == 0; }));
        ASSERT_FALSE(SocketLibrary::IsLoaded());
        {
            TWSocket s;
            s.SetReqVerLow(0);
            EXPECT_EQ(s.ReqVerLow(), 0);
            TWSocket other;
            EXPECT_EQ(other.ReqVerLow(), 0);  // shared by all sockets
            if (lookup) {
                std::vector<int> done;
                s.OnDnsLookupDone = [&](TObject*, Word e) { done.push_back(e); };
                s.DnsLookup("localhost");
                ASSERT_TRUE(pumpUntil([&] { return !done.empty(); }));
                EXPECT_EQ(done, (std::vector<int>{11003}));
                EXPECT_TRUE(s.DnsResultList().empty());
            } else {
                s.SetAddr("127.0.0.1");
                s.SetPort("1");
                EXPECT_EQ(raisedText<ESocketException>([&] { s.Connect(); }),
                          "Winsock startup error wsock32.dll - WinSock DLL cannot support this "
                          "application (#10092)");
            }
            // Counted as loaded; no second start is attempted.
            const int startups = SocketLibrary::StartupCount();
            EXPECT_NO_THROW(LoadSocketEntry(""));
            EXPECT_EQ(SocketLibrary::StartupCount(), startups);
        }
        TWSocket restore;
        restore.SetReqVerLow(1);
        EXPECT_EQ(restore.ReqVerLow(), 1);
    }
}

TEST(SocketLibrary, UnknownEntryIsReported) {
    TWSocket s;
    const std::string text = raisedText<ESocketException>([] { LoadSocketEntry("WSAFrobnicate"); });
    EXPECT_EQ(text.rfind("Procedure WSAFrobnicate not found in wsock32.dll - ", 0), 0u) << text;
    EXPECT_NO_THROW(LoadSocketEntry("recv"));
}

TEST(SocketLibrary, WrappersMapNativeErrors) {
    TWSocket s;
    char buf[4];
    EXPECT_EQ(WSocket_recv(-1, buf, sizeof buf, 0), SOCKET_ERROR);
    EXPECT_EQ(WSocket_WSAGetLastError(), 10009);
    const SocketHandle h = WSocket_socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(WSocket_recv(h, buf, sizeof buf, 0), SOCKET_ERROR);
    EXPECT_EQ(WSocket_WSAGetLastError(), 10057);
    // EPIPE counts as a reset, and raises no signal.
    EXPECT_EQ(WSocket_send(h, "x", 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSocket_WSAGetLastError(), 10054);
    WSocket_closesocket(h);
}

}  // namespace
