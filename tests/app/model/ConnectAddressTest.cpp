#include "app/model/ConnectAddress.h"

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
    const std::string rejected[] = {
        "",           "   ",       "198.18.0.256",       "10.1",        "1.2.3.4.5",
        "0001.2.3.4", "host name", "telnet://10.0.0.1",  "10.0.0.1:23", "-lead.example",
        "a..b",       ".",         std::string(64, 'a'), "caf\xE9",     "fe80::1",
    };
    for (const std::string& typed : rejected) {
        std::string error;
        EXPECT_EQ(CheckConnectAddress(typed, error), "") << typed;
        EXPECT_EQ(error, typed.find_first_not_of(' ') == std::string::npos
                             ? "No address given"
                             : "Not an IPv4 address or host name: " + typed)
            << typed;
    }
}
