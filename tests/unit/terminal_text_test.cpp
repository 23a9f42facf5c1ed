#include <gtest/gtest.h>

#include <string>

#include "terminal_text.h"

namespace marlek_board {
namespace {

std::string Escape(const std::string& text, size_t size = 256) {
    std::string out(size, '?');
    const size_t used = EscapeForTerminal(text.data(), text.size(), out.data(), size);
    EXPECT_EQ(out[used], '\0');
    out.resize(used);
    return out;
}

TEST(TerminalText, EscapesWhatWouldActOnTheTerminal) {
    const struct {
        std::string text;
        std::string shown;
        size_t unprintableAt;
    } cases[] = {
        {"board.conf", "board.conf", 10},
        {"C:\\Temp\\b.conf", "C:\\Temp\\b.conf", 14},              // a backslash stays
        {"gr\xc3\xbcn \xe2\x82\xac \xf0\x9f\x92\xa1", "gr\xc3\xbcn \xe2\x82\xac \xf0\x9f\x92\xa1", 14},
        {"\x1b]0;x\x07\x1b[2J", "\\x1b]0;x\\x07\\x1b[2J", 0},     // sets the title, clears the screen
        {"a\tb\nc\rd", "a\\tb\\nc\\rd", 1},
        {"del\x7f", "del\\x7f", 3},
        {"csi\x9b" "2J", "csi\\x9b2J", 3},                          // C1 as one byte
        {"csi\xc2\x9b" "2J", "csi\\xc2\\x9b2J", 3},                 // C1 in UTF-8
        {"nbsp\xc2\xa0", "nbsp\xc2\xa0", 6},                        // the first character past C1
        {"\xc3", "\\xc3", 0},                                       // cut short
        {"\xc0\xaf", "\\xc0\\xaf", 0},                              // overlong
        {"\xed\xa0\x80", "\\xed\\xa0\\x80", 0},                     // a surrogate
        {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80", 0},            // above U+10FFFF
        {"\xff\xfe", "\\xff\\xfe", 0},
        {std::string("nul\0x", 5), "nul\\x00x", 3},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Escape(c.text), c.shown) << c.shown;
        EXPECT_EQ(UnprintableAt(c.text.data(), c.text.size()), c.unprintableAt) << c.shown;
    }
}

TEST(TerminalText, CutsBeforeAWholeCharacterOrEscape) {
    const struct {
        std::string text;
        size_t size;
        std::string shown;
    } cases[] = {
        {"abc", 3, "ab"},
        {"a\xe2\x82\xac", 4, "a"},    // the euro sign needs three bytes and the NUL
        {"a\x1b", 5, "a"},            // \x1b needs four
        {"a\xc2\x9b", 9, "a"},        // both bytes of a C1 control go together
        {"a\xc2\x9b", 10, "a\\xc2\\x9b"},
        {"x", 1, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(Escape(c.text, c.size), c.shown) << c.shown;
}

}  // namespace
}  // namespace marlek_board
