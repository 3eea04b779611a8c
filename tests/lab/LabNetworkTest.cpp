// Runs inside a lab of 3 devices, in the lab's app namespace. Every device is called
// "Lab unit"; device 3 reports its status in capitals.
#include <gtest/gtest.h>
#include <netdb.h>
#include <unistd.h>

#include <algorithm>
#include <map>

#include "support/Lab.h"
#include "support/TestSockets.h"

using namespace vandrel::test;
using namespace std::chrono_literals;

namespace {

std::vector<std::string> fields(const std::string& frame) {
    std::vector<std::string> result;
    if (frame.size() < 2 || frame.front() != '\x02' || frame.back() != '\x04') {
        return result;
    }
    std::string body = frame.substr(1, frame.size() - 2);
    std::size_t start = 0;
    for (std::size_t sep; (sep = body.find('\x1F', start)) != std::string::npos; start = sep + 1) {
        result.push_back(body.substr(start, sep - start));
    }
    result.push_back(body.substr(start));
    return result;
}

std::map<std::string, int> broadcastAndCount(std::vector<Datagram>* replies = nullptr) {
    UdpProbe probe("0.0.0.0", 33300);
    EXPECT_TRUE(probe.ok()) << "port 33300 is taken in the app namespace";
    EXPECT_TRUE(probe.sendTo("255.255.255.255", 33300, "\x05"));
    std::map<std::string, int> count;
    for (const Datagram& d : probe.receiveAll(700ms, 3s)) {
        if (d.bytes == "\x05") {
            continue;  // our own broadcast looped back to us
        }
        ++count[d.from];
        if (replies != nullptr) {
            replies->push_back(d);
        }
    }
    return count;
}

// The status field of the first reply from address, or "" without one.
std::string statusOf(const std::vector<Datagram>& replies, const std::string& address) {
    for (const Datagram& d : replies) {
        if (d.from == address && fields(d.bytes).size() == 5) {
            return fields(d.bytes)[4];
        }
    }
    return {};
}

}  // namespace

TEST(LabNetwork, RunsInsideALab) {
    ASSERT_TRUE(Lab::active()) << "start this test through ctest: it needs its lab";
    EXPECT_EQ(Lab::deviceCount(), 3);
    EXPECT_EQ(Lab::deviceAddress(1), "198.18.0.11");
}

TEST(LabNetwork, HostNameResolvesToTheAppAddress) {
    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* list = nullptr;
    ASSERT_EQ(getaddrinfo(host, nullptr, &hints, &list), 0);
    char text[64] = {};
    getnameinfo(list->ai_addr, list->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST);
    freeaddrinfo(list);
    EXPECT_STREQ(text, "198.18.0.2");
}

TEST(LabNetwork, BroadcastReachesEveryDeviceAndRepliesComeToTheSender) {
    std::vector<Datagram> replies;
    auto count = broadcastAndCount(&replies);
    EXPECT_EQ(count.size(), 3u);
    EXPECT_EQ(count["198.18.0.11"], 1);
    EXPECT_EQ(count["198.18.0.12"], 1);
    EXPECT_EQ(count["198.18.0.13"], 1);
    ASSERT_EQ(replies.size(), 3u);
    for (const Datagram& d : replies) {
        EXPECT_EQ(d.port, 33300);
        auto f = fields(d.bytes);
        ASSERT_EQ(f.size(), 5u);
        EXPECT_EQ(f[0], "Lab unit");
        EXPECT_EQ(f[2], d.from) << "the IP field must be the address the request arrived on";
        EXPECT_EQ(f[4], d.from == "198.18.0.13" ? "NOT CONNECTED" : "not connected");
    }
}

TEST(LabNetwork, TelnetReachesEachDeviceOnPort23) {
    for (int k = 1; k <= 3; ++k) {
        TcpClient client;
        ASSERT_EQ(client.connectTo(Lab::deviceAddress(k), 23, 2s), 0) << "device " << k;
        EXPECT_TRUE(client.readUntil("\xFF\xFD\x18", 2s)) << "device " << k;
    }
}

TEST(LabNetwork, DevicesCanBeStoppedAndRestartedWithOtherOptions) {
    std::string output;
    ASSERT_TRUE(Lab::stopDevice(3, &output)) << output;
    TcpClient client;
    EXPECT_EQ(client.connectTo(Lab::deviceAddress(3), 23, 2s), ECONNREFUSED);
    EXPECT_EQ(broadcastAndCount().count("198.18.0.13"), 0u);

    ASSERT_TRUE(Lab::restartDevice(3, {"--reply-count", "3", "--status", "busy"}, &output))
        << output;
    std::vector<Datagram> replies;
    EXPECT_EQ(broadcastAndCount(&replies)["198.18.0.13"], 3);
    for (const Datagram& d : replies) {
        if (d.from == "198.18.0.13") {
            EXPECT_EQ(fields(d.bytes).at(4), "busy");
            EXPECT_EQ(fields(d.bytes).at(0), "Lab unit") << "the lab's common options stay";
        }
    }
    ASSERT_TRUE(Lab::startDevice(3, &output)) << output;
    EXPECT_EQ(broadcastAndCount()["198.18.0.13"], 3) << "start keeps the last options";
    ASSERT_TRUE(Lab::restartDevice(3, {}, &output)) << output;
    replies.clear();
    EXPECT_EQ(broadcastAndCount(&replies)["198.18.0.13"], 1) << "an empty list clears them";
    EXPECT_EQ(statusOf(replies, "198.18.0.13"), "not connected");

    // Reset brings back the lab's own options for it, so a repeated run starts as the first.
    ASSERT_TRUE(Lab::resetDevice(3, &output)) << output;
    replies.clear();
    EXPECT_EQ(broadcastAndCount(&replies)["198.18.0.13"], 1);
    EXPECT_EQ(statusOf(replies, "198.18.0.13"), "NOT CONNECTED");
}
