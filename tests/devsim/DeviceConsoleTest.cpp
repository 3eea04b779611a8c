#include <gtest/gtest.h>

#include "ConfigDialogue.h"
#include "DeviceConsole.h"
#include "DeviceState.h"
#include "Ipv4.h"

using namespace vandrel::devsim;

namespace {

constexpr std::uint32_t kLocal = 0xC612000B;  // 198.18.0.11

class Console : public ::testing::Test {
protected:
    Console() : state(options), console(state, kLocal) {}

    // Types a line the way the system's terminal sends Enter: CR LF.
    std::string line(const std::string& text) { return console.input(text + "\r\n"); }
    std::string replyIp() { return state.replyFields(kLocal).ip; }

    Options options;
    DeviceState state;
    DeviceConsole console;
};

}  // namespace

TEST_F(Console, EchoesTypedCharactersAndEndsLinesWithCrLf) {
    EXPECT_EQ(console.input("sh"), "sh");
    EXPECT_EQ(console.input("\x7F"), "\b \b");
    EXPECT_EQ(console.input("\b"), "\b \b");
    EXPECT_EQ(console.input("\b"), "") << "nothing left to erase";
    std::string out = console.input("show\r\n");
    EXPECT_TRUE(out.starts_with("show\r\nDevice:")) << out;
    EXPECT_NE(out.find("IP address: 198.18.0.11"), std::string::npos);
    EXPECT_TRUE(out.ends_with(kPrompt));
}

TEST_F(Console, EveryCommonLineEndCountsOnce) {
    const std::string ends[] = {"\r\n", "\r", "\n", std::string("\r\0", 2)};
    for (const std::string& end : ends) {
        std::string out = console.input("help" + end);
        EXPECT_EQ(std::count(out.begin(), out.end(), '>'), 1) << "end " << int(end[0]);
    }
    // CR NUL must not be taken for two line ends.
    std::string out = console.input(std::string("help\r\0", 6));
    EXPECT_EQ(std::count(out.begin(), out.end(), '>'), 1);
}

TEST_F(Console, EchoCanBeSwitchedOff) {
    console.setEcho(false);
    EXPECT_EQ(console.input("abc"), "");
    EXPECT_EQ(console.input("\r\n"), "Unknown command 'abc', type help for the list.\r\n> ");
}

TEST_F(Console, ExitClosesAndIgnoresWhatFollows) {
    std::string out = line("  exit ");
    EXPECT_TRUE(out.ends_with("Bye.\r\n"));
    EXPECT_TRUE(console.closeRequested());
    EXPECT_EQ(console.input("show\r\n"), "");
}

TEST_F(Console, LongLinesAreCapped) {
    std::string out = console.input(std::string(1000, 'a'));
    EXPECT_EQ(out.size(), DeviceConsole::kMaxLine);
}

TEST_F(Console, HashStartsTheDialogueAtOnceWithoutLineEnd) {
    std::string out = console.input("#");
    EXPECT_TRUE(console.inDialogue());
    EXPECT_NE(out.find("IP configuration"), std::string::npos);
    EXPECT_TRUE(out.ends_with("IP address [198.18.0.11]: ")) << out;
}

TEST_F(Console, AHungDialogueEchoesTheHashAndAnswersNothingMore) {
    console.setHungDialogue(true);
    EXPECT_EQ(console.input("#"), "#");
    EXPECT_EQ(line("10.1.2.3") + line("help") + console.input("#"), "");
    EXPECT_FALSE(console.inDialogue());
}

TEST_F(Console, DialogueSavesNewSettingsIntoTheNextReply) {
    console.input("#");
    EXPECT_EQ(line("10.1.2.3"), "10.1.2.3\r\nNetmask [255.255.255.0]: ");
    EXPECT_EQ(line("255.255.0.0"), "255.255.0.0\r\nGateway [0.0.0.0]: ");
    std::string summary = line("10.1.0.1");
    EXPECT_NE(summary.find("IP address: 10.1.2.3"), std::string::npos) << summary;
    EXPECT_NE(summary.find("Netmask:    255.255.0.0"), std::string::npos);
    EXPECT_NE(summary.find("Gateway:    10.1.0.1"), std::string::npos);
    EXPECT_TRUE(summary.ends_with("Save these settings? (y/n): "));
    EXPECT_EQ(replyIp(), "198.18.0.11") << "nothing changes before the answer";
    EXPECT_EQ(line("y"), "y\r\nSettings saved.\r\n> ");
    EXPECT_FALSE(console.inDialogue());
    EXPECT_EQ(replyIp(), "10.1.2.3");
    EXPECT_EQ(state.replyFields(kLocal).mac, "02:00:C6:12:00:0B") << "the MAC stays";
    // A second dialogue starts from the saved values.
    EXPECT_TRUE(console.input("#").ends_with("IP address [10.1.2.3]: "));
}

TEST_F(Console, EnterKeepsEveryValueAndNoDiscards) {
    console.input("#");
    line("");
    line("");
    std::string summary = line("");
    EXPECT_NE(summary.find("IP address: 198.18.0.11"), std::string::npos);
    EXPECT_EQ(line("maybe"), "maybe\r\nSave these settings? (y/n): ");
    EXPECT_EQ(line("n"), "n\r\nSettings discarded, nothing changed.\r\n> ");
    EXPECT_FALSE(state.saved().has_value());
}

TEST_F(Console, InvalidAnswersAreRefusedAndAskedAgain) {
    console.input("#");
    for (const char* bad : {"1.2.3", "1.2.3.4.5", "256.1.1.1", "a.b.c.d", "1.2.3.4 x", "0.1.2.3",
                            "127.0.0.1", "224.0.0.1", "255.255.255.255", "01234.1.1.1"}) {
        std::string out = line(bad);
        EXPECT_NE(out.find("Invalid IP address"), std::string::npos) << bad;
        EXPECT_TRUE(out.ends_with("IP address [198.18.0.11]: ")) << bad;
    }
    line("192.168.1.20");
    for (const char* bad : {"255.0.255.0", "0.0.0.0", "255.255.255.x", "255.255.255.255 1"}) {
        std::string out = line(bad);
        EXPECT_NE(out.find("Invalid netmask"), std::string::npos) << bad;
        EXPECT_TRUE(out.ends_with("Netmask [255.255.255.0]: ")) << bad;
    }
    line("255.255.255.0");
    for (const char* bad : {"192.168.2.1", "192.168.1.20", "192.168.1.0", "192.168.1.255", "x"}) {
        std::string out = line(bad);
        EXPECT_NE(out.find("Invalid gateway"), std::string::npos) << bad;
        EXPECT_TRUE(out.ends_with("Gateway [0.0.0.0]: ")) << bad;
    }
    EXPECT_NE(line("192.168.1.1").find("Gateway:    192.168.1.1"), std::string::npos);
}

TEST_F(Console, NetmaskThatMakesTheAddressANetworkAddressIsRefused) {
    console.input("#");
    line("10.0.0.0");
    EXPECT_NE(line("255.0.0.0").find("network or broadcast"), std::string::npos);
    EXPECT_NE(line("255.255.255.252").find("network or broadcast"), std::string::npos);
    EXPECT_TRUE(line("255.255.255.254").ends_with("Gateway [0.0.0.0]: ")) << "/31 has no such";
}

TEST_F(Console, InterruptCancelsTheDialogue) {
    console.input("#");
    line("10.1.2.3");
    std::string out = console.interrupt();
    EXPECT_NE(out.find("cancelled"), std::string::npos);
    EXPECT_TRUE(out.ends_with(kPrompt));
    EXPECT_FALSE(console.inDialogue());
    EXPECT_FALSE(state.saved().has_value());
    EXPECT_NE(console.input("\x03").find("^C"), std::string::npos) << "Ctrl-C at the prompt";
}

TEST_F(Console, HashInsideTheDialogueIsText) {
    console.input("#");
    EXPECT_EQ(console.input("#"), "#");
    EXPECT_NE(line("").find("Invalid IP address '#'"), std::string::npos);
}

TEST(DeviceState, ReplyFieldsFollowTheOptions) {
    Options options;
    options.fields.ip = "";
    options.fields.mac = "MAC";
    DeviceState blank(options);
    EXPECT_EQ(blank.replyFields(kLocal).ip, "") << "an explicitly empty IP stays empty";
    EXPECT_EQ(blank.replyFields(kLocal).mac, "MAC");

    options.fields.ip = "10.9.8.7";
    options.fields.mac = "auto";
    DeviceState fixed(options);
    EXPECT_EQ(fixed.replyFields(kLocal).ip, "10.9.8.7");
    EXPECT_EQ(fixed.replyFields(kLocal).mac, "02:00:0A:09:08:07");
    EXPECT_EQ(fixed.settingsFor(kLocal).ip, 0x0A090807u);
}

TEST(Ipv4, FormatAndMasks) {
    EXPECT_EQ(formatIpv4(0xC0A80114), "192.168.1.20");
    EXPECT_EQ(parseIpv4("0.0.0.0"), 0u);
    EXPECT_EQ(parseIpv4("255.255.255.255"), 0xFFFFFFFFu);
    EXPECT_FALSE(parseIpv4("").has_value());
    EXPECT_FALSE(parseIpv4("1.2.3.4.").has_value());
    EXPECT_FALSE(parseIpv4("+1.2.3.4").has_value());
    EXPECT_TRUE(isNetmask(0xFFFFFFFF));
    EXPECT_TRUE(isNetmask(0x80000000));
    EXPECT_FALSE(isNetmask(0));
    EXPECT_FALSE(isNetmask(0xFFFF00FF));
}
