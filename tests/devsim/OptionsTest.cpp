#include <gtest/gtest.h>

#include "HelpText.h"
#include "Options.h"

using namespace vandrel::devsim;

TEST(DevsimOptions, DefaultsDescribeAWellBehavedDevice) {
    ParsedOptions parsed = parseOptions({});
    ASSERT_EQ(parsed.error, "");
    const Options& o = parsed.options;
    EXPECT_EQ(o.discoveryPort, 33300);
    EXPECT_EQ(o.telnetPort, 23);
    EXPECT_EQ(o.bindAddress, "0.0.0.0");
    EXPECT_EQ(o.replyCount, 1);
    EXPECT_EQ(o.fields.status, "not connected");
    EXPECT_EQ(o.fields.ip, "auto");
    EXPECT_FALSE(o.refuse);
    EXPECT_LT(o.closeAfterMs, 0);
    // IAC DO TERMINAL-TYPE, IAC WILL ECHO, IAC WILL SUPPRESS-GO-AHEAD, IAC DO SEND-LOCATION
    EXPECT_EQ(o.optionScript, "\xFF\xFD\x18\xFF\xFB\x01\xFF\xFB\x03\xFF\xFD\x17");
}

TEST(DevsimOptions, ValuesInBothSpellings) {
    ParsedOptions parsed = parseOptions(
        {"--status", "NOT CONNECTED", "--reply-count=3", "--delay", "250", "--close-after", "0.25",
         "--flood", "1000000", "--reset-after", "4096", "--telnet-port=0", "--bind", "127.0.0.1"});
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.options.fields.status, "NOT CONNECTED");
    EXPECT_EQ(parsed.options.replyCount, 3);
    EXPECT_EQ(parsed.options.delayMs, 250);
    EXPECT_EQ(parsed.options.closeAfterMs, 250);
    EXPECT_EQ(parsed.options.floodBytes, 1000000u);
    EXPECT_EQ(parsed.options.resetAfterBytes, 4096);
    EXPECT_EQ(parsed.options.telnetPort, 0);
    // Empty texts are legitimate field contents.
    EXPECT_EQ(parseOptions({"--status", ""}).options.fields.status, "");
    EXPECT_EQ(parseOptions({"--status="}).options.fields.status, "");
    // Later options win, which lets test helpers put defaults first.
    EXPECT_EQ(parseOptions({"--telnet-port", "0", "--telnet-port", "2323"}).options.telnetPort,
              2323);
}

TEST(DevsimOptions, UnusableCommandLinesAreRejectedWithTheReason) {
    struct Case {
        std::vector<std::string> args;
        const char* mention;
    };
    const Case cases[] = {
        {{"--nope"}, "--nope"},
        {{"--delay"}, "needs a value"},
        {{"--fields", "5x"}, "--fields"},
        {{"--fields", "7"}, "--fields"},
        {{"--discovery-port", "65536"}, "--discovery-port"},
        {{"--reply-count", "-1"}, "--reply-count"},
        {{"--devices", "0"}, "--devices"},
        {{"--devices", "10001"}, "--devices"},
        {{"--bind", "localhost"}, "--bind"},
        {{"--netmask", "255.0.255.0"}, "--netmask"},
        {{"--close-after", "1.2345"}, "--close-after"},
        {{"--close-after", "1."}, "--close-after"},
        {{"--close-after", ".5"}, "--close-after"},
        {{"--record", ""}, "--record"},
        {{"--reset-after", "-1"}, "--reset-after"},
        {{"--bad-end=1"}, "--bad-end"},
    };
    for (const Case& c : cases) {
        ParsedOptions parsed = parseOptions(c.args);
        EXPECT_NE(parsed.error.find(c.mention), std::string::npos)
            << c.args[0] << " -> '" << parsed.error << "'";
    }
}

TEST(DevsimOptions, OptionScriptItems) {
    std::string bytes;
    std::string error;
    ASSERT_TRUE(parseOptionScript("will:1,dont:5,wont:255,raw:fffa18", bytes, error));
    EXPECT_EQ(bytes, "\xFF\xFB\x01\xFF\xFE\x05\xFF\xFC\xFF\xFF\xFA\x18");
    ASSERT_TRUE(parseOptionScript("none", bytes, error));
    EXPECT_EQ(bytes, "");
    for (const char* bad : {"do:256", "do:", "maybe:1", "do:1,", "raw:f", "raw:", ",do:1"}) {
        EXPECT_FALSE(parseOptionScript(bad, bytes, error)) << bad;
    }
    EXPECT_NE(parseOptions({"--telnet-options", "do:x"}).error, "");
}

TEST(DevsimOptions, HelpIsRequestedAndMentionsEveryOption) {
    EXPECT_TRUE(parseOptions({"--reply-count", "2", "--help"}).help);
    std::string help = helpText();
    for (const char* option : {"--bind",
                               "--discovery-port",
                               "--telnet-port",
                               "--device",
                               "--serial",
                               "--ip",
                               "--mac",
                               "--status",
                               "--netmask",
                               "--gateway",
                               "--reply-count",
                               "--delay",
                               "--fields",
                               "--bad-start",
                               "--bad-end",
                               "--oversize",
                               "--exact-2048",
                               "--raw-reply",
                               "--telnet-options",
                               "--refuse",
                               "--hung-dialogue",
                               "--answer-delay",
                               "--static-status",
                               "--close-after",
                               "--flood",
                               "--record"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
}
