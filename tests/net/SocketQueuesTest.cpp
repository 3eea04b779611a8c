// The socket's send queue and read-ahead as plain byte containers, without sockets.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include "net/ReadAhead.h"
#include "net/SendQueue.h"

using namespace vandrel::net;

namespace {

std::string pattern(std::size_t n, std::size_t from = 0) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        s[i] = static_cast<char>((from + i) * 7 % 251);
    }
    return s;
}

std::string gathered(const iovec* iov, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) {
        s.append(static_cast<const char*>(iov[i].iov_base), iov[i].iov_len);
    }
    return s;
}

std::vector<int> blockFill(const SendQueue& q) {
    std::vector<int> fill;
    for (std::size_t i = 0; i < q.BlockCount(); ++i) {
        int len = 0;
        q.Block(i).Peek(len);
        fill.push_back(len);
    }
    return fill;
}

}  // namespace

TEST(SendQueue, AppendFillsTheLastBlockThenNewOnes) {
    struct Case {
        std::vector<int> appends;
        std::vector<int> fill;
    };
    const Case cases[] = {
        {{4000}, {1460, 1460, 1080}},
        {{5000}, {1460, 1460, 1460, 620}},
        {{1000, 1000}, {1460, 540}},
        {{1460, 1}, {1460, 1}},
        {{0, -5}, {}},
    };
    for (const Case& c : cases) {
        SendQueue q(1460);
        std::size_t total = 0;
        for (int n : c.appends) {
            const std::string bytes = pattern(static_cast<std::size_t>(std::max(n, 0)));
            q.Append(bytes.data(), n);
            total += static_cast<std::size_t>(std::max(n, 0));
        }
        EXPECT_EQ(blockFill(q), c.fill) << c.appends.front();
        EXPECT_EQ(q.Size(), total);
    }
    SendQueue q(1460);
    q.Append(nullptr, 10);
    EXPECT_TRUE(q.Empty());
}

TEST(SendQueue, GatherAndConsumeWalkTheBlocksInOrder) {
    SendQueue q(1460);
    const std::string data = pattern(5000);
    q.Append(data.data(), 5000);
    iovec iov[8];
    ASSERT_EQ(q.Gather(iov, 2), 2);
    EXPECT_EQ(gathered(iov, 2), data.substr(0, 2920));
    ASSERT_EQ(q.Gather(iov, 8), 4);
    EXPECT_EQ(gathered(iov, 4), data);

    EXPECT_EQ(q.Consume(1500), 1500u);  // across the first block boundary
    EXPECT_EQ(q.BlockCount(), 3u);
    EXPECT_EQ(gathered(iov, q.Gather(iov, 8)), data.substr(1500));

    // Bytes appended after a partial consume go behind the unread ones.
    const std::string more = pattern(100, 5000);
    q.Append(more.data(), 100);
    EXPECT_EQ(gathered(iov, q.Gather(iov, 8)), data.substr(1500) + more);

    EXPECT_EQ(q.Consume(1 << 20), 3600u);  // only what is there
    EXPECT_TRUE(q.Empty());
    EXPECT_EQ(q.Gather(iov, 8), 0);
    EXPECT_EQ(q.BlockCount(), 1u);  // the last block stays and is written from its start
    q.Append("ab", 2);
    EXPECT_EQ(q.Block(0).WritePos(), 2);
}

TEST(SendQueue, ClearDropsEverythingAndTellsGatherers) {
    SendQueue q(1460);
    q.Append(pattern(3000).data(), 3000);
    const unsigned before = q.Generation();
    q.Clear();
    EXPECT_NE(q.Generation(), before);
    EXPECT_EQ(q.Size(), 0u);
    EXPECT_EQ(q.BlockCount(), 0u);
    q.Append("x", 1);
    EXPECT_EQ(q.Size(), 1u);
}

// Random appends, gathers and consumes against a plain byte deque: every byte leaves once,
// in order, also while drained blocks are reused.
TEST(SendQueue, KeepsTheByteStreamUnderRandomUse) {
    std::mt19937 rng(7);
    SendQueue q(1460);
    std::deque<char> model;
    std::size_t written = 0;
    for (int step = 0; step < 4000; ++step) {
        if (rng() % 2 == 0) {
            const int n = static_cast<int>(rng() % 4000);
            const std::string bytes = pattern(static_cast<std::size_t>(n), written);
            q.Append(bytes.data(), n);
            model.insert(model.end(), bytes.begin(), bytes.end());
            written += bytes.size();
        } else {
            iovec iov[4];
            const std::string front = gathered(iov, q.Gather(iov, 4));
            ASSERT_EQ(front, std::string(model.begin(), model.begin() + front.size()));
            const std::size_t n = rng() % (front.size() + 1);
            ASSERT_EQ(q.Consume(n), n);
            model.erase(model.begin(), model.begin() + static_cast<long>(n));
        }
        ASSERT_EQ(q.Size(), model.size());
    }
}

TEST(ReadAhead, ReceivesIntoItsSpaceAndReadsFromTheFront) {
    ReadAhead r;
    iovec iov[1];
    EXPECT_EQ(r.Gather(iov, 1), 0);
    std::uint8_t* space = r.Space(16);
    std::memcpy(space, "hello, world", 12);
    r.Commit(12);
    char buf[8] = {};
    EXPECT_EQ(r.Read(buf, 5), 5);
    EXPECT_EQ(std::string(buf, 5), "hello");
    EXPECT_EQ(r.Read(nullptr, 5), 0);  // nothing consumed without a buffer
    EXPECT_EQ(r.Read(buf, -1), 0);
    ASSERT_EQ(r.Gather(iov, 1), 1);
    EXPECT_EQ(gathered(iov, 1), ", world");
    EXPECT_EQ(r.Consume(100), 7);
    EXPECT_TRUE(r.Empty());
    r.Space(4);
    r.Commit(1000);  // no more than the space it gave
    EXPECT_LE(r.Size(), 4 + 16);
}

TEST(ReadAhead, KeepsTheByteStreamUnderRandomUse) {
    std::mt19937 rng(11);
    ReadAhead r;
    std::string model;
    std::size_t written = 0;
    for (int step = 0; step < 4000; ++step) {
        const unsigned op = rng() % 4;
        const int n = static_cast<int>(rng() % 3000);
        const std::string bytes = pattern(static_cast<std::size_t>(n), written);
        written += bytes.size();
        if (op == 0) {
            r.Append(bytes.data(), n);
            model += bytes;
        } else if (op == 1) {
            std::memcpy(r.Space(n + 10), bytes.data(), bytes.size());
            r.Commit(n);
            model += bytes;
        } else if (op == 2) {
            std::string out(bytes.size(), '\0');
            const auto got = static_cast<std::size_t>(r.Read(out.data(), n));
            ASSERT_EQ(out.substr(0, got), model.substr(0, got));
            model.erase(0, got);
        } else {  // bytes taken out and put back in front
            r.Prepend(bytes.data(), n);
            model.insert(0, bytes);
            const std::size_t head = std::min<std::size_t>(model.size(), 4096);
            ASSERT_EQ(std::string(reinterpret_cast<const char*>(r.Data()), head),
                      model.substr(0, head));
        }
        ASSERT_EQ(r.Size(), static_cast<int>(model.size()));
    }
}
