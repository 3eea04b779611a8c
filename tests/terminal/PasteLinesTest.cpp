#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "terminal/KeyBytes.h"
#include "terminal/PasteLines.h"

using namespace vandrel::terminal;

TEST(KeyBytesTest, EnterAndBackspaceChoices) {
    EXPECT_EQ(EnterBytes(EnterKey::CrLf), "\r\n");
    EXPECT_EQ(EnterBytes(EnterKey::Cr), "\r");
    EXPECT_EQ(EnterBytes(EnterKey::Lf), "\n");
    EXPECT_EQ(BackspaceByte(BackspaceKey::ControlH), '\x08');
    EXPECT_EQ(BackspaceByte(BackspaceKey::Delete), '\x7F');
}

TEST(PasteLinesTest, LineEndsOfEveryKindSplitTheText) {
    struct Case {
        std::string text;
        std::vector<PasteLine> lines;
    };
    const std::vector<Case> cases = {
        {"", {}},
        {"abc", {{"abc", false}}},
        {"abc\n", {{"abc", true}}},
        {"a\r\nb\rc\nd", {{"a", true}, {"b", true}, {"c", true}, {"d", false}}},
        {"a\n\r\nb", {{"a", true}, {"", true}, {"b", false}}},  // LF then CR LF: an empty line
        {"a\r\r\n", {{"a", true}, {"", true}}},
        {"\n", {{"", true}}},
        {"x\ty\x1b", {{"x\ty\x1b", false}}},  // other control bytes go as they are
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SplitPasteLines(c.text), c.lines) << c.text;
    }
}

TEST(PasteLinesTest, CharactersOutsideLatin1BecomeOneQuestionMarkEach) {
    EXPECT_EQ(PasteBytes(u"ab\u00e4\u00ff"), "ab\xe4\xff");
    EXPECT_EQ(PasteBytes(u"\u20ac1"), "?1");
    EXPECT_EQ(PasteBytes(u"a\U0001F600b"), "a?b");  // a surrogate pair is one character
    EXPECT_EQ(PasteBytes(std::u16string(u"a\xd800") + u"b"), "a?b");  // a lone half too
    EXPECT_EQ(PasteBytes(std::u16string(u"\xdc00\xdc00")), "??");
    EXPECT_EQ(PasteBytes(std::u16string(1, u'\0')), std::string(1, '\0'));
}

TEST(PasteLinesTest, IacIsDoubled) {
    EXPECT_EQ(EscapeIac("a\xff"
                        "b\xff\xff"),
              "a\xff\xff"
              "b\xff\xff\xff\xff");
    EXPECT_EQ(EscapeIac("\xfe\xfd"), "\xfe\xfd");
}
