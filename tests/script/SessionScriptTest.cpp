#include <gtest/gtest.h>

#include "script/SessionScript.h"

using namespace vandrel::script;

namespace {

// A text with its variables shown as <Name>.
std::string shown(const ScriptText& text) {
    return ExpandText(text, [](const std::string& name) { return "<" + name + ">"; });
}

std::string errorOf(std::string_view script) {
    const auto result = ParseScript(script);
    return std::holds_alternative<ScriptError>(result) ? std::get<ScriptError>(result).Text()
                                                       : "no error";
}

TEST(SessionScript, ReadsEachCommand) {
    struct Case {
        const char* line;
        CommandKind kind;
        std::string text;
        int ms;
    };
    const Case cases[] = {
        {"send \"abc\"", CommandKind::Send, "abc", 0},
        {"\t sendline \"a\\r\\n\\t\\x41\\x7e\\\\\\\"\"  # note", CommandKind::SendLine,
         "a\r\n\tA~\\\"", 0},
        {"send \"\"", CommandKind::Send, "", 0},
        {"send \"a#b\"#c", CommandKind::Send, "a#b", 0},
        {"send \"{S/N}:{{x} }{a_b-c.d}\"", CommandKind::Send, "<S/N>:{x} }<a_b-c.d>", 0},
        {"expect \"login:\"", CommandKind::Expect, "login:", 10000},
        {"expect \"x\" timeout 0.5", CommandKind::Expect, "x", 500},
        {"expect \"x\"\ttimeout 3600", CommandKind::Expect, "x", 3600000},
        {"expect \"x\" timeout 0.0001", CommandKind::Expect, "x", 1},
        {"expect \"x\" timeout 007.25 # slow", CommandKind::Expect, "x", 7250},
        {"fail-if \"Error\"", CommandKind::FailIf, "Error", 0},
        {"wait 0", CommandKind::Wait, "", 0},
        {"wait 2.25", CommandKind::Wait, "", 2250},
        {"log on", CommandKind::LogOn, "", 0},
        {"log off # quiet", CommandKind::LogOff, "", 0},
        {"close", CommandKind::Close, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const auto result = ParseScript(c.line);
        ASSERT_TRUE(std::holds_alternative<Script>(result)) << std::get<ScriptError>(result).Text();
        const Script& script = std::get<Script>(result);
        ASSERT_EQ(script.Commands.size(), 1u);
        EXPECT_EQ(script.Commands[0].Kind, c.kind);
        EXPECT_EQ(shown(script.Commands[0].Text), c.text);
        EXPECT_EQ(script.Commands[0].Milliseconds, c.ms);
    }
}

TEST(SessionScript, ReportsLineColumnAndMessage) {
    const std::pair<const char*, const char*> cases[] = {
        {"sned \"x\"", "1:1: unknown command \"sned\""},
        {"\"x\"", "1:1: unknown command"},
        {"close\rsend \"x\"", "1:1: unknown command \"close\\rsend\""},  // CR-only line ends
        {"send", "1:5: missing text"},
        {"send x", "1:6: missing text"},
        {"send \"abc", "1:6: unterminated text"},
        {"send \"a\\qb\"", "1:8: bad escape"},
        {"send \"\\x4g\"", "1:7: bad escape"},
        {"send \"ab\\", "1:9: bad escape"},
        {"close now", "1:7: extra words after the command"},
        {"send \"a\" \"b\"", "1:10: extra words after the command"},
        {"expect \"x\" timeot 5", "1:12: extra words after the command"},
        {"expect \"x\" timeout", "1:19: missing number"},
        {"expect \"x\" timeout 1.", "1:20: bad number"},
        {"wait -1", "1:6: bad number"},
        {"wait 1e3", "1:6: bad number"},
        {"expect \"x\" timeout 0", "1:20: timeout out of range"},
        {"expect \"x\" timeout 3600.001", "1:20: timeout out of range"},
        {"wait 99999999999999999999", "1:6: seconds out of range"},
        {"expect \"\"", "1:8: empty text"},
        {"fail-if \"\" ", "1:9: empty text"},
        {"send \"{S/N\"", "1:7: unclosed {"},
        {"send \"{a b}\"", "1:9: bad character in a variable name"},
        {"send \"{}\"", "1:7: empty variable name"},
        {"log maybe", "1:5: log needs on or off"},
        {"# fine\n\n  close\r\nsend \"x", "4:6: unterminated text"},
    };
    for (const auto& [script, error] : cases) {
        EXPECT_EQ(errorOf(script), error) << script;
    }
}

TEST(SessionScript, KeepsLinesSourcesAndVariableNames) {
    const auto result = ParseScript(
        "\xEF\xBB\xBF# set the address\r\n\r\n  sendline \"{IP} {Mac}\"  \r\n"
        "   # indented comment\nexpect \"{IP}\" timeout 2\nsend \"{Device}{IP}\"");
    ASSERT_TRUE(std::holds_alternative<Script>(result));
    const Script& script = std::get<Script>(result);
    ASSERT_EQ(script.Commands.size(), 3u);
    EXPECT_EQ(script.Commands[0].Line, 3);
    EXPECT_EQ(script.Commands[0].Source, "sendline \"{IP} {Mac}\"");
    EXPECT_EQ(script.Commands[1].Line, 5);
    EXPECT_EQ(script.Commands[2].Line, 6);
    EXPECT_EQ(script.VariableNames, (std::vector<std::string>{"Device", "IP", "Mac"}));
}

TEST(SessionScript, RefusesOverlongLinesAndFiles) {
    EXPECT_EQ(errorOf("close\nsend \"" + std::string(kMaxScriptLineBytes, 'a') + "\""),
              "2:65537: line longer than 64 KiB");
    EXPECT_EQ(errorOf("send \"" + std::string(kMaxScriptLineBytes - 7, 'a') + "\"\r\n"),
              "no error");  // the CR of a CR LF is not part of the line
    const std::string line = "send \"" + std::string(1000, 'a') + "\"\n";  // 1008 bytes
    std::string big;
    while (big.size() <= kMaxScriptBytes) {
        big += line;
    }
    EXPECT_EQ(errorOf(big), "1041:257: script larger than 1 MiB");
    // Exactly 1 MiB is allowed: what is wrong then is the cut last line.
    EXPECT_EQ(errorOf(big.substr(0, kMaxScriptBytes)), "1041:6: unterminated text");
}

TEST(SessionScript, EscapesControlBytesForMessages) {
    EXPECT_EQ(EscapeText("a\r\n\t\\\"\x1b\x7f{\xc3\xa9"), "a\\r\\n\\t\\\\\\\"\\x1b\\x7f{\xc3\xa9");
}

}  // namespace
