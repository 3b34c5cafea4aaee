// Outside text on one line: control characters and broken UTF-8 shown
// escaped, everything else kept, the middle of an overlong text left out.

#include "notice.h"
#include "printable.h"

#include <gtest/gtest.h>

using portio::printable;

TEST(Printable, escapesControlsAndBrokenUtf8AndCutsTheMiddle)
{
    const std::string tenDigits = "0123456789";
    std::string hundred, umlauts, breaks;
    for (int i = 0; i < 10; ++i)
        hundred += tenDigits;
    for (int i = 0; i < 50; ++i)
        umlauts += "\xc3\xa4"; // ä
    for (int i = 0; i < 100; ++i)
        breaks += "\n";
    struct Case
    {
        const char *name;
        std::string text;
        std::size_t limit;
        std::string shown;
    };
    const Case cases[] = {
        {"plain", "register:/run/user/1000/lpt", 1000, "register:/run/user/1000/lpt"},
        {"umlauts and a Windows path", "C:\\Benutzer\\J\xc3\xbcrgen\\Gr\xc3\xb6\xc3\x9f" "e", 1000,
         "C:\\Benutzer\\J\xc3\xbcrgen\\Gr\xc3\xb6\xc3\x9f" "e"},
        {"line breaks and tab", "a\nb\r\tc", 1000, "a\\nb\\r\\tc"},
        {"terminal escapes", "\x1b]0;title\x07\x1b[2J", 1000, "\\x1b]0;title\\x07\\x1b[2J"},
        {"NUL and DEL", std::string("a\0b\x7f", 4), 1000, "a\\x00b\\x7f"},
        {"C1 control (CSI)", "\xc2\x9b" "31m", 1000, "\\u009b31m"},
        {"line separator and bidi override", "a\xe2\x80\xa8" "b\xe2\x80\xae" "c", 1000, "a\\u2028b\\u202ec"},
        {"invalid bytes", "\xff\x80", 1000, "\\xff\\x80"},
        {"cut sequence at the end", "ab\xc3", 1000, "ab\\xc3"},
        {"overlong slash", "\xc0\xaf", 1000, "\\xc0\\xaf"},
        {"surrogate", "\xed\xa0\x80", 1000, "\\xed\\xa0\\x80"},
        {"beyond U+10FFFF", "\xf4\x90\x80\x80", 1000, "\\xf4\\x90\\x80\\x80"},
        {"four-byte character kept", "\xf0\x9f\x92\xa1", 1000, "\xf0\x9f\x92\xa1"},
        {"long ASCII", hundred, 64, tenDigits + "[... 80 bytes left out ...]" + tenDigits},
        {"long UTF-8", umlauts, 64,
         umlauts.substr(0, 10) + "[... 80 bytes left out ...]" + umlauts.substr(0, 10)},
        {"cut between characters, head", std::string("a") + umlauts, 64,
         std::string("a") + umlauts.substr(0, 8) + "[... 82 bytes left out ...]" + umlauts.substr(0, 10)},
        {"cut between characters, tail", umlauts + "a", 64,
         umlauts.substr(0, 10) + "[... 82 bytes left out ...]" + umlauts.substr(0, 8) + "a"},
        {"cut between escapes", breaks, 64, "\\n\\n\\n\\n\\n[... 90 bytes left out ...]\\n\\n\\n\\n\\n"},
    };
    for (const Case &c : cases) {
        const std::string shown = printable(c.text, c.limit);
        EXPECT_EQ(shown, c.shown) << c.name;
        EXPECT_EQ(printable(shown, c.limit), shown) << c.name;
    }

    const std::string huge(10'000'000, '\n');
    const std::string shown = printable(huge);
    EXPECT_LE(shown.size(), portio::LineLimit);
    EXPECT_NE(shown.find(" bytes left out ...]"), std::string::npos);
}

TEST(Printable, everyNoticeIsOneBoundedLine)
{
    struct Case
    {
        std::string source, text;
        std::string said; // "" for: any single line of at most LineLimit bytes
    };
    const Case cases[] = {
        {"hidrelay:AB\x1b[2J", "gone\nLPT1: forged", "hidrelay:AB\\x1b[2J: gone\\nLPT1: forged\n"},
        {"register:" + std::string(10'000'000, 'x'), "cannot be opened", ""},
        {"sacn:1", std::string(10'000'000, '\n'), ""},
    };
    for (const Case &c : cases) {
        testing::internal::CaptureStderr();
        portio::notice(c.source, c.text);
        const std::string said = testing::internal::GetCapturedStderr();
        if (!c.said.empty()) {
            EXPECT_EQ(said, c.said);
        } else {
            EXPECT_LE(said.size(), portio::LineLimit + 1);
            EXPECT_EQ(said.find('\n'), said.size() - 1) << said;
        }
    }
}
