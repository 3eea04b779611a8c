#include "discovery/SearchInterfaces.h"

#include <gtest/gtest.h>

#include "discovery/TSocketStack.h"

using namespace vandrel::discovery;

namespace {

constexpr std::uint32_t kUpBroadcast = IFF_UP_BIT | IFF_BROADCAST_BIT;

InterfaceInfo Interface(const char* name, const char* ip, const char* mask, const char* broadcast,
                        std::uint32_t flags) {
    InterfaceInfo info;
    info.Name = name;
    TSocketStack::FromDotted(ip, info.Address);
    TSocketStack::FromDotted(mask, info.Netmask);
    TSocketStack::FromDotted(broadcast, info.Broadcast);
    info.Flags = flags;
    return info;
}

in_addr Address(const char* dotted) {
    in_addr address{};
    TSocketStack::FromDotted(dotted, address);
    return address;
}

// "name broadcast d|l" for each chosen interface: what is sent where.
std::vector<std::string> Plan(const std::vector<SearchedInterface>& chosen) {
    std::vector<std::string> plan;
    for (const SearchedInterface& entry : chosen) {
        plan.push_back(entry.Name + " " + TSocketStack::ToDotted(entry.Broadcast) +
                       (entry.Directed ? " d" : " l"));
    }
    return plan;
}

const InterfaceInfo kLo =
    Interface("lo", "127.0.0.1", "255.0.0.0", "0.0.0.0", IFF_UP_BIT | IFF_LOOPBACK_BIT);
const InterfaceInfo kEth0 =
    Interface("eth0", "192.168.1.23", "255.255.255.0", "192.168.1.255", kUpBroadcast);
const InterfaceInfo kWlan0 =
    Interface("wlan0", "10.0.0.5", "255.255.255.0", "10.0.0.255", kUpBroadcast);
const InterfaceInfo kTun0 =
    Interface("tun0", "10.8.0.6", "255.255.255.255", "0.0.0.0", IFF_UP_BIT | IFF_POINTTOPOINT_BIT);
const InterfaceInfo kDocker =
    Interface("docker0", "172.17.0.1", "255.255.0.0", "172.17.255.255", kUpBroadcast);
const InterfaceInfo kDown =
    Interface("eth1", "10.1.0.5", "255.255.0.0", "10.1.255.255", IFF_BROADCAST_BIT);
// A second address in eth0's subnet (or a Wi-Fi on the same LAN): same broadcast address.
const InterfaceInfo kSameLan =
    Interface("wlan1", "192.168.1.40", "255.255.255.0", "192.168.1.255", kUpBroadcast);
const InterfaceInfo kNoBroadcastFlag =
    Interface("ppp-ish", "10.9.0.1", "255.255.255.0", "10.9.0.255", IFF_UP_BIT);
// Set up without a broadcast address: the system reports none, or the address itself.
const InterfaceInfo kAllOnes =
    Interface("odd0", "10.7.0.1", "255.255.255.0", "255.255.255.255", kUpBroadcast);
const InterfaceInfo kNoBrd =
    Interface("eth2", "198.18.1.2", "255.255.255.0", "198.18.1.2", kUpBroadcast);
const InterfaceInfo kSlash31 =
    Interface("p2p0", "10.6.0.0", "255.255.255.254", "10.6.0.1", kUpBroadcast);

}  // namespace

TEST(ChooseSearchInterfaces, WhatASearchSendsWhere) {
    struct Case {
        const char* what;
        std::vector<InterfaceInfo> interfaces;
        const char* limitedSource;
        std::vector<std::string> plan;
    };
    const std::vector<Case> cases = {
        {"one wired port: the limited broadcast covers it, nothing more is sent",
         {kLo, kEth0},
         "192.168.1.23",
         {"eth0 192.168.1.255 l"}},
        {"wired and Wi-Fi: the other port gets a directed broadcast",
         {kLo, kEth0, kWlan0},
         "192.168.1.23",
         {"eth0 192.168.1.255 l", "wlan0 10.0.0.255 d"}},
        {"the limited broadcast's interface comes first, whatever the system order",
         {kLo, kEth0, kWlan0},
         "10.0.0.5",
         {"wlan0 10.0.0.255 l", "eth0 192.168.1.255 d"}},
        {"a VPN as default route: it takes the limited broadcast, every LAN a directed one",
         {kLo, kEth0, kTun0, kDocker},
         "10.8.0.6",
         {"tun0 0.0.0.0 l", "eth0 192.168.1.255 d", "docker0 172.17.255.255 d"}},
        {"no route for the limited broadcast: every LAN is searched directly",
         {kLo, kEth0, kWlan0},
         "0.0.0.0",
         {"eth0 192.168.1.255 d", "wlan0 10.0.0.255 d"}},
        {"down, loopback, point-to-point, non-broadcast and /31 interfaces are left out",
         {kLo, kDown, kTun0, kNoBroadcastFlag, kSlash31},
         "0.0.0.0",
         {}},
        {"without a broadcast address of its own, the subnet's is used",
         {kEth0, kAllOnes, kNoBrd},
         "192.168.1.23",
         {"eth0 192.168.1.255 l", "odd0 10.7.0.255 d", "eth2 198.18.1.255 d"}},
        {"two interfaces on one subnet: its devices are asked once",
         {kEth0, kSameLan, kWlan0, kWlan0},
         "192.168.1.23",
         {"eth0 192.168.1.255 l", "wlan0 10.0.0.255 d"}},
        {"an unknown source address adds nothing of its own",
         {kEth0},
         "10.99.0.1",
         {"eth0 192.168.1.255 d"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Plan(ChooseSearchInterfaces(c.interfaces, Address(c.limitedSource))), c.plan)
            << c.what;
    }
}

TEST(SearchSummary, NamesEverySubnetWithItsPrefix) {
    EXPECT_EQ(SearchSummary({}), "Searched no network interface");
    std::vector<SearchedInterface> searched =
        ChooseSearchInterfaces({kEth0, kWlan0, kDocker}, Address("192.168.1.23"));
    EXPECT_EQ(SearchSummary(searched),
              "Searched eth0 192.168.1.23/24, wlan0 10.0.0.5/24, docker0 172.17.0.1/16");
    // A failed send keeps the summary on one line.
    searched[1].Error = "Socket Error # 10051\r\nNetwork is unreachable.";
    EXPECT_EQ(SearchSummary(searched),
              "Searched eth0 192.168.1.23/24, wlan0 10.0.0.5/24 (Socket Error # 10051 Network is "
              "unreachable.), docker0 172.17.0.1/16");
}

TEST(SearchSummary, PrefixLengths) {
    EXPECT_EQ(PrefixLength(Address("255.255.255.255")), 32);
    EXPECT_EQ(PrefixLength(Address("255.255.252.0")), 22);
    EXPECT_EQ(PrefixLength(Address("0.0.0.0")), 0);
}
