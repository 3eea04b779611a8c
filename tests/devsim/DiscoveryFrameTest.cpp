#include <gtest/gtest.h>

#include "DiscoveryFrame.h"
#include "Options.h"

using namespace vandrel::devsim;

namespace {

const DeviceFields kFields{"VD-100", "VS-1", "198.18.0.11", "02:00:C6:12:00:0B", "not connected"};

std::string frameOf(const std::vector<std::string>& args) {
    ParsedOptions parsed = parseOptions(args);
    EXPECT_EQ(parsed.error, "");
    return buildReply(kFields, parsed.options.shape);
}

}  // namespace

TEST(DiscoveryFrame, WellFormedReplyHasFiveFieldsBetweenStxAndEot) {
    EXPECT_EQ(frameOf({}),
              "\x02VD-100\x1FVS-1\x1F"
              "198.18.0.11\x1F"
              "02:00:C6:12:00:0B\x1Fnot connected\x04");
}

TEST(DiscoveryFrame, FieldCountFaults) {
    std::string four = frameOf({"--fields", "4"});
    EXPECT_EQ(std::count(four.begin(), four.end(), '\x1F'), 3);
    EXPECT_EQ(four.find("not connected"), std::string::npos);
    EXPECT_EQ(four.back(), '\x04');

    std::string six = frameOf({"--fields=6"});
    EXPECT_EQ(std::count(six.begin(), six.end(), '\x1F'), 5);
    EXPECT_TRUE(
        six.ends_with("not connected\x1F"
                      "extra\x04"));
}

TEST(DiscoveryFrame, MarkerFaultsKeepTheLength) {
    std::string good = frameOf({});
    std::string badEnd = frameOf({"--bad-end"});
    std::string badStart = frameOf({"--bad-start"});
    ASSERT_EQ(badEnd.size(), good.size());
    EXPECT_EQ(badEnd.front(), '\x02');
    EXPECT_NE(badEnd.back(), '\x04');
    EXPECT_NE(badStart.front(), '\x02');
    EXPECT_EQ(badStart.back(), '\x04');
}

TEST(DiscoveryFrame, SizeFaultsHitTheLimitExactly) {
    std::string exact = frameOf({"--exact-2048"});
    ASSERT_EQ(exact.size(), 2048u);
    EXPECT_EQ(exact.front(), '\x02');
    EXPECT_EQ(exact.back(), '\x04');
    EXPECT_TRUE(exact.ends_with("\x1Fnot connected\x04")) << "padding must keep every field";
    EXPECT_EQ(exact.find("\x02VD-100\x1FVS-1XXX"), 0u);

    std::string over = frameOf({"--oversize"});
    EXPECT_EQ(over.size(), 2049u);
    EXPECT_EQ(over.back(), '\x04');

    // Faults combine: a 2048-byte frame whose end marker is wrong.
    std::string both = frameOf({"--exact-2048", "--bad-end", "--fields", "6"});
    EXPECT_EQ(both.size(), 2048u);
    EXPECT_NE(both.back(), '\x04');
}

TEST(DiscoveryFrame, PaddingNeverShrinksALongFrame) {
    DeviceFields longFields = kFields;
    longFields.device = std::string(3000, 'D');
    FrameShape shape;
    shape.padTo = 2048;
    EXPECT_EQ(buildReply(longFields, shape).size(), 3000u + buildReply(kFields, {}).size() - 6);
}

TEST(DiscoveryFrame, RawReplyIsSentAsGiven) {
    EXPECT_EQ(frameOf({"--raw-reply", "0204"}), std::string("\x02\x04"));
    EXPECT_EQ(frameOf({"--raw-reply", "02"}), std::string("\x02"));
    EXPECT_EQ(frameOf({"--raw-reply", "00ff"}), std::string("\x00\xff", 2));
    EXPECT_NE(parseOptions({"--raw-reply", "0g"}).error, "");
    EXPECT_NE(parseOptions({"--raw-reply", "020"}).error, "");
}

TEST(DiscoveryFrame, FieldsMayHoldAnyByte) {
    DeviceFields odd = kFields;
    odd.device = std::string("a\x02z\x04", 4);
    std::string frame = buildReply(odd, {});
    EXPECT_EQ(frame.substr(1, 4), odd.device);
    EXPECT_EQ(frame.back(), '\x04');
}

TEST(DiscoveryFrame, MacFollowsTheAddress) {
    EXPECT_EQ(macForAddress(0xC612000B), "02:00:C6:12:00:0B");
    EXPECT_EQ(macForAddress(0x7F000001), "02:00:7F:00:00:01");
}
