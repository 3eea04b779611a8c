#include "discovery/UDPDatagramQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace vandrel::discovery;
using namespace std::chrono_literals;

namespace {
UDPDatagram Datagram(std::size_t size, std::uint8_t fill) {
    UDPDatagram datagram;
    datagram.Data.assign(size, fill);
    return datagram;
}
}  // namespace

TEST(UDPDatagramQueue, AsksForOneDrainPerIdleToBusyChange) {
    UDPDatagramQueue queue;
    int requests = 0;
    queue.SetDrainRequest([&] { ++requests; });
    EXPECT_TRUE(queue.Push(Datagram(1, 1)));
    EXPECT_TRUE(queue.Push(Datagram(1, 2)));
    EXPECT_EQ(requests, 1);
    UDPDatagram out;
    ASSERT_TRUE(queue.Pop(out));
    EXPECT_EQ(out.Data[0], 1);
    // Still busy until a pop finds the queue empty.
    EXPECT_TRUE(queue.Push(Datagram(1, 3)));
    EXPECT_EQ(requests, 1);
    ASSERT_TRUE(queue.Pop(out));
    EXPECT_EQ(out.Data[0], 2);
    ASSERT_TRUE(queue.Pop(out));
    EXPECT_EQ(out.Data[0], 3);
    EXPECT_FALSE(queue.Pop(out));
    std::vector<UDPDatagram> batch;
    batch.push_back(Datagram(1, 4));
    batch.push_back(Datagram(1, 5));
    EXPECT_TRUE(queue.PushBatch(batch));
    EXPECT_EQ(requests, 2);
    EXPECT_EQ(queue.Count(), 2u);
}

TEST(UDPDatagramQueue, ABatchLargerThanTheLimitFlowsThroughADrainingConsumer) {
    // The drain must be requested before the pusher waits for space, or both would wait.
    UDPDatagramQueue queue(1000);
    std::atomic<int> popped{0};
    std::atomic<bool> drain{false};
    queue.SetDrainRequest([&] { drain = true; });
    std::thread consumer([&] {
        const auto end = std::chrono::steady_clock::now() + 3s;
        UDPDatagram out;
        while (popped < 5 && std::chrono::steady_clock::now() < end) {
            if (drain.exchange(false)) {
                while (queue.Pop(out)) {
                    ++popped;
                    std::this_thread::sleep_for(1ms);
                }
            }
            std::this_thread::sleep_for(1ms);
        }
    });
    std::vector<UDPDatagram> batch;
    for (std::uint8_t i = 0; i < 5; ++i) {
        batch.push_back(Datagram(800, i));
    }
    EXPECT_TRUE(queue.PushBatch(batch));
    consumer.join();
    EXPECT_EQ(popped, 5);
}

TEST(UDPDatagramQueue, FullQueueBlocksThePusherUntilSpaceOrAbort) {
    UDPDatagramQueue queue(1000);
    queue.Push(Datagram(800, 0));  // always accepted into an empty queue
    std::atomic<int> result{-1};
    std::thread pusher([&] { result = queue.Push(Datagram(800, 1)) ? 1 : 0; });
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(result, -1);
    UDPDatagram out;
    ASSERT_TRUE(queue.Pop(out));
    pusher.join();
    EXPECT_EQ(result, 1);

    std::thread blocked([&] { result = queue.Push(Datagram(800, 2)) ? 1 : 0; });
    std::this_thread::sleep_for(50ms);
    queue.Abort();
    blocked.join();
    EXPECT_EQ(result, 0);
    queue.Reset();
    EXPECT_EQ(queue.Count(), 0u);
    EXPECT_TRUE(queue.Push(Datagram(1, 3)));
}
