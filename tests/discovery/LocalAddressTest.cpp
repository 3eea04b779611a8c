#include "discovery/LocalAddress.h"

#include <gtest/gtest.h>

#include "discovery/GetLocalInterfaces.h"
#include "discovery/TSocketStack.h"

using namespace vandrel::discovery;

namespace {

InterfaceInfo Interface(const char* ip, const char* mask, const char* broadcast,
                        std::uint32_t flags, const char* name = "") {
    InterfaceInfo info;
    info.Name = name;
    TSocketStack::FromDotted(ip, info.Address);
    TSocketStack::FromDotted(mask, info.Netmask);
    TSocketStack::FromDotted(broadcast, info.Broadcast);
    info.Flags = flags;
    return info;
}

const InterfaceInfo kLoopback =
    Interface("127.0.0.1", "255.0.0.0", "0.0.0.0", IFF_UP_BIT | IFF_LOOPBACK_BIT, "lo");
const InterfaceInfo kLan = Interface("192.168.1.10", "255.255.255.0", "192.168.1.255",
                                     IFF_UP_BIT | IFF_BROADCAST_BIT, "eth0");
const InterfaceInfo kDownLan =
    Interface("10.1.0.5", "255.255.0.0", "10.1.255.255", IFF_BROADCAST_BIT, "eth1");
const InterfaceInfo kWifi = Interface("172.16.4.9", "255.255.252.0", "172.16.7.255",
                                      IFF_UP_BIT | IFF_BROADCAST_BIT, "wlan0");

}  // namespace

TEST(FormatInterfaceList, BuildsOneLinePerRecordInOrder) {
    EXPECT_EQ(FormatInterfaceList({}), "");
    EXPECT_EQ(FormatInterfaceList({kLoopback, kDownLan}),
              " IP=127.0.0.1, Mask=255.0.0.0, Broadcast=0.0.0.0, Interface UP,"
              " Broadcasts NOT supported, Loopback interface\r\n"
              " IP=10.1.0.5, Mask=255.255.0.0, Broadcast=10.1.255.255, Interface DOWN,"
              " Broadcasts supported, Network interface\r\n");
}

TEST(FormatInterfaceList, ListsMoreInterfacesThanAFixedBufferWouldHold) {
    std::vector<InterfaceInfo> many(20, kLan);
    const std::string text = FormatInterfaceList(many);
    std::size_t lines = 0;
    for (std::size_t at = text.find("\r\n"); at != std::string::npos;
         at = text.find("\r\n", at + 2)) {
        ++lines;
    }
    EXPECT_EQ(lines, 20u);
    EXPECT_EQ(NetmaskFromInterfaceList(text, "192.168.1.10"), "255.255.255.0");
}

TEST(GetLocalInterfaces, ReportsThisComputersLoopback) {
    std::string text = "stale";
    ASSERT_EQ(GetLocalInterfaces(text), 0);
    EXPECT_NE(text.find(" IP=127.0.0.1, Mask=255.0.0.0,"), std::string::npos) << text;
    EXPECT_EQ(text.front(), ' ');
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST(ChooseLocalAddress, PrefersAHostAddressOnAnUpNetworkInterface) {
    EXPECT_EQ(ChooseLocalAddress({"127.0.1.1", "172.16.4.9"}, {kLoopback, kLan, kWifi}),
              "172.16.4.9");
}

TEST(ChooseLocalAddress, FallsBackToTheFirstUpNetworkInterface) {
    // The usual Linux case: the host name maps to 127.0.1.1, which no interface carries.
    EXPECT_EQ(ChooseLocalAddress({"127.0.1.1"}, {kLoopback, kDownLan, kLan, kWifi}),
              "192.168.1.10");
    // A host address on a down interface does not count.
    EXPECT_EQ(ChooseLocalAddress({"10.1.0.5"}, {kDownLan, kWifi}), "172.16.4.9");
}

TEST(ChooseLocalAddress, KeepsTheFirstHostAddressWithoutANetworkInterface) {
    EXPECT_EQ(ChooseLocalAddress({"127.0.1.1", "127.0.0.1"}, {kLoopback, kDownLan}), "127.0.1.1");
    EXPECT_EQ(ChooseLocalAddress({}, {}), "");
}

TEST(UnresolvedHostNotice, NamesTheInterfaceLocalIPComesFrom) {
    const InterfaceInfo nameless =
        Interface("172.16.4.9", "255.255.252.0", "172.16.7.255", IFF_UP_BIT);
    const struct {
        std::string host;
        std::vector<InterfaceInfo> interfaces;
        std::string ip;
        std::string notice;
    } cases[] = {
        {"vm",
         {kLoopback, kDownLan, kLan, kWifi},
         "192.168.1.10",
         "Host name vm does not resolve; Local IP from eth0"},
        {"build-7",
         {kLoopback, nameless},
         "172.16.4.9",
         "Host name build-7 does not resolve; Local IP from 172.16.4.9"},
        {"vm",
         {kLoopback, kDownLan},
         "",
         "Host name vm does not resolve; no network interface is up"},
        {"", {kLan}, "192.168.1.10", "This computer has no host name; Local IP from eth0"},
    };
    for (const auto& c : cases) {
        // Local IP is what ChooseLocalAddress makes of no host addresses at all.
        EXPECT_EQ(ChooseLocalAddress({}, c.interfaces), c.ip) << c.notice;
        EXPECT_EQ(UnresolvedHostNotice(c.host, c.interfaces), c.notice);
    }
}

TEST(NetmaskFromInterfaceList, TakesTheMaskOfTheLocalAddressLine) {
    const std::string text = FormatInterfaceList({kLoopback, kLan, kWifi});
    EXPECT_EQ(NetmaskFromInterfaceList(text, "172.16.4.9"), "255.255.252.0");
    EXPECT_EQ(NetmaskFromInterfaceList(text, "192.168.1.10"), "255.255.255.0");
    // No line for the address: the first Mask item, the loopback's here.
    EXPECT_EQ(NetmaskFromInterfaceList(text, "10.9.9.9"), "255.0.0.0");
    EXPECT_EQ(NetmaskFromInterfaceList("", "10.9.9.9"), "");
    EXPECT_EQ(NetmaskFromInterfaceList(" IP=1.2.3.4, Broadcast=1.2.3.255\r\n", "1.2.3.4"), "");
}

TEST(NetmaskFromInterfaceList, MatchesTheNameWithoutCaseAndTheIPExactly) {
    EXPECT_EQ(NetmaskFromInterfaceList(" ip=1.2.3.4, MASK=255.255.0.0\r\n", "1.2.3.4"),
              "255.255.0.0");
    EXPECT_EQ(NetmaskFromInterfaceList(" IP=1.2.3.40, Mask=255.0.0.0\r\n"
                                       " IP=1.2.3.4, Mask=255.255.255.128\r\n",
                                       "1.2.3.4"),
              "255.255.255.128");
    EXPECT_EQ(NetmaskFromInterfaceList(" Masked=1, Mask=2=3\r\n", "x"), "2=3");
}

TEST(SplitCommaText, FollowsStringListRules) {
    using V = std::vector<std::string>;
    EXPECT_EQ(SplitCommaText(""), V{});
    EXPECT_EQ(SplitCommaText("  a, b,c\r\n d"), (V{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitCommaText("a b"), (V{"a", "b"}));
    EXPECT_EQ(SplitCommaText("\"x, \"\"y\"\"\",z"), (V{"x, \"y\"", "z"}));
    EXPECT_EQ(SplitCommaText("a,,b"), (V{"a", "", "b"}));
}
