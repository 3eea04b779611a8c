#include <gtest/gtest.h>

#include "TelnetReader.h"

using namespace vandrel::devsim;
using Kind = TelnetEvent::Kind;
using namespace std::string_literals;

namespace {

std::vector<TelnetEvent> parse(TelnetReader& reader, const std::string& bytes) {
    std::vector<TelnetEvent> events;
    reader.feed(bytes.data(), bytes.size(), events);
    return events;
}

std::vector<TelnetEvent> parse(const std::string& bytes) {
    TelnetReader reader;
    return parse(reader, bytes);
}

}  // namespace

TEST(TelnetReader, DataAndEscapedIac) {
    auto events = parse(
        "ab\xFF\xFF"
        "c\r\n");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, Kind::Data);
    EXPECT_EQ(events[0].data,
              "ab\xFF"
              "c\r\n");
}

TEST(TelnetReader, OptionRepliesOfTheSystemsClient) {
    // WILL TERMINAL-TYPE, DO ECHO, the location subnegotiation (no IS byte) and the
    // terminal-type IS, exactly as the system's client sends them.
    auto events = parse(
        "\xFF\xFB\x18\xFF\xFD\x01\xFF\xFA\x17TNCNX\xFF\xF0\xFF\xFA\x18\x00VT100\xFF\xF0"
        "#"s);
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[0].kind, Kind::Option);
    EXPECT_EQ(events[0].verb, TelnetCode::WILL);
    EXPECT_EQ(events[0].option, TelnetCode::TTYPE);
    EXPECT_EQ(events[1].verb, TelnetCode::DO);
    EXPECT_EQ(events[1].option, TelnetCode::ECHO);
    EXPECT_EQ(events[2].kind, Kind::Subnegotiation);
    EXPECT_EQ(events[2].data, "\x17TNCNX");
    EXPECT_EQ(events[3].data, std::string("\x18\x00VT100", 7));
    EXPECT_EQ(events[4].data, "#");
}

TEST(TelnetReader, SequencesSplitAcrossReadsAreJoined) {
    const std::string whole = "x\xFF\xFD\x01\xFF\xFA\x18\x00VT\xFF\xFF\xFF\xF0y"s;
    for (std::size_t cut = 1; cut < whole.size(); ++cut) {
        TelnetReader reader;
        auto events = parse(reader, whole.substr(0, cut));
        auto rest = parse(reader, whole.substr(cut));
        events.insert(events.end(), rest.begin(), rest.end());
        std::string data;
        int options = 0;
        std::string sub;
        for (const auto& e : events) {
            if (e.kind == Kind::Data) {
                data += e.data;
            } else if (e.kind == Kind::Option) {
                ++options;
            } else if (e.kind == Kind::Subnegotiation) {
                sub = e.data;
            }
        }
        EXPECT_EQ(data, "xy") << "cut at " << cut;
        EXPECT_EQ(options, 1) << "cut at " << cut;
        EXPECT_EQ(sub, std::string("\x18\x00VT\xFF", 5)) << "cut at " << cut;
    }
}

TEST(TelnetReader, OtherCommandsAreReportedNotShown) {
    auto events = parse(
        "a\xFF\xF4"
        "b\xFF\xF1");
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[1].kind, Kind::Command);
    EXPECT_EQ(events[1].verb, TelnetCode::IP);
    EXPECT_EQ(events[2].data, "b");
    EXPECT_EQ(events[3].verb, 0xF1);
}

TEST(TelnetReader, BrokenInputNeitherThrowsNorLosesSync) {
    // A subnegotiation that never ends is capped, and SE still closes it.
    TelnetReader reader;
    std::string flood = "\xFF\xFA\x18" + std::string(100000, 'x');
    EXPECT_TRUE(parse(reader, flood).empty());
    auto events = parse(reader, "\xFF\xF0ok");
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].data.size(), TelnetReader::kMaxSubnegotiation);
    EXPECT_EQ(events[1].data, "ok");

    // IAC followed by a stray byte inside a subnegotiation keeps both as payload.
    events = parse(
        "\xFF\xFA\x17"
        "a\xFF"
        "b\xFF\xF0z");
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].data,
              "\x17"
              "a\xFF"
              "b");
    EXPECT_EQ(events[1].data, "z");

    // SE without SB is just a command.
    events = parse("\xFF\xF0q");
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, Kind::Command);
}
