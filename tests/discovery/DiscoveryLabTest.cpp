// Runs inside a lab of 2 simulated devices, in the lab's app namespace (198.18.0.2).
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "discovery/GetLocalInterfaces.h"
#include "discovery/LocalAddress.h"
#include "discovery/TUDPServer.h"
#include "discovery/TUDPSocketHandle.h"
#include "support/Lab.h"

using namespace vandrel::discovery;
using namespace std::chrono_literals;

namespace {

struct Datagram {
    std::string from;
    std::string bytes;
};

}  // namespace

TEST(DiscoveryLab, BroadcastReachesTheDevicesAndComesBackToUsOnce) {
    ASSERT_TRUE(vandrel::test::Lab::active());
    std::mutex lock;
    std::vector<Datagram> received;
    TUDPServer server;
    server.SetDefaultPort(33300);
    server.OnUDPRead = [&](TUDPServer&, ByteStream& data, TUDPSocketHandle& binding) {
        std::string bytes(data.Size(), '\0');
        data.Read(bytes.data(), bytes.size());
        std::lock_guard guard(lock);
        received.push_back({binding.PeerIP(), bytes});
    };
    server.Broadcast("\x05", 33300);  // activates the endpoint first
    ASSERT_TRUE(server.Active());
    int flag = 1;
    socklen_t length = sizeof flag;
    getsockopt(server.Binding().Handle(), SOL_SOCKET, SO_BROADCAST, &flag, &length);
    EXPECT_EQ(flag, 0) << "broadcast must be off again after the send";

    const auto end = std::chrono::steady_clock::now() + 3s;
    while (std::chrono::steady_clock::now() < end) {
        {
            std::lock_guard guard(lock);
            if (received.size() >= 3) {
                break;
            }
        }
        std::this_thread::sleep_for(10ms);
    }
    std::this_thread::sleep_for(200ms);
    std::lock_guard guard(lock);
    int own = 0;
    int replies = 0;
    for (const Datagram& d : received) {
        if (d.bytes == "\x05") {
            ++own;
            EXPECT_EQ(d.from, "198.18.0.2");
        } else {
            ++replies;
            EXPECT_EQ(d.bytes.front(), '\x02');
        }
    }
    EXPECT_EQ(own, 1);
    EXPECT_EQ(replies, 2);
}

TEST(DiscoveryLab, LocalAddressAndNetmaskAreTheLabSubnets) {
    TUDPServer component;  // the socket stack lives while a component does
    const std::string ip = LocalAddress();
    EXPECT_EQ(ip, "198.18.0.2");
    std::string text;
    ASSERT_EQ(GetLocalInterfaces(text), 0);
    EXPECT_EQ(NetmaskFromInterfaceList(text, ip), "255.255.255.0") << text;
}
