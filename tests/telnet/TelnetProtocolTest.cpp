#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "telnet/TelnetCodes.h"
#include "telnet/TelnetProtocol.h"

using namespace vandrel::telnet;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Records every call in order, as the owner of the protocol would see it.
class RecordingSink : public ProtocolSink {
public:
    std::vector<std::string> events;
    std::vector<Bytes> sends;
    std::vector<Bytes> deliveries;
    std::function<void()> onSendLoc;
    std::function<void()> onTermType;
    bool terminatorSeen = true;

    void SendToServer(const std::uint8_t* data, std::size_t len) override {
        sends.emplace_back(data, data + len);
        events.push_back("send");
    }
    void DeliverData(const std::uint8_t* data, int len) override {
        deliveries.emplace_back(data, data + len);
        terminatorSeen = terminatorSeen && data[len] == 0;
        events.push_back("data");
    }
    void EndOfRecord() override { events.push_back("eor"); }
    void LocalEchoNegotiated() override { events.push_back("echo"); }
    void SendLocRequested() override {
        events.push_back("sendloc");
        if (onSendLoc) {
            onSendLoc();
        }
    }
    void TermTypeRequested() override {
        events.push_back("termtype");
        if (onTermType) {
            onTermType();
        }
    }

    Bytes allData() const {
        Bytes all;
        for (const Bytes& d : deliveries) {
            all.insert(all.end(), d.begin(), d.end());
        }
        return all;
    }
    Bytes allSent() const {
        Bytes all;
        for (const Bytes& s : sends) {
            all.insert(all.end(), s.begin(), s.end());
        }
        return all;
    }
};

class TelnetProtocolTest : public ::testing::Test {
protected:
    void feed(const Bytes& bytes) { proto.Receive(bytes.data(), bytes.size()); }
    void feed(const std::string& text) {
        proto.Receive(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    }

    RecordingSink sink;
    TelnetProtocol proto{sink};
};

Bytes bytesOf(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

}  // namespace

// Data comes out as one 0-terminated block with only IAC IAC folded: command bytes without
// IAC are data, and there is no NUL stripping after CR and no line-end translation.
TEST_F(TelnetProtocolTest, DataPassesWithOnlyEscapedIacFolded) {
    const struct {
        Bytes in, out;
    } cases[] = {
        {{'a', kIac, kIac, 'b'}, {'a', 255, 'b'}},
        {{244, 245, 246, 247, 248, 240, 250, 251, 254, 239},
         {244, 245, 246, 247, 248, 240, 250, 251, 254, 239}},
        {{'\r', 0, '\n', '\r', '\n', 0, 0x1a, 0x7f, 0x80},
         {'\r', 0, '\n', '\r', '\n', 0, 0x1a, 0x7f, 0x80}},
    };
    for (const auto& c : cases) {
        sink.deliveries.clear();
        feed(c.in);
        ASSERT_EQ(sink.deliveries.size(), 1u);
        EXPECT_EQ(sink.deliveries[0], c.out);
        EXPECT_TRUE(sink.terminatorSeen);
    }
    EXPECT_TRUE(sink.sends.empty());
}

TEST_F(TelnetProtocolTest, UnansweredCommandsAreDroppedWithTheirIac) {
    // NOP, GA, DM, BRK, AYT and the other single-byte commands.
    for (std::uint8_t cmd : {241, 249, 242, 243, 246, 240, 244, 245, 247, 248, 0, 65, 238}) {
        feed(Bytes{'x', kIac, cmd, 'y'});
    }
    EXPECT_TRUE(sink.sends.empty());
    for (const Bytes& d : sink.deliveries) {
        EXPECT_EQ(d, (Bytes{'x', 'y'}));
    }
    EXPECT_EQ(proto.State(), ParserState::Data);
}

TEST_F(TelnetProtocolTest, EndOfRecordFiresInPlace) {
    feed(Bytes{'a', kIac, kEor, 'b'});
    EXPECT_EQ(sink.events, (std::vector<std::string>{"eor", "data"}));
    EXPECT_EQ(sink.deliveries[0], (Bytes{'a', 'b'}));
}

// The expected answer written out independently of the table in the code.
static Bytes expectedReply(std::uint8_t verb, std::uint8_t option) {
    switch (option) {
        case 0:
        case 3:
            return verb == kWill ? Bytes{kIac, kDo, option} : Bytes{};
        case 1:
            return verb == kWill ? Bytes{kIac, kDo, 1} : Bytes{};
        case 23:
            return verb == kDo ? Bytes{kIac, kWill, 23} : Bytes{};
        case 24:
        case 25:
            return verb == kDo ? Bytes{kIac, kWill, option} : Bytes{};
        default:
            return Bytes{kIac, verb == kWill ? kDont : kWont, option};
    }
}

TEST_F(TelnetProtocolTest, EveryOptionAndVerbGetsTheTableReplyEveryTime) {
    for (int option = 0; option < 256; ++option) {
        if (option == kOptSendLocation) {
            continue;  // two messages; covered below
        }
        for (std::uint8_t verb : {kWill, kWont, kDo, kDont}) {
            for (int repeat = 0; repeat < 2; ++repeat) {
                sink.sends.clear();
                feed(Bytes{kIac, verb, static_cast<std::uint8_t>(option)});
                const Bytes want = expectedReply(verb, static_cast<std::uint8_t>(option));
                if (want.empty()) {
                    EXPECT_TRUE(sink.sends.empty()) << "verb " << int(verb) << " opt " << option;
                } else {
                    ASSERT_EQ(sink.sends.size(), 1u) << "verb " << int(verb) << " opt " << option;
                    EXPECT_EQ(sink.sends[0], want) << "verb " << int(verb) << " opt " << option;
                }
            }
        }
    }
    EXPECT_TRUE(sink.deliveries.empty());  // commands only: no delivery
}

TEST_F(TelnetProtocolTest, EchoNegotiationSetsLocalEchoAndNotifies) {
    feed(Bytes{kIac, kWont, kOptEcho});
    EXPECT_TRUE(proto.LocalEcho());
    EXPECT_TRUE(sink.sends.empty());
    EXPECT_EQ(sink.events, (std::vector<std::string>{"echo"}));

    sink.events.clear();
    feed(Bytes{kIac, kWill, kOptEcho});
    EXPECT_FALSE(proto.LocalEcho());
    ASSERT_EQ(sink.sends.size(), 1u);
    EXPECT_EQ(sink.sends[0], (Bytes{255, 253, 1}));
    EXPECT_EQ(sink.events, (std::vector<std::string>{"send", "echo"}));  // reply first

    sink.events.clear();
    proto.SetLocalEcho(true);
    feed(Bytes{kIac, kDo, kOptEcho, kIac, kDont, kOptEcho});
    EXPECT_TRUE(proto.LocalEcho());  // DO/DONT ECHO leave it alone
    EXPECT_EQ(sink.events, (std::vector<std::string>{"echo", "echo"}));
}

TEST_F(TelnetProtocolTest, TerminalTypeRequestIsAnswered) {
    feed(Bytes{kIac, kDo, kOptTerminalType});
    feed(Bytes{kIac, kSb, kOptTerminalType, kSubSend, kIac, kSe});
    ASSERT_EQ(sink.sends.size(), 2u);
    EXPECT_EQ(sink.sends[0], (Bytes{255, 251, 24}));
    EXPECT_EQ(sink.sends[1], (Bytes{255, 250, 24, 0, 86, 84, 49, 48, 48, 255, 240}));
    EXPECT_EQ(sink.events, (std::vector<std::string>{"send", "termtype", "send"}));
}

TEST_F(TelnetProtocolTest, TerminalTypeIsReadAfterTheHookAndSentAsItStands) {
    sink.onTermType = [this] { proto.SetTermType(std::string("A\xff", 2)); };
    feed(Bytes{kIac, kSb, 24, 1, kIac, kSe});
    ASSERT_EQ(sink.sends.size(), 1u);
    EXPECT_EQ(sink.sends[0], (Bytes{255, 250, 24, 0, 'A', 255, 255, 240}));

    sink.onTermType = [this] { proto.SetTermType(""); };
    feed(Bytes{kIac, kSb, 24, 1, 99, kIac, kSe});  // trailing bytes after SEND do not matter
    ASSERT_EQ(sink.sends.size(), 2u);
    EXPECT_EQ(sink.sends[1], (Bytes{255, 250, 24, 0, 255, 240}));
}

TEST_F(TelnetProtocolTest, SendLocationGoesOutInTwoSendsAroundTheHook) {
    feed(Bytes{kIac, kDo, kOptSendLocation});
    ASSERT_EQ(sink.sends.size(), 2u);
    EXPECT_EQ(sink.sends[0], (Bytes{255, 251, 23}));
    EXPECT_EQ(sink.sends[1], (Bytes{255, 250, 23, 84, 78, 67, 78, 88, 255, 240}));
    EXPECT_EQ(sink.events, (std::vector<std::string>{"send", "sendloc", "send"}));

    sink.sends.clear();
    sink.onSendLoc = [this] { proto.SetLocation("Bench 4"); };
    feed(Bytes{kIac, kDo, kOptSendLocation});
    ASSERT_EQ(sink.sends.size(), 2u);
    EXPECT_EQ(sink.sends[1], bytesOf("\xff\xfa\x17"
                                     "Bench 4\xff\xf0"));

    for (std::uint8_t verb : {kWill, kWont, kDont}) {
        sink.sends.clear();
        feed(Bytes{kIac, verb, kOptSendLocation});
        EXPECT_TRUE(sink.sends.empty());
    }
}

TEST_F(TelnetProtocolTest, OtherSubnegotiationsAreIgnored) {
    feed(Bytes{kIac, kSb, 24, 0, 'X', 'Y', kIac, kSe});  // terminal-type IS from the server
    feed(Bytes{kIac, kSb, 31, 0, 80, 0, 24, kIac, kSe});
    feed(Bytes{kIac, kSb, kSe});
    feed(Bytes{kIac, kSb, 24, kIac, kSe});  // one byte before the IAC
    feed(Bytes{kIac, kSb, 24, kSe});        // one byte, no IAC
    EXPECT_TRUE(sink.sends.empty());
    EXPECT_TRUE(sink.deliveries.empty());
    EXPECT_EQ(proto.State(), ParserState::Data);
}

TEST_F(TelnetProtocolTest, SeAloneEndsASubnegotiation) {
    // The SE byte ends it even without IAC; IAC IAC inside stays in the buffer.
    feed(Bytes{kIac, kSb, 24, 1, kSe, 'o', 'k'});
    ASSERT_EQ(sink.sends.size(), 1u);
    EXPECT_EQ(sink.sends[0][2], 24);
    ASSERT_EQ(sink.deliveries.size(), 1u);
    EXPECT_EQ(sink.deliveries[0], (Bytes{'o', 'k'}));

    feed(Bytes{kIac, kSb, 31, kIac, kIac, kWill, kDo, kSe, 'z'});
    EXPECT_EQ(sink.sends.size(), 1u);  // nothing inside was taken as a command
    EXPECT_EQ(sink.deliveries.back(), (Bytes{'z'}));
}

TEST_F(TelnetProtocolTest, CommandsSplitAcrossReadsActAsOnePiece) {
    const Bytes stream{'h', 'i',  kIac, kIac, kIac, kDo,  24,   kIac,  kWill,
                       1,   kIac, kSb,  24,   1,    kIac, kSe,  kIac,  kDo,
                       23,  kIac, kEor, kIac, 241,  '!',  kIac, kWont, 1};
    RecordingSink whole;
    TelnetProtocol wholeProto(whole);
    wholeProto.Receive(stream.data(), stream.size());

    for (std::size_t cut = 1; cut < stream.size(); ++cut) {
        RecordingSink split;
        TelnetProtocol splitProto(split);
        splitProto.Receive(stream.data(), cut);
        splitProto.Receive(stream.data() + cut, stream.size() - cut);
        EXPECT_EQ(split.sends, whole.sends) << "cut at " << cut;
        EXPECT_EQ(split.allData(), whole.allData()) << "cut at " << cut;
        EXPECT_EQ(splitProto.LocalEcho(), wholeProto.LocalEcho()) << "cut at " << cut;
    }
    EXPECT_EQ(whole.allData(), (Bytes{'h', 'i', 255, '!'}));
}

TEST_F(TelnetProtocolTest, OneDeliveryPerBatchAndNoneForCommandsOnly) {
    feed(Bytes{kIac, kDo, 24, kIac, kWill, 3, kIac, 241});
    EXPECT_TRUE(sink.deliveries.empty());

    feed(Bytes(2048, 'a'));
    ASSERT_EQ(sink.deliveries.size(), 1u);
    EXPECT_EQ(sink.deliveries[0].size(), 2048u);

    // Larger batches are cut at the buffer's 2049 bytes; nothing is lost.
    sink.deliveries.clear();
    Bytes big(5000, 'b');
    big[2500] = kIac;
    big[2501] = kIac;
    feed(big);
    ASSERT_EQ(sink.deliveries.size(), 3u);
    EXPECT_EQ(sink.deliveries[0].size(), 2049u);
    EXPECT_EQ(sink.deliveries[1].size(), 2049u);
    EXPECT_EQ(sink.deliveries[2].size(), 901u);
    EXPECT_EQ(sink.allData().size(), 4999u);
    EXPECT_EQ(sink.allData()[2500], 255);
    EXPECT_TRUE(sink.terminatorSeen);
    EXPECT_EQ(proto.BufferedCount(), 0);
}

TEST_F(TelnetProtocolTest, NeverEndedSubnegotiationStaysBounded) {
    feed(Bytes{kIac, kSb, kOptTerminalType, kSubSend});
    const Bytes chunk(64 * 1024, 'x');
    for (int i = 0; i < 64; ++i) {  // 4 MiB without SE
        feed(chunk);
        ASSERT_LE(proto.SubnegotiationSize(), TelnetProtocol::kMaxSubnegotiation);
    }
    EXPECT_TRUE(sink.deliveries.empty());
    // The over-long subnegotiation is ignored even though it began with TERMINAL-TYPE SEND.
    feed(Bytes{kIac, kSe, 'a'});
    EXPECT_TRUE(sink.sends.empty());
    ASSERT_EQ(sink.deliveries.size(), 1u);
    EXPECT_EQ(sink.deliveries[0], (Bytes{'a'}));
    EXPECT_EQ(proto.SubnegotiationSize(), 0u);

    // The next one is handled normally again.
    feed(Bytes{kIac, kSb, 24, 1, kIac, kSe});
    EXPECT_EQ(sink.sends.size(), 1u);
}

TEST_F(TelnetProtocolTest, SubnegotiationUpToTheBoundIsStillHandled) {
    Bytes sub{kIac, kSb, 24, 1};
    sub.resize(2 + TelnetProtocol::kMaxSubnegotiation - 1, 'p');
    sub.push_back(kIac);  // the IAC before SE is the last buffered byte
    sub.push_back(kSe);
    feed(sub);
    EXPECT_EQ(sink.sends.size(), 1u);

    sub.insert(sub.begin() + 4, 'q');  // one byte over
    feed(sub);
    EXPECT_EQ(sink.sends.size(), 1u);
}
