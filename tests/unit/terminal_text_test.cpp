#include <gtest/gtest.h>

#include <string>

#include "terminal_text.h"

namespace marlek_board {
namespace {

std::string Escape(const std::string& text, size_t size = 256, bool quoted = false) {
    std::string out(size, '?');
    const size_t used = quoted ? QuoteForTerminal(text.data(), text.size(), out.data(), size)
                               : EscapeForTerminal(text.data(), text.size(), out.data(), size);
    EXPECT_EQ(out[used], '\0');
    out.resize(used);
    return out;
}

TEST(TerminalText, EscapesWhatWouldActOnTheTerminal) {
    const struct {
        std::string text;
        std::string shown;
        size_t unprintableAt;
        size_t controlLength;  // of the control character at unprintableAt
    } cases[] = {
        {"board.conf", "board.conf", 10, 0},
        {"C:\\Temp\\b.conf", "C:\\Temp\\b.conf", 14, 0},              // a backslash stays
        {"gr\xc3\xbcn \xe2\x82\xac \xf0\x9f\x92\xa1", "gr\xc3\xbcn \xe2\x82\xac \xf0\x9f\x92\xa1", 14, 0},
        {"\x1b]0;x\x07\x1b[2J", "\\x1b]0;x\\x07\\x1b[2J", 0, 1},     // sets the title, clears the screen
        {"a\tb\nc\rd", "a\\tb\\nc\\rd", 1, 1},
        {"del\x7f", "del\\x7f", 3, 1},
        {"csi\x9b" "2J", "csi\\x9b2J", 3, 1},                          // C1 as one byte
        {"csi\xc2\x9b" "2J", "csi\\xc2\\x9b2J", 3, 2},                 // C1 in UTF-8
        {"nbsp\xc2\xa0", "nbsp\xc2\xa0", 6, 0},                        // the first character past C1
        // Direction and separator characters, which reorder or break a line.
        {"a\xe2\x80\xae" "b", "a\\xe2\\x80\\xaeb", 1, 3},             // U+202E, right-to-left override
        {"\xe2\x80\x8e\xe2\x80\x8f", "\\xe2\\x80\\x8e\\xe2\\x80\\x8f", 0, 3},   // U+200E, U+200F
        {"\xe2\x80\xa8\xe2\x80\xa9", "\\xe2\\x80\\xa8\\xe2\\x80\\xa9", 0, 3},   // U+2028, U+2029
        {"\xe2\x80\xaa", "\\xe2\\x80\\xaa", 0, 3},                     // U+202A
        {"\xe2\x81\xa6\xe2\x81\xa9", "\\xe2\\x81\\xa6\\xe2\\x81\\xa9", 0, 3},   // U+2066, U+2069
        {"\xe2\x80\xa7\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa", "\xe2\x80\xa7\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa", 12, 0},
        {"\xc3", "\\xc3", 0, 0},                                       // cut short
        {"\xc0\xaf", "\\xc0\\xaf", 0, 0},                              // overlong
        {"\xed\xa0\x80", "\\xed\\xa0\\x80", 0, 0},                     // a surrogate
        {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80", 0, 0},            // above U+10FFFF
        {"\xff\xfe", "\\xff\\xfe", 0, 0},
        {std::string("nul\0x", 5), "nul\\x00x", 3, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Escape(c.text), c.shown) << c.shown;
        EXPECT_EQ(UnprintableAt(c.text.data(), c.text.size()), c.unprintableAt) << c.shown;
        const size_t at = c.unprintableAt;
        EXPECT_EQ(ControlLength(c.text.data() + at, c.text.size() - at), c.controlLength) << c.shown;
    }
}

// A quoted word reads back to one text only: the backslash and the quote are
// escaped as well, and escaping the result again changes nothing.
TEST(TerminalText, QuotedWordsReadBackToOneText) {
    const struct {
        std::string text;
        std::string shown;
    } cases[] = {
        {"marlek", "marlek"},
        {"\\x1b", "\\\\x1b"},                   // four characters, not an escaped ESC
        {"\x1b", "\\x1b"},
        {"marlek\", free", "marlek\\\", free"},  // cannot close the quotes around it
        {"C:\\b\"\xe2\x80\xae", "C:\\\\b\\\"\\xe2\\x80\\xae"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Escape(c.text, 256, true), c.shown) << c.shown;
        EXPECT_EQ(Escape(c.shown), c.shown) << c.shown;
        EXPECT_STREQ(QuotedWord(c.text.c_str()).text, c.shown.c_str());
    }
    EXPECT_STREQ(QuotedWord("\"consumer\"", 4).text, "\\\"con");
}

TEST(TerminalText, CutsBeforeAWholeCharacterOrEscape) {
    const struct {
        std::string text;
        size_t size;
        std::string shown;
        bool quoted;
    } cases[] = {
        {"abc", 3, "ab", false},
        {"a\xe2\x82\xac", 4, "a", false},    // the euro sign needs three bytes and the NUL
        {"a\x1b", 5, "a", false},            // \x1b needs four
        {"a\xc2\x9b", 9, "a", false},        // both bytes of a C1 control go together
        {"a\xc2\x9b", 10, "a\\xc2\\x9b", false},
        {"a\xe2\x80\xae", 13, "a", false},   // and the three of a direction character
        {"a\\", 3, "a", true},               // \\ needs two
        {"x", 1, "", false},
    };
    for (const auto& c : cases) EXPECT_EQ(Escape(c.text, c.size, c.quoted), c.shown) << c.shown;
}

}  // namespace
}  // namespace marlek_board
