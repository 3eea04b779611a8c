#include "discovery/TUDPServer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "discovery/TSocketStack.h"
#include "discovery/TUDPListenerThread.h"
#include "discovery/TUDPSocketHandle.h"
#include "discovery/UDPErrors.h"
#include "support/RaisedText.h"

using namespace vandrel::discovery;
using namespace vandrel::test;
using namespace std::chrono_literals;

namespace {

// Stands in for the GUI thread's event loop: posted calls run when the test pumps.
class FakeEventLoop {
public:
    TUDPServer::TSynchronizer Synchronizer() {
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

// A plain client socket on loopback that sends to the endpoint.
class Sender {
public:
    Sender() : m_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~Sender() { ::close(m_fd); }
    void SendTo(int port, const std::string& bytes) const {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<std::uint16_t>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::sendto(m_fd, bytes.data(), bytes.size(), 0,
                           reinterpret_cast<const sockaddr*>(&to), sizeof to),
                  static_cast<ssize_t>(bytes.size()));
    }
    int Fd() const { return m_fd; }

private:
    int m_fd;
};

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
    server.OnUDPRead = [&into](TUDPServer&, TMemoryStream& data, TUDPSocketHandle& binding) {
        std::string bytes(data.Size(), '\0');
        EXPECT_EQ(data.Position(), 0u);
        data.Read(bytes.data(), bytes.size());
        std::lock_guard guard(into.lock);
        into.datagrams.push_back(bytes);
        into.peers.push_back(binding.PeerIP() + ":" + std::to_string(binding.PeerPort()));
    };
}

int BoundPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

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
    Sender blocker;
    sockaddr_in any{};
    any.sin_family = AF_INET;
    ASSERT_EQ(::bind(blocker.Fd(), reinterpret_cast<sockaddr*>(&any), sizeof any), 0);

    TUDPServer server;
    server.SetDefaultPort(BoundPort(blocker.Fd()));
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
    Sender blocker;
    sockaddr_in any{};
    any.sin_family = AF_INET;
    ASSERT_EQ(::bind(blocker.Fd(), reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    const int taken = BoundPort(blocker.Fd());
    binding.SetClientPortMin(taken);
    binding.SetClientPortMax(taken);
    EXPECT_EQ(raisedText<EUDPError>([&] { server.SetActive(true); }),
              "Can not bind in port range (" + std::to_string(taken) + " - " +
                  std::to_string(taken) + ")");
}

TEST(TUDPServer, DeliversUpToBufferSizeAndDropsLongerDatagrams) {
    FakeEventLoop loop;
    TUDPServer server;
    Received received;
    Collect(server, received);
    server.SetSynchronizer(loop.Synchronizer());
    server.SetActive(true);
    const int port = server.Binding().Port();

    Sender sender;
    sender.SendTo(port, std::string(8193, 'x'));
    sender.SendTo(port, std::string(8192, 'y'));
    sender.SendTo(port, std::string());
    sender.SendTo(port, "end");
    ASSERT_TRUE(loop.RunPostedUntil([&] { return received.Count() >= 3; }));
    ASSERT_EQ(received.datagrams.size(), 3u);
    EXPECT_EQ(received.datagrams[0], std::string(8192, 'y'));
    EXPECT_EQ(received.datagrams[1], "");
    EXPECT_EQ(received.datagrams[2], "end");
    EXPECT_EQ(received.peers[2], "127.0.0.1:" + std::to_string(BoundPort(sender.Fd())));
}

namespace {

// How many of `offered` datagrams a loopback socket with the system's default receive buffer
// keeps while nobody reads it.
std::size_t DefaultBufferKeeps(const Sender& sender, int offered, const std::string& bytes) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    for (int i = 0; i < offered; ++i) {
        sender.SendTo(BoundPort(fd), bytes);
    }
    std::size_t kept = 0;
    char buffer[256];
    while (::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) >= 0) {
        ++kept;
    }
    ::close(fd);
    return kept;
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
    server.OnUDPRead = [&](TUDPServer&, TMemoryStream&, TUDPSocketHandle&) {
        if (delivered++ == 0) {
            std::unique_lock guard(lock);
            released.wait_for(guard, 10s, [&] { return release; });
        }
    };
    server.SetActive(true);
    const int port = server.Binding().Port();
    Sender sender;
    const std::string reply(64, 'r');
    const std::size_t burst = DefaultBufferKeeps(sender, 4000, reply) * 3 / 2;
    ASSERT_GT(burst, 100u);
    sender.SendTo(port, "hold");
    auto end = std::chrono::steady_clock::now() + 3s;
    while (delivered == 0 && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(1ms);
    }
    for (std::size_t i = 0; i < burst; ++i) {
        sender.SendTo(port, reply);
    }
    {
        std::lock_guard guard(lock);
        release = true;
    }
    released.notify_all();
    end = std::chrono::steady_clock::now() + 5s;
    while (delivered < burst + 1 && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(1ms);
    }
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
    server.OnUDPRead = [&](TUDPServer& sender, TMemoryStream& data, TUDPSocketHandle&) {
        reentered = reentered || inHook;
        inHook = true;
        std::string text(data.Size(), '\0');
        data.Read(text.data(), text.size());
        order.push_back(std::stoi(text));
        if (order.size() == 1) {
            // Like a modal box: an event loop runs inside the hook while more datagrams come.
            firstSeen = true;
            const auto end = std::chrono::steady_clock::now() + 300ms;
            while (std::chrono::steady_clock::now() < end) {
                loop.PumpOnce();
                sender.DeliverQueued();
                std::this_thread::sleep_for(5ms);
            }
            EXPECT_EQ(order.size(), 1u);
        }
        inHook = false;
    };
    server.SetActive(true);
    const int port = server.Binding().Port();

    Sender sender;
    sender.SendTo(port, "0");
    ASSERT_TRUE(loop.RunPostedUntil([&] { return !order.empty() || firstSeen; }, 3s));
    std::thread more([&] {
        for (int i = 1; i < 200; ++i) {
            sender.SendTo(port, std::to_string(i));
        }
    });
    ASSERT_TRUE(loop.RunPostedUntil([&] { return order.size() >= 200; }));
    more.join();
    EXPECT_FALSE(reentered);
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(order[static_cast<std::size_t>(i)], i);
    }
}

TEST(TUDPServer, DeactivationEndsQuicklyWhileRepliesPourInAndNothingIsDelivered) {
    FakeEventLoop loop;  // never pumped: the GUI thread is "busy"
    Received received;
    std::atomic<bool> flooding{true};
    std::thread flood;
    {
        TUDPServer server;
        Collect(server, received);
        server.SetSynchronizer(loop.Synchronizer());
        server.SetActive(true);
        const int port = server.Binding().Port();
        flood = std::thread([&flooding, port] {
            Sender sender;
            const auto end = std::chrono::steady_clock::now() + 5s;
            while (flooding && std::chrono::steady_clock::now() < end) {
                sender.SendTo(port, std::string(100, 'r'));
            }
        });
        std::this_thread::sleep_for(200ms);
        EXPECT_GT(server.PendingCount(), 0u);
        const auto start = std::chrono::steady_clock::now();
        server.SetActive(false);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    }
    flooding = false;
    flood.join();
    // Deliveries posted before the endpoint went away are void now.
    loop.PumpOnce();
    EXPECT_EQ(received.Count(), 0u);
}

// Destroyed while active, with its listener asking for a delivery for every batch (the
// synchronizer runs each at once, so the queue keeps going idle): nothing of the endpoint may
// change under the listener before it has ended (ThreadSanitizer runs check this).
TEST(TUDPServer, DestroyedWhileItsListenerAsksForDeliveries) {
    for (int round = 0; round < 3; ++round) {
        std::atomic<int> delivered{0};
        std::atomic<bool> flooding{true};
        std::thread flood;
        {
            TUDPServer server;
            server.OnUDPRead = [&](TUDPServer&, TMemoryStream&, TUDPSocketHandle&) { ++delivered; };
            server.SetSynchronizer([](std::function<void()> call) { call(); });
            server.SetActive(true);
            const int port = server.Binding().Port();
            flood = std::thread([&flooding, port] {
                Sender sender;
                const auto end = std::chrono::steady_clock::now() + 5s;
                while (flooding && std::chrono::steady_clock::now() < end) {
                    sender.SendTo(port, "r");
                }
            });
            const auto end = std::chrono::steady_clock::now() + 3s;
            while (delivered < 100 && std::chrono::steady_clock::now() < end) {
                std::this_thread::sleep_for(1ms);
            }
            EXPECT_GE(delivered, 100);
        }
        flooding = false;
        flood.join();
    }
}

TEST(TUDPServer, DeactivationEndsQuicklyWhileTheListenerWaitsForTheGuiThread) {
    FakeEventLoop loop;  // never pumped
    TUDPServer server;
    Received received;
    Collect(server, received);
    server.SetSynchronizer(loop.Synchronizer());
    server.SetMaxQueuedBytes(1000);
    server.SetActive(true);
    Sender sender;
    for (int i = 0; i < 40; ++i) {
        sender.SendTo(server.Binding().Port(), std::string(200, 'q'));
    }
    // The queue holds a few; the listener is now blocked handing over the next one.
    const auto end = std::chrono::steady_clock::now() + 2s;
    while (server.PendingCount() < 4 && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(5ms);
    }
    std::this_thread::sleep_for(50ms);
    EXPECT_LE(server.PendingCount(), 5u);
    const auto start = std::chrono::steady_clock::now();
    server.SetActive(false);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    loop.PumpOnce();
    EXPECT_EQ(received.Count(), 0u);
}

TEST(TUDPServer, HookErrorsLoseOnlyTheirDatagram) {
    FakeEventLoop loop;
    TUDPServer server;
    server.SetSynchronizer(loop.Synchronizer());
    std::vector<std::string> seen;
    server.OnUDPRead = [&](TUDPServer&, TMemoryStream& data, TUDPSocketHandle&) {
        std::string text(data.Size(), '\0');
        data.Read(text.data(), text.size());
        seen.push_back(text);
        if (text == "bad") {
            throw std::runtime_error("hook failed");
        }
    };
    server.SetActive(true);
    Sender sender;
    sender.SendTo(server.Binding().Port(), "bad");
    sender.SendTo(server.Binding().Port(), "good");
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
    const auto end = std::chrono::steady_clock::now() + 3s;
    while (received.Count() == 0 && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_EQ(received.Count(), 1u);
    EXPECT_EQ(received.datagrams[0], "hello");
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
    server.OnUDPRead = [&](TUDPServer&, TMemoryStream&, TUDPSocketHandle&) { ++delivered; };
    server.SetActive(true);
    const int port = server.Binding().Port();
    constexpr int kDatagrams = 300;
    for (int i = 0; i < kDatagrams; ++i) {
        server.Send("127.0.0.1", port, "ping");
    }
    const auto end = std::chrono::steady_clock::now() + 3s;
    while (delivered < kDatagrams && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(2ms);
    }
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
    EXPECT_TRUE(TSocketStack::IsIP("0.0.0.0"));
    EXPECT_TRUE(TSocketStack::IsIP("255.255.255.255"));
    EXPECT_TRUE(TSocketStack::IsIP("010.1.1.1"));
    EXPECT_FALSE(TSocketStack::IsIP("256.1.1.1"));
    EXPECT_FALSE(TSocketStack::IsIP("1.1.1"));
    EXPECT_FALSE(TSocketStack::IsIP("1.1.1.1.1"));
    EXPECT_FALSE(TSocketStack::IsIP("1..1.1"));
    EXPECT_FALSE(TSocketStack::IsIP("1.1.1.1 "));
    EXPECT_FALSE(TSocketStack::IsIP("1111.1.1.1"));
    EXPECT_FALSE(TSocketStack::IsIP(""));
}

TEST(UDPSocketError, MessagesUseTheEndpointTable) {
    EXPECT_STREQ(EUDPSocketError(10048).what(), "Socket Error # 10048\r\nAddress already in use.");
    EXPECT_STREQ(EUDPSocketError(10035).what(), "Socket Error # 10035\r\nOperation would block. ");
    EXPECT_STREQ(EUDPSocketError(11001).what(), "Socket Error # 11001\r\nHost not found.");
    EXPECT_STREQ(EUDPSocketError(10067).what(), "Socket Error # 10067\r\n");
    EXPECT_EQ(EUDPSocketError(10040).LastError(), 10040);
    EXPECT_EQ(UDPSocketErrorText(10066), "Directory not empty");
}
