#include "app/model/Preferences.h"

#include <gtest/gtest.h>

using namespace vandrel::app;
using vandrel::terminal::BackspaceKey;
using vandrel::terminal::EnterKey;

TEST(Preferences, NoValuesGiveTheDefaults) {
    std::vector<std::string> damaged;
    const Preferences p = ReadPreferences({}, damaged);
    EXPECT_EQ(p.HistoryLines, 10000);
    EXPECT_EQ(p.Enter, EnterKey::CrLf);
    EXPECT_EQ(p.Backspace, BackspaceKey::ControlH);
    EXPECT_EQ(p.PasteLineDelayMs, 0);
    EXPECT_TRUE(p.ConfirmMultiLinePaste);
    EXPECT_FALSE(p.KeepClosedTabs);
    EXPECT_EQ(p.SessionFont, "");
    EXPECT_EQ(p.Zoom, 0);
    EXPECT_TRUE(damaged.empty());
}

TEST(Preferences, WrittenValuesReadBack) {
    Preferences p;
    p.HistoryLines = 0;
    p.Enter = EnterKey::Lf;
    p.Backspace = BackspaceKey::Delete;
    p.PasteLineDelayMs = 50;
    p.ConfirmMultiLinePaste = false;
    p.KeepClosedTabs = true;
    p.SessionFont = "Mono,11,-1,5,400,0,0,0,0,0,0,0,0,0,0,1";
    p.Zoom = -3;
    SettingValues values{{"Other/Key", "kept"}};
    WritePreferences(p, values);
    std::vector<std::string> damaged;
    EXPECT_EQ(ReadPreferences(values, damaged), p);
    EXPECT_TRUE(damaged.empty());
    EXPECT_EQ(values.at("Other/Key"), "kept");
}

// Each damaged value: the key, its text, and what is used instead.
TEST(Preferences, DamagedValuesGiveDefaultsOrClampedValues) {
    struct Case {
        const char* key;
        std::string text;
        bool damaged;
        int (*read)(const Preferences&);
        int expected;
    };
    const auto lines = [](const Preferences& p) { return p.HistoryLines; };
    const auto delay = [](const Preferences& p) { return p.PasteLineDelayMs; };
    const auto zoom = [](const Preferences& p) { return p.Zoom; };
    const auto enter = [](const Preferences& p) { return static_cast<int>(p.Enter); };
    const auto backspace = [](const Preferences& p) { return static_cast<int>(p.Backspace); };
    const auto confirm = [](const Preferences& p) { return int{p.ConfirmMultiLinePaste}; };
    const auto keep = [](const Preferences& p) { return int{p.KeepClosedTabs}; };
    const Case cases[] = {
        {"Session/HistoryLines", " 500 ", false, lines, 500},
        {"Session/HistoryLines", "abc", true, lines, 10000},
        {"Session/HistoryLines", "12abc", true, lines, 10000},
        {"Session/HistoryLines", "", true, lines, 10000},
        {"Session/HistoryLines", "-1", true, lines, 0},
        {"Session/HistoryLines", "5000000", true, lines, Preferences::kMaxHistoryLines},
        {"Session/HistoryLines", "99999999999999999999999", true, lines,
         Preferences::kMaxHistoryLines},
        {"Paste/LineDelayMs", "-99999999999999999999999", true, delay, 0},
        {"Paste/LineDelayMs", "60000", true, delay, Preferences::kMaxPasteLineDelayMs},
        {"Session/Zoom", "-100", true, zoom, Preferences::kMinZoom},
        {"Session/Zoom", "2.5", true, zoom, 0},
        {"Session/EnterKey", "cr", false, enter, static_cast<int>(EnterKey::Cr)},
        {"Session/EnterKey", "CRLF\r\n", false, enter, static_cast<int>(EnterKey::CrLf)},
        {"Session/EnterKey", "Tab", true, enter, static_cast<int>(EnterKey::CrLf)},
        {"Session/BackspaceKey", "DEL", true, backspace, static_cast<int>(BackspaceKey::ControlH)},
        {"Paste/ConfirmMultiLine", "0", false, confirm, 0},
        {"Paste/ConfirmMultiLine", "yes", true, confirm, 1},
        {"Tabs/KeepClosed", "TRUE", false, keep, 1},
        {"Tabs/KeepClosed", "\xff\xfe", true, keep, 0},
    };
    for (const Case& c : cases) {
        std::vector<std::string> damaged;
        const Preferences p = ReadPreferences({{c.key, c.text}}, damaged);
        EXPECT_EQ(c.read(p), c.expected) << c.key << "=" << c.text;
        EXPECT_EQ(damaged, c.damaged ? std::vector<std::string>{c.key} : std::vector<std::string>{})
            << c.key << "=" << c.text;
    }
}

TEST(RecentAddresses, NewestFirstWithoutRepeatsAndAtMostTen) {
    std::vector<std::string> recent;
    RememberAddress(recent, " 10.0.0.1 ");
    RememberAddress(recent, "plc.example");
    RememberAddress(recent, "   ");
    EXPECT_EQ(recent, (std::vector<std::string>{"plc.example", "10.0.0.1"}));
    RememberAddress(recent, "10.0.0.1");
    RememberAddress(recent, "PLC.example");
    EXPECT_EQ(recent, (std::vector<std::string>{"PLC.example", "10.0.0.1"}));
    for (int i = 2; i <= 12; ++i) {
        RememberAddress(recent, "10.0.0." + std::to_string(i));
    }
    ASSERT_EQ(recent.size(), kRecentAddressLimit);
    EXPECT_EQ(recent.front(), "10.0.0.12");
    EXPECT_EQ(recent.back(), "10.0.0.3");
}

TEST(RecentAddresses, ReadBackDropsDamagedEntriesAndWritingRemovesStaleOnes) {
    SettingValues values = {
        {"Connect/Address1", "10.0.0.1"},  {"Connect/Address2", "not a host"},
        {"Connect/Address3", "10.0.0.1"},  {"Connect/Address5", "device-7"},
        {"Connect/Address11", "10.0.0.9"},
    };
    std::vector<std::string> damaged;
    const std::vector<std::string> recent = ReadRecentAddresses(values, damaged);
    EXPECT_EQ(recent, (std::vector<std::string>{"10.0.0.1", "device-7"}));
    EXPECT_EQ(damaged, (std::vector<std::string>{"Connect/Address2", "Connect/Address3"}));
    WriteRecentAddresses(recent, values);
    EXPECT_EQ(values, (SettingValues{{"Connect/Address1", "10.0.0.1"},
                                     {"Connect/Address2", "device-7"},
                                     {"Connect/Address11", "10.0.0.9"}}));
}
