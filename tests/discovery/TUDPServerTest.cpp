#include "discovery/TUDPServer.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "discovery/TSocketStack.h"
#include "discovery/TUDPListenerThread.h"
#include "discovery/TUDPSocketHandle.h"
#include "discovery/UDPErrors.h"
#include "support/RaisedText.h"
#include "support/TestSockets.h"

using namespace vandrel::discovery;
using namespace vandrel::test;
using namespace std::chrono_literals;

namespace {

// Stands in for the GUI thread's event loop: posted calls run when the test pumps.
class FakeEventLoop {
public:
    TUDPServer::Synchronizer Synchronizer() {
        return [this](std::function<void()> call) {
            std::lock_guard lock(m_lock);
            m_calls.push_back(std::move(call));
            m_posted.notify_all();
        };
    }
    // Runs posted calls until pred holds or the time is up.
    bool RunPostedUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit = 3s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!pred()) {
            std::function<void()> call;
            {
                std::unique_lock lock(m_lock);
                if (!m_posted.wait_until(lock, end, [&] { return !m_calls.empty(); })) {
                    return pred();
                }
                call = std::move(m_calls.front());
                m_calls.pop_front();
            }
            call();
        }
        return true;
    }
    // Runs only what is posted right now, as a nested modal loop would.
    void PumpOnce() {
        std::deque<std::function<void()>> calls;
        {
            std::lock_guard lock(m_lock);
            calls.swap(m_calls);
        }
        for (auto& call : calls) {
            call();
        }
    }

private:
    std::mutex m_lock;
    std::condition_variable m_posted;
    std::deque<std::function<void()>> m_calls;
};

// The bytes of a delivered datagram.
std::string Bytes(ByteStream& data) {
    std::string bytes(data.Size(), '\0');
    EXPECT_EQ(data.Position(), 0u);
    data.Read(bytes.data(), bytes.size());
    return bytes;
}

struct Received {
    std::mutex lock;
    std::vector<std::string> datagrams;
    std::vector<std::string> peers;
    std::size_t Count() {
        std::lock_guard guard(lock);
        return datagrams.size();
    }
};

void Collect(TUDPServer& server, Received& into) {
    server.OnUDPRead = [&into](TUDPServer&, ByteStream& data, TUDPSocketHandle& binding) {
        std::string bytes = Bytes(data);
        std::lock_guard guard(into.lock);
        into.datagrams.push_back(bytes);
        into.peers.push_back(binding.PeerIP() + ":" + std::to_string(binding.PeerPort()));
    };
}

// Polls pred until it holds (true) or the time is up (false).
bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit = 3s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

void SendTo(UdpProbe& sender, int port, const std::string& bytes) {
    ASSERT_TRUE(sender.sendTo("127.0.0.1", static_cast<std::uint16_t>(port), bytes));
}

// Sends bytes to a loopback port from a thread of its own, as fast as it can, until it is
// destroyed (5 s at the most).
class Flood {
public:
    Flood(int port, const std::string& bytes)
        : m_thread([this, port, bytes] {
              UdpProbe sender;
              const auto end = std::chrono::steady_clock::now() + 5s;
              while (m_on && std::chrono::steady_clock::now() < end) {
                  sender.sendTo("127.0.0.1", static_cast<std::uint16_t>(port), bytes);
              }
          }) {}
    ~Flood() {
        m_on = false;
        m_thread.join();
    }

private:
    std::atomic<bool> m_on{true};
    std::thread m_thread;
};

}  // namespace

TEST(TUDPServer, ActivationBindsDefaultPortOnAllAddressesAndIsIdempotent) {
    TUDPServer server;
    EXPECT_FALSE(server.Active());
    server.SetActive(false);  // deactivating an inactive endpoint does nothing
    EXPECT_EQ(server.Thread(), nullptr);

    server.SetActive(true);
    ASSERT_TRUE(server.Active());
    ASSERT_EQ(server.Bindings().size(), 1u);
    TUDPSocketHandle& binding = *server.Bindings().front();
    EXPECT_EQ(binding.IP(), "0.0.0.0");
    EXPECT_NE(binding.Port(), 0);
    const int handle = binding.Handle();
    TUDPListenerThread* thread = server.Thread();

    server.SetActive(true);  // a second activation must not rebind or start a second thread
    EXPECT_EQ(binding.Handle(), handle);
    EXPECT_EQ(server.Thread(), thread);

    server.SetActive(false);
    server.SetActive(false);
    EXPECT_FALSE(server.Active());
    EXPECT_FALSE(binding.HandleAllocated());
    EXPECT_EQ(server.Thread(), nullptr);

    server.SetActive(true);  // and it comes back
    EXPECT_TRUE(server.Active());
    EXPECT_TRUE(binding.HandleAllocated());
}

TEST(TUDPServer, PortInUseGivesTheBindTextAndLeavesTheEndpointInactive) {
    UdpProbe blocker("0.0.0.0");
    TUDPServer server;
    server.SetDefaultPort(blocker.port());
    try {
        server.SetActive(true);
        FAIL() << "bind to a taken port succeeded";
    } catch (const EUDPSocketError&) {
        FAIL() << "raised a plain socket error instead of the bind text";
    } catch (const EUDPError& error) {
        EXPECT_STREQ(error.what(), "Could not bind socket. Address and port are already in use.");
    }
    EXPECT_FALSE(server.Active());
    EXPECT_FALSE(server.Bindings().front()->HandleAllocated());
    // A send activates again and meets the same error.
    EXPECT_THROW(server.Send("127.0.0.1", 9, "x"), EUDPError);
    EXPECT_FALSE(server.Active());
}

TEST(TUDPServer, PortRangeBranch) {
    TUDPServer server;
    TUDPSocketHandle& binding = server.AddBinding();
    binding.SetClientPortMin(40010);
    binding.SetClientPortMax(40005);
    EXPECT_EQ(raisedText<EUDPError>([&] { server.SetActive(true); }),
              "Invalid Port Range (40010 - 40005)");

    // A range of one taken port cannot bind.
    UdpProbe blocker("0.0.0.0");
    const std::string taken = std::to_string(blocker.port());
    binding.SetClientPortMin(blocker.port());
    binding.SetClientPortMax(blocker.port());
    EXPECT_EQ(raisedText<EUDPError>([&] { server.SetActive(true); }),
              "Can not bind in port range (" + taken + " - " + taken + ")");
}

TEST(TUDPServer, DeliversUpToBufferSizeAndDropsLongerDatagrams) {
    FakeEventLoop loop;
    TUDPServer server;
    Received received;
    Collect(server, received);
    server.SetSynchronizer(loop.Synchronizer());
    server.SetActive(true);
    UdpProbe sender;
    for (const std::string& bytes :
         {std::string(8193, 'x'), std::string(8192, 'y'), std::string(), std::string("end")}) {
        SendTo(sender, server.Binding().Port(), bytes);
    }
    ASSERT_TRUE(loop.RunPostedUntil([&] { return received.Count() >= 3; }));
    EXPECT_EQ(received.datagrams, (std::vector<std::string>{std::string(8192, 'y'), "", "end"}));
    EXPECT_EQ(received.peers[2], "127.0.0.1:" + std::to_string(sender.port()));
}

namespace {

// How many of `offered` datagrams a loopback socket with the system's default receive buffer
// keeps while nobody reads it.
std::size_t DefaultBufferKeeps(UdpProbe& sender, int offered, const std::string& bytes) {
    UdpProbe reader;
    for (int i = 0; i < offered; ++i) {
        SendTo(sender, reader.port(), bytes);
    }
    return reader.receiveAll(50ms, 5s).size();
}

}  // namespace

// A burst that comes while the listener is held (here inside the read hook; on a busy machine
// while it waits for a core) must wait in the endpoint's receive buffer: half as much again as
// the system's default buffer keeps arrives complete.
TEST(TUDPServer, BurstBeyondTheDefaultReceiveBufferWaitsUntilTheListenerDrainsIt) {
    std::mutex lock;
    std::condition_variable released;
    bool release = false;
    std::atomic<std::size_t> delivered{0};
    TUDPServer server;  // no synchronizer: the hook runs on the listener thread
    server.OnUDPRead = [&](TUDPServer&, ByteStream&, TUDPSocketHandle&) {
        if (delivered++ == 0) {
            std::unique_lock guard(lock);
            released.wait_for(guard, 10s, [&] { return release; });
        }
    };
    server.SetActive(true);
    const int port = server.Binding().Port();
    UdpProbe sender;
    const std::string reply(64, 'r');
    const std::size_t burst = DefaultBufferKeeps(sender, 4000, reply) * 3 / 2;
    ASSERT_GT(burst, 100u);
    SendTo(sender, port, "hold");
    WaitUntil([&] { return delivered > 0; });
    for (std::size_t i = 0; i < burst; ++i) {
        SendTo(sender, port, reply);
    }
    {
        std::lock_guard guard(lock);
        release = true;
    }
    released.notify_all();
    WaitUntil([&] { return delivered >= burst + 1; }, 5s);
    EXPECT_EQ(delivered, burst + 1);
}

TEST(TUDPServer, KeepsArrivalOrderAndDeliversNothingWhileTheHookIsBusy) {
    FakeEventLoop loop;
    TUDPServer server;
    server.SetSynchronizer(loop.Synchronizer());
    std::vector<int> order;
    bool inHook = false;
    bool reentered = false;
    std::atomic<bool> firstSeen{false};
    server.OnUDPRead = [&](TUDPServer& endpoint, ByteStream& data, TUDPSocketHandle&) {
        reentered = reentered || inHook;
        inHook = true;
        order.push_back(std::stoi(Bytes(data)));
        if (order.size() == 1) {
            // Like a modal box: an event loop runs inside the hook while more datagrams come.
            firstSeen = true;
            const auto end = std::chrono::steady_clock::now() + 300ms;
            while (std::chrono::steady_clock::now() < end) {
                loop.PumpOnce();
                endpoint.DeliverQueued();
                std::this_thread::sleep_for(5ms);
            }
            EXPECT_EQ(order.size(), 1u);
        }
        inHook = false;
    };
    server.SetActive(true);
    const int port = server.Binding().Port();

    UdpProbe sender;
    SendTo(sender, port, "0");
    ASSERT_TRUE(loop.RunPostedUntil([&] { return !order.empty() || firstSeen; }, 3s));
    std::thread more([&] {
        for (int i = 1; i < 200; ++i) {
            SendTo(sender, port, std::to_string(i));
        }
    });
    ASSERT_TRUE(loop.RunPostedUntil([&] { return order.size() >= 200; }));
    more.join();
    EXPECT_FALSE(reentered);
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(order[static_cast<std::size_t>(i)], i);
    }
}

// The GUI thread is busy (the loop is never pumped) while datagrams pour in, or while the
// listener waits to hand over to a full queue: deactivation still ends within 1.5 s, and
// what was posted before is void, after deactivation as after destruction.
TEST(TUDPServer, DeactivationEndsQuicklyAndLeavesNothingToDeliver) {
    for (const bool fullQueue : {false, true}) {
        SCOPED_TRACE(fullQueue ? "the listener waits for the GUI thread" : "replies pour in");
        FakeEventLoop loop;
        Received received;
        std::optional<Flood> flood;
        {
            TUDPServer server;
            Collect(server, received);
            server.SetSynchronizer(loop.Synchronizer());
            if (fullQueue) {
                server.SetMaxQueuedBytes(1000);
            }
            server.SetActive(true);
            const int port = server.Binding().Port();
            if (fullQueue) {
                UdpProbe sender;
                for (int i = 0; i < 40; ++i) {
                    SendTo(sender, port, std::string(200, 'q'));
                }
                // The queue holds a few; the listener is now blocked handing over the next one.
                WaitUntil([&] { return server.PendingCount() >= 4; }, 2s);
                std::this_thread::sleep_for(50ms);
                EXPECT_LE(server.PendingCount(), 5u);
            } else {
                flood.emplace(port, std::string(100, 'r'));
                std::this_thread::sleep_for(200ms);
                EXPECT_GT(server.PendingCount(), 0u);
            }
            const auto start = std::chrono::steady_clock::now();
            server.SetActive(false);
            EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
            loop.PumpOnce();
        }
        flood.reset();
        loop.PumpOnce();
        EXPECT_EQ(received.Count(), 0u);
    }
}

// Destroyed while active, with its listener asking for a delivery for every batch (the
// synchronizer runs each at once, so the queue keeps going idle): nothing of the endpoint may
// change under the listener before it has ended (ThreadSanitizer runs check this).
TEST(TUDPServer, DestroyedWhileItsListenerAsksForDeliveries) {
    for (int round = 0; round < 10; ++round) {
        std::atomic<int> delivered{0};
        auto server = std::make_unique<TUDPServer>();
        server->OnUDPRead = [&](TUDPServer&, ByteStream&, TUDPSocketHandle&) { ++delivered; };
        server->SetSynchronizer([](std::function<void()> call) { call(); });
        server->SetActive(true);
        Flood flood(server->Binding().Port(), "r");
        EXPECT_TRUE(WaitUntil([&] { return delivered >= 100; }));
        server.reset();
    }
}

TEST(TUDPServer, HookErrorsLoseOnlyTheirDatagram) {
    FakeEventLoop loop;
    TUDPServer server;
    server.SetSynchronizer(loop.Synchronizer());
    std::vector<std::string> seen;
    server.OnUDPRead = [&](TUDPServer&, ByteStream& data, TUDPSocketHandle&) {
        seen.push_back(Bytes(data));
        if (seen.back() == "bad") {
            throw std::runtime_error("hook failed");
        }
    };
    server.SetActive(true);
    UdpProbe sender;
    SendTo(sender, server.Binding().Port(), "bad");
    SendTo(sender, server.Binding().Port(), "good");
    ASSERT_TRUE(loop.RunPostedUntil([&] { return seen.size() >= 2; }));
    EXPECT_EQ(seen, (std::vector<std::string>{"bad", "good"}));
}

TEST(TUDPServer, SendResolvesLocalhostAndReportsOversizedDatagrams) {
    TUDPServer target;
    Received received;
    Collect(target, received);  // no synchronizer: delivered on the listener thread
    target.SetActive(true);

    TUDPServer server;  // inactive: Send activates it
    server.Send("LocalHost", target.Binding().Port(), "hello");
    EXPECT_TRUE(server.Active());
    ASSERT_TRUE(WaitUntil([&] { return received.Count() > 0; }));
    EXPECT_EQ(received.datagrams, std::vector<std::string>{"hello"});
    EXPECT_EQ(received.peers[0], "127.0.0.1:" + std::to_string(server.Binding().Port()));

    const std::string huge(70000, 'h');
    EXPECT_EQ(raisedText<EUDPError>([&] {
                  server.SendBuffer("127.0.0.1", target.Binding().Port(), huge.data(), huge.size());
              }),
              "Package Size Too Big.");
}

// Without a synchronizer the listener thread delivers, and makes each datagram's binding the
// current one, while the owner's thread sends from the current binding: an endpoint sending
// to itself does both at once (ThreadSanitizer runs check that this is safe).
TEST(TUDPServer, SendsWhileItsListenerDelivers) {
    TUDPServer server;
    std::atomic<int> delivered{0};
    server.OnUDPRead = [&](TUDPServer&, ByteStream&, TUDPSocketHandle&) { ++delivered; };
    server.SetActive(true);
    constexpr int kDatagrams = 300;
    for (int i = 0; i < kDatagrams; ++i) {
        server.Send("127.0.0.1", server.Binding().Port(), "ping");
    }
    WaitUntil([&] { return delivered == kDatagrams; });
    EXPECT_EQ(delivered, kDatagrams);
}

TEST(TUDPServer, BroadcastFlagIsOffUnlessSwitchedOn) {
    TUDPServer server;
    server.SetActive(true);
    const auto flag = [&] {
        int value = 123;
        socklen_t length = sizeof value;
        ::getsockopt(server.Binding().Handle(), SOL_SOCKET, SO_BROADCAST, &value, &length);
        return value;
    };
    EXPECT_EQ(flag(), 0);
    server.SetBroadcastFlag(true);
    EXPECT_NE(flag(), 0);
    server.SetBroadcastEnabled(false);
    server.SetBroadcastEnabled(true);
    server.SetBroadcastEnabled(false);
    EXPECT_EQ(flag(), 0);
}

TEST(TSocketStack, SharedStackLivesWhileAnyComponentDoes) {
    const int before = TSocketStack::UserCount();
    {
        TUDPServer a;
        {
            TUDPServer b;
            EXPECT_EQ(TSocketStack::UserCount(), before + 2);
        }
        EXPECT_EQ(TSocketStack::UserCount(), before + 1);
        EXPECT_NO_THROW(TSocketStack::Instance());
    }
    EXPECT_EQ(TSocketStack::UserCount(), before);
}

TEST(TSocketStack, RecognisesDottedAddressesOnly) {
    for (const char* ip : {"0.0.0.0", "255.255.255.255", "010.1.1.1"}) {
        EXPECT_TRUE(TSocketStack::IsIP(ip)) << ip;
    }
    for (const char* text :
         {"256.1.1.1", "1.1.1", "1.1.1.1.1", "1..1.1", "1.1.1.1 ", "1111.1.1.1", ""}) {
        EXPECT_FALSE(TSocketStack::IsIP(text)) << text;
    }
}

TEST(UDPSocketError, MessagesUseTheEndpointTable) {
    EXPECT_STREQ(EUDPSocketError(10048).what(), "Socket Error # 10048\r\nAddress already in use.");
    EXPECT_STREQ(EUDPSocketError(10035).what(), "Socket Error # 10035\r\nOperation would block. ");
    EXPECT_STREQ(EUDPSocketError(11001).what(), "Socket Error # 11001\r\nHost not found.");
    EXPECT_STREQ(EUDPSocketError(10067).what(), "Socket Error # 10067\r\n");
    EXPECT_EQ(EUDPSocketError(10040).LastError(), 10040);
    EXPECT_EQ(UDPSocketErrorText(10066), "Directory not empty");
}
