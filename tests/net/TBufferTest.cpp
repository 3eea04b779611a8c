#include "net/TBuffer.h"

#include <gtest/gtest.h>

#include <string>

using namespace vandrel::net;

namespace {

std::string unread(const TBuffer& b) {
    int len = 0;
    const std::uint8_t* p = b.Peek(len);
    return p ? std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(len))
             : std::string();
}

TEST(TBuffer, NonPositiveSizeGivesDefault) {
    EXPECT_EQ(TBuffer(0).Size(), 1514);
    EXPECT_EQ(TBuffer(-7).Size(), 1514);
    EXPECT_EQ(TBuffer(1460).Size(), 1460);
}

TEST(TBuffer, WriteStopsAtCapacity) {
    TBuffer b(8);
    EXPECT_EQ(b.Write("abcdef", 6), 6);
    EXPECT_EQ(b.Write("ghijkl", 6), 2);
    EXPECT_EQ(b.Write("x", 1), 0);
    EXPECT_EQ(unread(b), "abcdefgh");
    EXPECT_EQ(b.Write(nullptr, 3), 0);
    EXPECT_EQ(b.Write("x", -1), 0);
}

TEST(TBuffer, PartialRemoveKeepsWritePosition) {
    TBuffer b(8);
    b.Write("abcdef", 6);
    EXPECT_EQ(b.Remove(4), 4);
    EXPECT_EQ(unread(b), "ef");
    // The space in front of the read position is not reused yet.
    EXPECT_EQ(b.Write("XYZ", 3), 2);
    EXPECT_EQ(unread(b), "efXY");
    EXPECT_EQ(b.ReadPos(), 4);
    EXPECT_EQ(b.WritePos(), 8);
}

TEST(TBuffer, DrainingResetsBothPositions) {
    TBuffer b(8);
    b.Write("abcdef", 6);
    b.Remove(2);
    EXPECT_EQ(b.Remove(100), 4);
    EXPECT_EQ(b.ReadPos(), 0);
    EXPECT_EQ(b.WritePos(), 0);
    EXPECT_EQ(b.Write("12345678", 8), 8);  // the whole size is writable again
    EXPECT_EQ(b.Remove(0), 0);
    EXPECT_EQ(b.Remove(-3), 0);
}

TEST(TBuffer, PeekAndRemoveOnEmpty) {
    TBuffer b(8);
    int len = 99;
    EXPECT_EQ(b.Peek(len), nullptr);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(b.Remove(5), 0);
}

TEST(TBuffer, SetSizeKeepsUnreadBytes) {
    TBuffer b(8);
    b.Write("abcdef", 6);
    b.Remove(2);
    const std::uint8_t* before = nullptr;
    int len = 0;
    before = b.Peek(len);
    b.SetSize(8);  // same size: untouched
    EXPECT_EQ(b.Peek(len), before);
    b.SetSize(32);
    EXPECT_EQ(b.Size(), 32);
    EXPECT_EQ(unread(b), "cdef");
    EXPECT_EQ(b.ReadPos(), 2);
    EXPECT_EQ(b.WritePos(), 6);
    EXPECT_EQ(b.Write("0123456789", 10), 10);
    EXPECT_EQ(unread(b), "cdef0123456789");
}

}  // namespace
