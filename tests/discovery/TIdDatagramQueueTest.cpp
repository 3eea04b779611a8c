#include "discovery/TIdDatagramQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace vandrel::discovery;
using namespace std::chrono_literals;

namespace {
TIdDatagram Datagram(std::size_t size, std::uint8_t fill) {
    TIdDatagram datagram;
    datagram.Data.assign(size, fill);
    return datagram;
}
}  // namespace

TEST(TIdDatagramQueue, AsksForOneDrainPerIdleToBusyChange) {
    TIdDatagramQueue queue;
    EXPECT_EQ(queue.Push(Datagram(1, 1)), TIdDatagramQueue::PushResult::QueuedFirst);
    EXPECT_EQ(queue.Push(Datagram(1, 2)), TIdDatagramQueue::PushResult::Queued);
    TIdDatagram out;
    ASSERT_TRUE(queue.Pop(out));
    EXPECT_EQ(out.Data[0], 1);
    // Still busy until a pop finds the queue empty.
    EXPECT_EQ(queue.Push(Datagram(1, 3)), TIdDatagramQueue::PushResult::Queued);
    ASSERT_TRUE(queue.Pop(out));
    EXPECT_EQ(out.Data[0], 2);
    ASSERT_TRUE(queue.Pop(out));
    EXPECT_EQ(out.Data[0], 3);
    EXPECT_FALSE(queue.Pop(out));
    EXPECT_EQ(queue.Push(Datagram(1, 4)), TIdDatagramQueue::PushResult::QueuedFirst);
}

TEST(TIdDatagramQueue, FullQueueBlocksThePusherUntilSpaceOrAbort) {
    TIdDatagramQueue queue(1000);
    queue.Push(Datagram(800, 0));  // always accepted into an empty queue
    std::atomic<int> result{-1};
    std::thread pusher([&] { result = static_cast<int>(queue.Push(Datagram(800, 1))); });
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(result, -1);
    TIdDatagram out;
    ASSERT_TRUE(queue.Pop(out));
    pusher.join();
    EXPECT_EQ(result, static_cast<int>(TIdDatagramQueue::PushResult::Queued));

    std::thread blocked([&] { result = static_cast<int>(queue.Push(Datagram(800, 2))); });
    std::this_thread::sleep_for(50ms);
    queue.Abort();
    blocked.join();
    EXPECT_EQ(result, static_cast<int>(TIdDatagramQueue::PushResult::Aborted));
    queue.Reset();
    EXPECT_EQ(queue.Count(), 0u);
    EXPECT_EQ(queue.Push(Datagram(1, 3)), TIdDatagramQueue::PushResult::QueuedFirst);
}
