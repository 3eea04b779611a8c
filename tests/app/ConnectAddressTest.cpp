#include "app/ConnectAddress.h"

#include <gtest/gtest.h>

using namespace vandrel::app;

TEST(ConnectAddress, AcceptsAddressesAndHostNames) {
    const std::vector<std::pair<std::string, std::string>> accepted = {
        {"198.18.0.11", "198.18.0.11"},
        {"  10.0.0.7\t", "10.0.0.7"},
        {"0.0.0.0", "0.0.0.0"},
        {"010.001.000.011", "10.1.0.11"},
        {"255.255.255.255", "255.255.255.255"},
        {"device-12", "device-12"},
        {"plc.lab.example.", "plc.lab.example."},
        {"4th-floor.example", "4th-floor.example"},
        {std::string(63, 'a') + ".b", std::string(63, 'a') + ".b"},
    };
    for (const auto& [typed, host] : accepted) {
        std::string error;
        EXPECT_EQ(CheckConnectAddress(typed, error), host) << typed;
        EXPECT_EQ(error, "") << typed;
    }
}

TEST(ConnectAddress, RejectsWhatCannotBeAHost) {
    const std::vector<std::pair<std::string, std::string>> rejected = {
        {"", "No address given"},
        {"   ", "No address given"},
        {"198.18.0.256", "Not an IPv4 address or host name: 198.18.0.256"},
        {"10.1", "Not an IPv4 address or host name: 10.1"},
        {"1.2.3.4.5", "Not an IPv4 address or host name: 1.2.3.4.5"},
        {"0001.2.3.4", "Not an IPv4 address or host name: 0001.2.3.4"},
        {"host name", "Not an IPv4 address or host name: host name"},
        {"telnet://10.0.0.1", "Not an IPv4 address or host name: telnet://10.0.0.1"},
        {"10.0.0.1:23", "Not an IPv4 address or host name: 10.0.0.1:23"},
        {"-lead.example", "Not an IPv4 address or host name: -lead.example"},
        {"a..b", "Not an IPv4 address or host name: a..b"},
        {".", "Not an IPv4 address or host name: ."},
        {std::string(64, 'a'), "Not an IPv4 address or host name: " + std::string(64, 'a')},
        {"caf\xE9", "Not an IPv4 address or host name: caf\xE9"},
        {"fe80::1", "Not an IPv4 address or host name: fe80::1"},
    };
    for (const auto& [typed, message] : rejected) {
        std::string error;
        EXPECT_EQ(CheckConnectAddress(typed, error), "") << typed;
        EXPECT_EQ(error, message) << typed;
    }
}
