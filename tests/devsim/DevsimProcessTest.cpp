// The simulator as a process on loopback, checked by small raw clients.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "support/DevsimProcess.h"
#include "support/LoopbackListener.h"
#include "support/Subprocess.h"
#include "support/TestSockets.h"

using namespace vandrel::test;
using namespace std::chrono_literals;
using namespace std::string_literals;

namespace {

const std::string kScript = "\xFF\xFD\x18\xFF\xFB\x01\xFF\xFB\x03\xFF\xFD\x17";
const std::string kAskTermType = "\xFF\xFA\x18\x01\xFF\xF0";
// What the system's telnet client answers to the default option requests.
const std::string kClientReplies =
    std::string("\xFF\xFB\x18\xFF\xFD\x01\xFF\xFD\x03\xFF\xFB\x17") + "\xFF\xFA\x17TNCNX\xFF\xF0";
const std::string kTermTypeIs = std::string("\xFF\xFA\x18\x00VT100\xFF\xF0", 11);

std::vector<std::string> split(const std::string& frame) {
    std::vector<std::string> fields;
    std::string body = frame.substr(1, frame.size() - 2);
    std::size_t start = 0;
    for (std::size_t sep; (sep = body.find('\x1F', start)) != std::string::npos; start = sep + 1) {
        fields.push_back(body.substr(start, sep - start));
    }
    fields.push_back(body.substr(start));
    return fields;
}

std::vector<Datagram> ask(const DevsimProcess& device, const std::string& request = "\x05",
                          milliseconds quiet = 300ms) {
    UdpProbe probe;
    EXPECT_TRUE(probe.sendTo("127.0.0.1", device.discoveryPort(), request));
    return probe.receiveAll(quiet, 3s);
}

std::string oneReply(const std::vector<std::string>& args) {
    DevsimProcess device(args);
    EXPECT_TRUE(device.ready()) << device.error();
    auto replies = ask(device);
    EXPECT_EQ(replies.size(), 1u);
    return replies.empty() ? std::string() : replies[0].bytes;
}

// Connects and negotiates like the system's client; returns once the banner is there.
void openSession(TcpClient& client, const DevsimProcess& device) {
    ASSERT_EQ(client.connectTo("127.0.0.1", device.telnetPort(), 2s), 0);
    ASSERT_TRUE(client.readUntil(kScript, 2s));
    client.send(kClientReplies);
    ASSERT_TRUE(client.readUntil(kAskTermType, 2s));
    client.send(kTermTypeIs);
    ASSERT_TRUE(client.readUntil("\r\n> ", 2s)) << client.received();
    client.clearReceived();
}

}  // namespace

TEST(DevsimDiscovery, AnswersTheSenderWithTheArrivalAddress) {
    DevsimProcess device;
    ASSERT_TRUE(device.ready()) << device.error();
    UdpProbe probe;
    ASSERT_TRUE(probe.sendTo("127.0.0.1", device.discoveryPort(), "\x05"));
    auto replies = probe.receiveAll(300ms, 3s);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].from, "127.0.0.1");
    EXPECT_EQ(replies[0].port, device.discoveryPort());
    auto fields = split(replies[0].bytes);
    ASSERT_EQ(fields.size(), 5u);
    EXPECT_EQ(fields[0], "VD-100");
    EXPECT_EQ(fields[2], "127.0.0.1");
    EXPECT_EQ(fields[3], "02:00:7F:00:00:01");
    EXPECT_EQ(fields[4], "not connected");
    EXPECT_EQ(replies[0].bytes.front(), '\x02');
    EXPECT_EQ(replies[0].bytes.back(), '\x04');
}

TEST(DevsimDiscovery, FaultOptionsShapeTheReply) {
    EXPECT_EQ(oneReply({"--bad-end"}).back(), '\x03');
    EXPECT_EQ(oneReply({"--bad-start"}).front(), '\x01');
    EXPECT_EQ(oneReply({"--oversize"}).size(), 2049u) << "must arrive whole, not truncated";
    EXPECT_EQ(oneReply({"--exact-2048"}).size(), 2048u);
    EXPECT_EQ(split(oneReply({"--fields", "4"})).size(), 4u);
    EXPECT_EQ(split(oneReply({"--fields", "6"})).size(), 6u);
    EXPECT_EQ(split(oneReply({"--status", " not connected"}))[4], " not connected");
    EXPECT_EQ(oneReply({"--raw-reply", "02"}), "\x02");
    EXPECT_EQ(oneReply({"--raw-reply", ""}), "") << "one empty datagram";
    auto custom = split(
        oneReply({"--device", "Pump 7", "--serial", "", "--ip", "10.0.0.9", "--mac", "aa-bb"}));
    EXPECT_EQ(custom,
              (std::vector<std::string>{"Pump 7", "", "10.0.0.9", "aa-bb", "not connected"}));
}

TEST(DevsimDiscovery, ReplyCountAndDelay) {
    DevsimProcess twice({"--reply-count", "3"});
    ASSERT_TRUE(twice.ready()) << twice.error();
    EXPECT_EQ(ask(twice).size(), 3u);
    EXPECT_EQ(ask(twice).size(), 3u) << "every request is answered again";

    // Many devices: each its own address, MAC, serial and name, spread over about a second.
    DevsimProcess site({"--devices", "50", "--ip", "10.0.0.250", "--device", "D"});
    ASSERT_TRUE(site.ready()) << site.error();
    const auto asked = std::chrono::steady_clock::now();
    const auto many = ask(site, "\x05", 1500ms);
    ASSERT_EQ(many.size(), 50u);
    EXPECT_GE(std::chrono::steady_clock::now() - asked, 900ms);
    std::set<std::string> names;
    for (std::size_t k = 0; k < many.size(); ++k) {
        const auto fields = split(many[k].bytes);
        names.insert(fields[0]);
        EXPECT_EQ(fields[1], "VS-000001-" + std::to_string(k));
        EXPECT_EQ(fields[2],
                  k < 6 ? "10.0.0." + std::to_string(250 + k) : "10.0.1." + std::to_string(k - 6));
    }
    EXPECT_EQ(names.size(), 50u);
    EXPECT_EQ(split(many[7].bytes)[3], "02:00:0A:00:01:01");

    DevsimProcess silent({"--reply-count", "0"});
    ASSERT_TRUE(silent.ready()) << silent.error();
    EXPECT_TRUE(ask(silent).empty());

    DevsimProcess slow({"--delay", "400"});
    ASSERT_TRUE(slow.ready()) << slow.error();
    auto start = std::chrono::steady_clock::now();
    auto replies = ask(slow, "\x05", 1500ms);
    auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_GE(elapsed, 400ms);
}

TEST(DevsimDiscovery, GarbageIsIgnoredAndNeverStopsTheResponder) {
    DevsimProcess device;
    ASSERT_TRUE(device.ready()) << device.error();
    std::mt19937 random(7);
    std::string noise(3000, '\0');
    for (char& c : noise) {
        c = static_cast<char>(random());
    }
    UdpProbe probe;
    for (const std::string& junk : {std::string(), std::string("\x05\x05"), std::string("\x02\x04"),
                                    std::string("\x06"), noise, std::string(65000, '\x05')}) {
        probe.sendTo("127.0.0.1", device.discoveryPort(), junk);
    }
    EXPECT_TRUE(probe.receiveAll(300ms, 1s).empty());
    EXPECT_EQ(ask(device).size(), 1u);
}

TEST(DevsimDiscovery, ConcurrentAskersEachGetTheirReply) {
    DevsimProcess device;
    ASSERT_TRUE(device.ready()) << device.error();
    UdpProbe a, b;
    a.sendTo("127.0.0.1", device.discoveryPort(), "\x05");
    b.sendTo("127.0.0.1", device.discoveryPort(), "\x05");
    EXPECT_EQ(a.receiveAll(300ms, 2s).size(), 1u);
    EXPECT_EQ(b.receiveAll(300ms, 2s).size(), 1u);
}

TEST(DevsimTelnet, NegotiatesAndShowsWhatItLearned) {
    DevsimProcess device;
    ASSERT_TRUE(device.ready()) << device.error();
    TcpClient client;
    ASSERT_EQ(client.connectTo("127.0.0.1", device.telnetPort(), 2s), 0);
    ASSERT_TRUE(client.readUntil(kScript, 2s));
    EXPECT_EQ(client.received(), kScript) << "the option script comes first, alone";
    client.clearReceived();
    client.send(kClientReplies);
    ASSERT_TRUE(client.readUntil(kAskTermType, 2s)) << client.received();
    EXPECT_EQ(client.received(), kAskTermType) << "acknowledgements get no reply";
    client.send(kTermTypeIs);
    ASSERT_TRUE(client.readUntil("> ", 2s));
    EXPECT_NE(client.received().find("Terminal type: VT100\r\n"), std::string::npos);
    EXPECT_NE(client.received().find("Location: TNCNX\r\n"), std::string::npos);
}

TEST(DevsimTelnet, BannerComesAnywayWhenTheClientNeverNegotiates) {
    DevsimProcess device;
    ASSERT_TRUE(device.ready()) << device.error();
    TcpClient client;
    ASSERT_EQ(client.connectTo("127.0.0.1", device.telnetPort(), 2s), 0);
    ASSERT_TRUE(client.readUntil("> ", 3s));
    EXPECT_NE(client.received().find("Terminal type: (not reported)"), std::string::npos);
}

TEST(DevsimTelnet, RefusesOptionsItDoesNotKnowOnce) {
    DevsimProcess device({"--telnet-options", "none"});
    ASSERT_TRUE(device.ready()) << device.error();
    TcpClient client;
    ASSERT_EQ(client.connectTo("127.0.0.1", device.telnetPort(), 2s), 0);
    ASSERT_TRUE(client.readUntil("> ", 2s));
    client.clearReceived();
    client.send("\xFF\xFD\x1F\xFF\xFB\x05\xFF\xFD\x1F");
    client.readFor(300ms);
    EXPECT_EQ(client.received(), "\xFF\xFC\x1F\xFF\xFE\x05");
}

TEST(DevsimTelnet, EchoFollowsTheClientsWish) {
    DevsimProcess device;
    ASSERT_TRUE(device.ready()) << device.error();
    TcpClient client;
    openSession(client, device);
    client.send(
        "\xFF\xFE\x01"  // DONT ECHO
        "ab");
    client.readFor(300ms);
    EXPECT_EQ(client.received(), "\xFF\xFC\x01") << "WONT ECHO once, then silence";
    client.clearReceived();
    client.send(
        "\xFF\xFD\x01"  // DO ECHO
        "c");
    ASSERT_TRUE(client.readUntil("c", 2s));
    EXPECT_EQ(client.received(),
              "\xFF\xFB\x01"
              "c");
}

TEST(DevsimTelnet, CustomOptionScriptIsSentVerbatim) {
    DevsimProcess device({"--telnet-options", "will:1,raw:fffb"});
    ASSERT_TRUE(device.ready()) << device.error();
    TcpClient client;
    ASSERT_EQ(client.connectTo("127.0.0.1", device.telnetPort(), 2s), 0);
    ASSERT_TRUE(client.readUntil("\xFF\xFB\x01\xFF\xFB", 2s));
    EXPECT_EQ(client.received().rfind("\xFF\xFB\x01\xFF\xFB", 0), 0u);
}

TEST(DevsimTelnet, EchoesAndRunsCommands) {
    DevsimProcess device;
    ASSERT_TRUE(device.ready()) << device.error();
    TcpClient client;
    openSession(client, device);
    client.send("help\r\n");
    ASSERT_TRUE(client.readUntil("exit   close the session\r\n> ", 2s)) << client.received();
    EXPECT_EQ(client.received().rfind("help\r\nCommands:", 0), 0u);
}

TEST(DevsimTelnet, ConfigurationDialogueChangesTheNextDiscoveryReply) {
    DevsimProcess device;
    ASSERT_TRUE(device.ready()) << device.error();
    TcpClient client;
    openSession(client, device);
    client.send("#");  // no line end, as the system sends it
    ASSERT_TRUE(client.readUntil("IP address [127.0.0.1]: ", 2s)) << client.received();
    client.send("300.1.1.1\r\n");
    ASSERT_TRUE(client.readUntil("Invalid IP address '300.1.1.1'", 2s));
    client.send("192.168.7.20\r\n");
    ASSERT_TRUE(client.readUntil("Netmask [255.255.255.0]: ", 2s));
    client.send("\r\n");
    ASSERT_TRUE(client.readUntil("Gateway [0.0.0.0]: ", 2s));
    client.send("192.168.7.1\r\n");
    ASSERT_TRUE(client.readUntil("Save these settings? (y/n): ", 2s));
    EXPECT_EQ(split(ask(device)[0].bytes)[2], "127.0.0.1") << "not saved yet";
    client.send("y\r\n");
    ASSERT_TRUE(client.readUntil("Settings saved.\r\n> ", 2s));
    auto replies = ask(device);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(split(replies[0].bytes)[2], "192.168.7.20");
}

TEST(DevsimTelnet, StatusSaysConnectedWhileASessionIsOpen) {
    struct Case {
        std::vector<std::string> args;
        const char* idle;
        const char* inSession;
    };
    const std::vector<Case> cases = {
        {{}, "not connected", "connected"},
        {{"--status", "busy"}, "busy", "connected"},
        {{"--static-status"}, "not connected", "not connected"},
    };
    const auto status = [](const DevsimProcess& device) {
        const auto replies = ask(device, "\x05", 150ms);
        return replies.size() == 1 ? split(replies[0].bytes).at(4) : std::string("?");
    };
    for (const Case& c : cases) {
        DevsimProcess device(c.args);
        ASSERT_TRUE(device.ready()) << device.error();
        EXPECT_EQ(status(device), c.idle);
        {
            TcpClient first;
            TcpClient second;
            openSession(first, device);
            openSession(second, device);
            EXPECT_EQ(status(device), c.inSession);
            second.close();
            EXPECT_EQ(status(device), c.inSession) << "one session is still open";
        }
        // The request right after the last client left already sees it gone.
        EXPECT_EQ(status(device), c.idle);
    }
}

TEST(DevsimTelnet, TelnetInterruptCancelsTheDialogue) {
    DevsimProcess device;
    ASSERT_TRUE(device.ready()) << device.error();
    TcpClient client;
    openSession(client, device);
    client.send("#10.2.2.2\r\n");
    ASSERT_TRUE(client.readUntil("Netmask", 2s));
    client.send("\xFF\xF4");
    ASSERT_TRUE(client.readUntil("cancelled", 2s));
    EXPECT_EQ(split(ask(device)[0].bytes)[2], "127.0.0.1");
}

TEST(DevsimTelnet, ExitClosesTheSession) {
    DevsimProcess device;
    ASSERT_TRUE(device.ready()) << device.error();
    TcpClient client;
    openSession(client, device);
    // Typing on after exit must not turn the device's orderly close into a reset
    // that could swallow its last words.
    client.send("exit\r\nmore\r\n");
    EXPECT_TRUE(client.readUntilClosed(3s));
    EXPECT_NE(client.received().find("Bye.\r\n"), std::string::npos);
}

TEST(DevsimTelnet, RefuseMeansNoListener) {
    std::uint16_t port = unusedPort();
    DevsimProcess device({"--refuse", "--telnet-port", std::to_string(port)});
    ASSERT_TRUE(device.ready()) << device.error();
    EXPECT_EQ(device.telnetPort(), 0);
    TcpClient client;
    EXPECT_EQ(client.connectTo("127.0.0.1", port, 2s), ECONNREFUSED);
    EXPECT_EQ(ask(device).size(), 1u) << "discovery still works";
}

TEST(DevsimTelnet, CloseAfterEndsEverySession) {
    DevsimProcess device({"--close-after", "0.3"});
    ASSERT_TRUE(device.ready()) << device.error();
    for (int round = 0; round < 2; ++round) {
        TcpClient client;
        auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(client.connectTo("127.0.0.1", device.telnetPort(), 2s), 0);
        EXPECT_TRUE(client.readUntilClosed(3s));
        EXPECT_GE(std::chrono::steady_clock::now() - start, 250ms);
    }
}

TEST(DevsimTelnet, AnswerDelayHoldsBackWhatTheConsoleSays) {
    DevsimProcess device({"--answer-delay", "300"});
    ASSERT_TRUE(device.ready()) << device.error();
    TcpClient client;
    openSession(client, device);
    client.clearReceived();
    const auto start = std::chrono::steady_clock::now();
    client.send("help\r\n");
    ASSERT_TRUE(client.readUntil("> ", 3s)) << client.received();
    EXPECT_GE(std::chrono::steady_clock::now() - start, 250ms);
    EXPECT_EQ(client.received().rfind("help\r\nCommands:", 0), 0u) << client.received();
}

TEST(DevsimTelnet, ResetAfterEndsTheSessionWithAResetMidStream) {
    // More than the socket buffers hold, so the reset waits for the client to read.
    DevsimProcess device(
        {"--telnet-options", "none", "--flood", "20000000", "--reset-after", "10000000"});
    ASSERT_TRUE(device.ready()) << device.error();
    TcpClient client;
    ASSERT_EQ(client.connectTo("127.0.0.1", device.telnetPort(), 2s), 0);
    ASSERT_TRUE(client.readUntilClosed(10s));
    EXPECT_EQ(client.closeError(), ECONNRESET);
    EXPECT_GT(client.received().size(), 0u);
    EXPECT_LE(client.received().size(), 10000000u);
}

TEST(DevsimTelnet, FloodSendsExactlyTheAskedBytesThenTheBanner) {
    constexpr std::size_t kBytes = 1000003;
    DevsimProcess device({"--telnet-options", "none", "--flood", std::to_string(kBytes)});
    ASSERT_TRUE(device.ready()) << device.error();
    TcpClient client;
    ASSERT_EQ(client.connectTo("127.0.0.1", device.telnetPort(), 2s), 0);
    ASSERT_TRUE(client.readUntil("exit to close.\r\n> ", 10s));
    const std::string& got = client.received();
    std::size_t banner = got.find("\r\nVD-100 device simulator");
    EXPECT_EQ(banner, kBytes);
    EXPECT_EQ(got.rfind("000000 the quick brown fox", 0), 0u);
    EXPECT_EQ(got.substr(78, 9), "\r\n000001 ");
    EXPECT_EQ(got.find('\xFF'), std::string::npos) << "flood text must not contain IAC";
}

TEST(DevsimTelnet, RecordKeepsEveryReceivedByte) {
    // A line, a NUL after CR, an escaped 255 erased again by backspace, an empty line.
    const std::string kTyped = "x\r\n\0\xFF\xFF\b\r\n"s;
    auto file = std::filesystem::temp_directory_path() /
                ("devsim-record-" + std::to_string(getpid()) + ".bin");
    {
        DevsimProcess device({"--record", file.string()});
        ASSERT_TRUE(device.ready()) << device.error();
        TcpClient client;
        openSession(client, device);
        client.send(kTyped);
        client.send("exit\r\n");
        EXPECT_TRUE(client.readUntilClosed(2s));
    }
    std::ifstream in(file, std::ios::binary);
    std::string recorded((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(file);
    EXPECT_EQ(recorded, kClientReplies + kTermTypeIs + kTyped + "exit\r\n");
}

TEST(DevsimTelnet, SeveralClientsAtOnceKeepTheirOwnSessions) {
    DevsimProcess device;
    ASSERT_TRUE(device.ready()) << device.error();
    constexpr int kClients = 5;
    TcpClient clients[kClients];
    for (TcpClient& client : clients) {
        openSession(client, device);
    }
    for (int i = 0; i < kClients; ++i) {
        clients[i].send("#");
    }
    for (int i = 0; i < kClients; ++i) {
        clients[i].send("10.0.0." + std::to_string(i + 1) + "\r\n");
    }
    for (int i = 0; i < kClients; ++i) {
        EXPECT_TRUE(clients[i].readUntil("10.0.0." + std::to_string(i + 1) + "\r\nNetmask", 2s))
            << i << ": " << clients[i].received();
        EXPECT_EQ(clients[i].received().find("10.0.0." + std::to_string(i + 2)), std::string::npos);
    }
}

TEST(DevsimTelnet, BrokenSequencesAndVanishingClientsDoNotStopIt) {
    DevsimProcess device({"--flood", "5000000"});
    ASSERT_TRUE(device.ready()) << device.error();
    std::mt19937 random(11);
    for (int i = 0; i < 10; ++i) {
        TcpClient client;
        ASSERT_EQ(client.connectTo("127.0.0.1", device.telnetPort(), 2s), 0);
        std::string noise(5000, '\0');
        for (char& c : noise) {
            c = static_cast<char>(random());
        }
        client.send(i % 2 == 0 ? noise : "\xFF\xFA\x18" + noise);  // never-ending subnegotiation
        // Leaves in the middle of the flood, with unread data: the device sees a reset.
    }
    TcpClient healthy;
    ASSERT_EQ(healthy.connectTo("127.0.0.1", device.telnetPort(), 2s), 0);
    EXPECT_TRUE(healthy.readUntil(kScript, 2s));
    EXPECT_EQ(ask(device).size(), 1u);
}

TEST(DevsimCommandLine, HelpAndBadOptions) {
    auto help = runProcess({DevsimProcess::binary(), "--help"}, 5s);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("Usage: vandrel-devsim"), std::string::npos);
    auto bad = runProcess({DevsimProcess::binary(), "--fields", "9"}, 5s);
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.output.find("bad value '9' for --fields"), std::string::npos);
    // A port in use is reported, not ignored.
    DevsimProcess first;
    ASSERT_TRUE(first.ready());
    auto clash = runProcess({DevsimProcess::binary(), "--bind", "127.0.0.1", "--discovery-port",
                             std::to_string(first.discoveryPort()), "--telnet-port", "0"},
                            5s);
    EXPECT_EQ(clash.exitCode, 1);
    EXPECT_NE(clash.output.find("udp bind"), std::string::npos) << clash.output;
    // The fixture's failure carries the simulator's own reason.
    DevsimProcess second({"--discovery-port", std::to_string(first.discoveryPort())});
    EXPECT_FALSE(second.ready());
    EXPECT_NE(second.error().find("udp bind"), std::string::npos) << second.error();
}
