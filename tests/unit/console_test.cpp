#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "command_line.h"
#include "console.h"
#include "terminal_text.h"

namespace {

LineBuffer Line(const char* text) {
    LineBuffer line{};
    std::strncpy(line.data(), text, line.size() - 1);
    return line;
}

struct NumberCase {
    const char* text;
    std::optional<int32_t> value;  // nothing: the line holds no number
};

TEST(ParseNumber, ReadsLikePercentDAndClamps) {
    const NumberCase cases[] = {
        {"5\n", 5},
        {"  \t42abc", 42},
        {"+7", 7},
        {"-1\n", -1},
        {"5q", 5},
        {"007", 7},
        {"2147483647", 2147483647},
        {"2147483648", 2147483647},
        {"4294967296", 2147483647},
        {"99999999999999999999999999", 2147483647},
        {"-2147483648", INT32_MIN},
        {"-99999999999", INT32_MIN},
        {"", std::nullopt},
        {"\n", std::nullopt},
        {"q5", std::nullopt},
        {"- 5", std::nullopt},
        {"+", std::nullopt},
        {"abc", std::nullopt},
    };
    for (const NumberCase& c : cases) {
        int32_t target = 1234;
        const bool parsed = ParseNumber(c.text, target);
        EXPECT_EQ(parsed, c.value.has_value()) << c.text;
        EXPECT_EQ(target, c.value.value_or(1234)) << c.text;
    }
}

TEST(ParseNumber, StopsAtTheEndOfTheView) {
    int32_t target = 0;
    EXPECT_TRUE(ParseNumber(std::string_view("123456", 2), target));
    EXPECT_EQ(target, 12);
}

TEST(ChoiceFromLine, QuitOnlyForLowerCaseQInTheFirstColumn) {
    const struct {
        const char* line;
        int32_t choice;
    } cases[] = {
        {"q\n", QUIT_CHOICE}, {"quit\n", QUIT_CHOICE}, {"113\n", QUIT_CHOICE}, {"q5\n", QUIT_CHOICE},
        {" q\n", 0},          {"Q\n", 0},              {"\n", 0},              {"", 0},
        {"3\n", 3},           {" 2x\n", 2},            {"-4\n", -4},
    };
    for (const auto& c : cases) EXPECT_EQ(ChoiceFromLine(Line(c.line)), c.choice) << c.line;
}

TEST(LineText, EndsAtTheNulOrTheBuffer) {
    EXPECT_EQ(LineText(Line("abc\n")), "abc\n");
    LineBuffer full;
    full.fill('7');  // no NUL at all
    EXPECT_EQ(LineText(full).size(), full.size());
}

TEST(Pins, MaskAndRangeCheck) {
    for (int32_t pin = 0; pin < GPIO_PIN_COUNT; ++pin) {
        EXPECT_TRUE(IsGpioPin(pin));
        EXPECT_EQ(PinToMask(pin), 1u << pin);
    }
    for (int32_t pin : {8, -1, 300, INT32_MIN, INT32_MAX}) {
        EXPECT_FALSE(IsGpioPin(pin)) << pin;
        EXPECT_EQ(PinToMask(pin), 0) << pin;
    }
}

// An argument is escaped a piece at a time; wherever a piece ends, in a
// character, a C1 pair or a run of stray continuation bytes, the whole reads
// as EscapeForTerminal shows the argument in one.
TEST(WriteForTerminal, PiecesReadAsTheWhole) {
    const char* tails[] = {"\xc3\xa9\xe2\x82\xac\xf0\x9f\x92\xa1\xc2\x9b\x1b\n",
                           "\x80\x80\x80\x80\x80\x80z\xe2\x82"};
    for (const char* tail : tails) {
        for (size_t lead = 50; lead <= 70; ++lead) {
            const std::string text = std::string(lead, 'a') + tail + std::string(lead, 'b') + tail;
            std::string whole(4 * text.size() + 1, '\0');
            whole.resize(marlek_board::EscapeForTerminal(text.data(), text.size(), whole.data(), whole.size()));
            std::FILE* out = std::tmpfile();
            ASSERT_NE(out, nullptr);
            WriteForTerminal(out, text.c_str());
            std::rewind(out);
            std::string written(whole.size() + 16, '\0');
            written.resize(std::fread(written.data(), 1, written.size(), out));
            std::fclose(out);
            EXPECT_EQ(written, whole) << lead;
        }
    }
}

}  // namespace
