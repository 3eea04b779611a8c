#include "net/WSocketResolve.h"
#include "support/RaisedText.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <random>

#include "net/ESocketException.h"
#include "net/RemoteEndpoint.h"

using namespace vandrel::net;
using namespace vandrel::test;

namespace {

TEST(LeadingNumber, DigitsAfterBlanks) {
    EXPECT_EQ(LeadingNumber("23"), 23);
    EXPECT_EQ(LeadingNumber("   80abc"), 80);
    EXPECT_EQ(LeadingNumber("23abc45"), 23);
    EXPECT_EQ(LeadingNumber(""), 0);
    EXPECT_EQ(LeadingNumber("   "), 0);
    EXPECT_EQ(LeadingNumber("-5"), 0);
    EXPECT_EQ(LeadingNumber("\t5"), 0);  // only code 32 counts as blank
}

TEST(LeadingNumber, HugeNumbersWrapInsteadOfCrashing) {
    // 2^32 + 23 wraps to 23 in 32 bits.
    EXPECT_EQ(LeadingNumber("4294967319"), 23);
    (void)LeadingNumber(std::string(500, '9'));
}

TEST(IsDottedAddress, Accepted) {
    EXPECT_TRUE(IsDottedAddress("10.0.0.1"));
    EXPECT_TRUE(IsDottedAddress("010.0.0.1"));
    EXPECT_TRUE(IsDottedAddress("  10.0.0.1  "));
    EXPECT_TRUE(IsDottedAddress("255.255.255.255"));
    EXPECT_TRUE(IsDottedAddress("0.0.0.0"));
}

TEST(IsDottedAddress, Rejected) {
    for (const char* s :
         {"10.0.0", "10.0.0.256", ".10.0.0.1", "10..0.1", "10.0.0.1x", "300.1.1.1", "10.0.0.1.",
          "10.0.0.1.5", "", "   ", "host.example", "1.2.3.4 x", "99999999999999999999.1.1.1"}) {
        EXPECT_FALSE(IsDottedAddress(s)) << s;
    }
}

TEST(ResolveHost, DottedAndBroadcast) {
    EXPECT_EQ(ResolveHost("127.0.0.1"), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(ResolveHost(" 127.0.0.1 "), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(ResolveHost("255.255.255.255"), 0xFFFFFFFFu);
}

TEST(ResolveHost, NameFromHostsFile) {
    EXPECT_EQ(ResolveHost("localhost"), htonl(INADDR_LOOPBACK));
}

TEST(ResolveHost, InvalidInputs) {
    EXPECT_EQ(raisedText<ESocketException>([] { ResolveHost(""); }),
              "Winsock Resolve Host: '' Invalid Hostname.");
    const std::string longName(257, 'a');
    EXPECT_EQ(raisedText<ESocketException>([&] { ResolveHost(longName); }),
              "Winsock Resolve Host: '" + longName + "' Invalid Hostname.");
    // A dotted address the conversion rejects (9 is no octal digit).
    EXPECT_EQ(raisedText<ESocketException>([] { ResolveHost("09.1.1.1"); }),
              "Winsock Resolve Host: '09.1.1.1' Invalid IP address.");
}

TEST(ResolvePort, NumbersAndServices) {
    EXPECT_EQ(ResolvePort("23", "tcp"), 23);
    EXPECT_EQ(ResolvePort("23abc", "tcp"), 23);
    EXPECT_EQ(ResolvePort("65559", "tcp"), 65559);  // the caller keeps the low 16 bits
    EXPECT_EQ(ResolvePort("telnet", "tcp"), 23);
    EXPECT_EQ(ResolvePort(" telnet ", " tcp "), 23);
}

TEST(ResolvePort, InvalidInputs) {
    EXPECT_EQ(raisedText<ESocketException>([] { ResolvePort("", "tcp"); }),
              "Winsock Resolve Port: Invalid Port.");
    EXPECT_EQ(raisedText<ESocketException>([] { ResolvePort(std::string(32, '1'), "tcp"); }),
              "Winsock Resolve Port: Invalid Port.");
    EXPECT_EQ(raisedText<ESocketException>([] { ResolvePort("23", ""); }),
              "Winsock Resolve Port: Invalid Proto.");
    EXPECT_EQ(raisedText<ESocketException>([] { ResolvePort("23", std::string(32, 't')); }),
              "Winsock Resolve Port: Invalid Proto.");
    const std::string text =
        raisedText<ESocketException>([] { ResolvePort("nosuchservice", "tcp"); });
    EXPECT_EQ(text.rfind("Winsock Resolve Port: Cannot convert port 'nosuchservice' - ", 0), 0u)
        << text;
}

TEST(ResolveProto, NamesAndNumbers) {
    EXPECT_EQ(ResolveProto("tcp"), 6);
    EXPECT_EQ(ResolveProto(" UDP "), 17);
    EXPECT_EQ(ResolveProto("Raw"), 255);
    EXPECT_EQ(ResolveProto("17"), 17);
    EXPECT_EQ(ResolveProto("icmp"), 1);  // from the protocol database
}

TEST(ResolveProto, InvalidInputs) {
    EXPECT_EQ(raisedText<ESocketException>([] { ResolveProto(""); }),
              "Winsock Resolve Proto: Invalid Protocol.");
    EXPECT_EQ(raisedText<ESocketException>([] { ResolveProto(std::string(32, 'x')); }),
              "Winsock Resolve Proto: Invalid Protocol.");
    const std::string text = raisedText<ESocketException>([] { ResolveProto("NoSuchProto"); });
    EXPECT_EQ(text.rfind("Winsock Resolve Proto: Cannot convert protocol 'nosuchproto' - ", 0), 0u)
        << text;
}

}  // namespace

namespace {

// Random texts made of the characters that matter to the address parser.
TEST(IsDottedAddress, AgreesWithTheStrictParserOnRandomInput) {
    std::mt19937 rng(12345);
    const std::string alphabet = "0123456789. x";
    int dotted = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string s(rng() % 20, ' ');
        for (char& c : s) {
            c = alphabet[rng() % alphabet.size()];
        }
        (void)LeadingNumber(s);
        if (!IsDottedAddress(s)) {
            continue;
        }
        ++dotted;
        // The parser's notion of dotted must never crash the conversion; where
        // the text is plain decimal the result matches the strict parser.
        std::uint32_t addr = 0;
        try {
            addr = ResolveHost(s);
        } catch (const ESocketException&) {
            continue;  // octal-looking parts the conversion refuses
        }
        const std::string t = TrimText(s);
        in_addr strict{};
        const bool leadingZero = t.find(".0") != std::string::npos || t[0] == '0';
        if (!leadingZero && inet_pton(AF_INET, t.c_str(), &strict) == 1) {
            EXPECT_EQ(addr, strict.s_addr) << s;
        }
    }
    EXPECT_GT(dotted, 0);
}

// Assigning the text already assigned changes nothing, so a resolved value stays; any other
// text is trimmed and unresolved, and an empty one leaves the end unassigned.
TEST(RemoteEndpoint, AssignmentRules) {
    RemoteEndpoint e;
    e.AssignPort(" 23 ");
    e.ResolvePort();
    EXPECT_EQ(e.port, "23");
    EXPECT_FALSE(e.KeepsPort(" 23 "));
    EXPECT_TRUE(e.KeepsPort("23"));
    e.AssignPort("");
    EXPECT_FALSE(e.portAssigned);
    EXPECT_FALSE(e.portResolved);
    EXPECT_FALSE(e.KeepsAddr(""));
    EXPECT_TRUE(e.KeepsProto("tcp"));  // assigned from the start
}

TEST(RemoteEndpoint, ProtocolGivesTheSocketType) {
    const struct {
        const char* proto;
        bool listen;
        int type;
        int number;
    } cases[] = {
        {"tcp", false, SOCK_STREAM, 6}, {"udp", false, SOCK_DGRAM, 17},
        {"icmp", false, SOCK_RAW, 1},   {"udp", true, SOCK_DGRAM, 17},
        {"icmp", true, SOCK_STREAM, 1}, {"RAW_icmp", true, SOCK_RAW, 1},
        {"raw_17", true, SOCK_RAW, 17},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.proto) + (c.listen ? " listen" : " connect"));
        RemoteEndpoint e;
        e.AssignProto(c.proto);
        c.listen ? e.ResolveProtoForListen() : e.ResolveProtoForConnect();
        EXPECT_EQ(e.socketType, c.type);
        EXPECT_EQ(e.protoNum, c.number);
    }
}

// The port wraps at 65536 and lands in the socket address in network order; after a close
// the texts stay readable but must be assigned again.
TEST(RemoteEndpoint, ResolvedPortAndClose) {
    RemoteEndpoint e;
    e.AssignAddr("127.0.0.1");
    e.AssignPort("65559");
    e.AssignProto("udp");
    e.ResolvePort();
    e.ResolveAddr();
    EXPECT_EQ(e.portNum, 23);
    EXPECT_EQ(e.sin.sin_port, htons(23));
    EXPECT_EQ(e.sin.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    const RemoteEndpoint closed = e.AfterClose();
    EXPECT_EQ(closed.addr, "127.0.0.1");
    EXPECT_EQ(closed.port, "65559");
    EXPECT_FALSE(closed.KeepsAddr("127.0.0.1"));
    EXPECT_FALSE(closed.KeepsPort("65559"));
    EXPECT_TRUE(closed.KeepsProto("tcp"));
    EXPECT_FALSE(closed.portResolved || closed.addrResolved || closed.protoResolved);
    EXPECT_EQ(closed.sin.sin_port, 0);
}

}  // namespace
