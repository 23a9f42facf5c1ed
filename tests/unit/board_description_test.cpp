#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "board_description.h"
#include "gpio.h"

namespace marlek_linux {
namespace {

const std::string PINS =
    "pin 0 marlek-dio DIO0\npin 1 marlek-dio DIO1\npin 2 marlek-dio DIO2\npin 3 marlek-dio DIO3\n"
    "pin 4 /dev/gpiochip3 4\npin 5 gpiochip3 5\npin 6 marlek-dio 6\npin 7 marlek-dio DIO7\n";
const std::string PAIR = "uart12 line ctl M0\nuart12 line ctl M1\nuart12 rs232 0 0\nuart12 rs485 0 1\nuart12 rs422 1 0\n";

bool Parse(const std::string& text, Description& description, std::string& problem) {
    char buffer[PROBLEM_SIZE];
    const bool ok = ParseDescription("board.conf", text.data(), text.size(), description, buffer);
    problem = buffer;
    return ok;
}

TEST(BoardDescription, ReadsEveryKindOfEntry) {
    static Description d;
    std::string problem;
    ASSERT_TRUE(Parse("# a board\n\n" + PINS + "led line ctl LED_GPIO active-low  # lit when low\n\t" + PAIR, d,
                      problem))
        << problem;
    EXPECT_STREQ(d.pins[0].chip, "marlek-dio");
    EXPECT_STREQ(d.pins[0].line, "DIO0");
    EXPECT_EQ(d.pins[0].sourceLine, 3);
    EXPECT_STREQ(d.pins[4].chip, "/dev/gpiochip3");
    EXPECT_STREQ(d.pins[5].line, "5");
    EXPECT_EQ(d.led.kind, LedKind::Line);
    EXPECT_TRUE(d.led.line.activeLow);
    const PairEntry& pair = d.pairs[0];
    EXPECT_EQ(pair.lineCount, 2);
    EXPECT_STREQ(pair.lines[1].line, "M1");
    // bit i: mode line i
    EXPECT_EQ(pair.values[0], 0u);
    EXPECT_EQ(pair.values[1], 2u);
    EXPECT_EQ(pair.values[2], 1u);
    EXPECT_EQ(d.pairs[1].lineCount, 0);
    EXPECT_FALSE(PairDescribed(d.pairs[1]));

    ASSERT_TRUE(Parse("uart34 tty1 ttyAMA0\nuart34 tty2 /dev/ttyS1\nuart34 rs485-delays 0 20\n", d, problem)) << problem;
    EXPECT_TRUE(PairDescribed(d.pairs[1]));
    EXPECT_STREQ(d.pairs[1].tty[0].data(), "/dev/ttyAMA0");
    EXPECT_STREQ(d.pairs[1].tty[1].data(), "/dev/ttyS1");
    EXPECT_EQ(d.pairs[1].delayAfterSend, 20u);

    // Saved on Windows: a byte order mark, CR LF line ends, a last line of
    // 1024 characters before its CR.
    const std::string longComment = "#" + std::string(1023, 'c');
    ASSERT_TRUE(Parse("\xef\xbb\xbfled class marlek:user\r\n" + longComment + "\r\n", d, problem)) << problem;
    EXPECT_EQ(d.led.kind, LedKind::Class);
    EXPECT_STREQ(d.led.className, "marlek:user");
    EXPECT_FALSE(d.anyPin);

    // Nothing described is no fault of the file: each call that needs a part
    // says that it is not described.
    for (const char* empty : {"", "# only a comment\n", "\xef\xbb\xbf\r\n"}) {
        ASSERT_TRUE(Parse(empty, d, problem)) << problem;
        EXPECT_FALSE(d.anyPin);
        EXPECT_EQ(d.led.kind, LedKind::None);
        EXPECT_FALSE(PairDescribed(d.pairs[0]) || PairDescribed(d.pairs[1]));
    }
}

// Every malformed line is found, each with its own line number; what spans
// lines is left until the lines are mended.
TEST(BoardDescription, ListsEveryProblem) {
    static Description d;
    std::string all;
    char first[PROBLEM_SIZE];
    const std::string text = "pin 9 a 0\nled\nled class x\nuart12 rs232 0\nbogus\n";
    const ProblemSink collect = [](const char* problem, void* context) {
        *static_cast<std::string*>(context) += std::string(problem) + "\n";
    };
    EXPECT_FALSE(ParseDescription("b.conf", text.data(), text.size(), d, first, collect, &all));
    EXPECT_STREQ(first, "b.conf:1: \"9\" is not a pin: the pins are 0 to 7");
    EXPECT_EQ(all,
              "b.conf:1: \"9\" is not a pin: the pins are 0 to 7\n"
              "b.conf:2: expected 'led class NAME' or 'led line CHIP LINE [active-low]'\n"
              "b.conf:5: unknown entry \"bogus\"; an entry begins with pin, led, uart12 or uart34 (see "
              "marlek-board.conf(5))\n");
}

TEST(BoardDescription, EachFaultNamesTheLineAndTheFix) {
    const struct {
        std::string text;
        const char* problem;
    } cases[] = {
        {"pins 0 a b\n", "board.conf:1: unknown entry \"pins\""},
        {"pin 8 chip 1\n", "board.conf:1: \"8\" is not a pin: the pins are 0 to 7"},
        {"pin 01 chip 1\n", "\"01\" is not a pin"},
        {"pin -1 chip 1\n", "\"-1\" is not a pin"},
        {"pin 0 chip\n", "board.conf:1: expected 'pin N CHIP LINE'"},
        {"pin 0 chip 1 active-low\n", "expected 'pin N CHIP LINE'"},
        {"pin 0 a 0\npin 0 a 1\n", "board.conf:2: pin 0 is mapped on line 1 already"},
        {"pin 0 a 0\n", "board.conf: pins 1 2 3 4 5 6 7 are not mapped"},
        {PINS.substr(0, PINS.rfind("pin 7")), "board.conf: pin 7 is not mapped"},
        {"pin 0 " + std::string(300, 'c') + " 1\n", "the chip \"cccc"},
        {"pin 0 c " + std::string(32, 'l') + "\n", "is longer than 31 characters"},
        {"led\n", "expected 'led class NAME' or 'led line CHIP LINE [active-low]'"},
        {"led class ../x\n", "is not an LED name"},
        {"led class a b\n", "expected 'led class NAME'"},
        {"led line c 1 inverted\n", "\"inverted\" is not active-low"},
        {"led class a\nled class b\n", "board.conf:2: the LED is described on line 1 already"},
        {"uart12 rs232 0\n", "board.conf:1: uart12 rs232 gives values but uart12 has no mode lines"},
        {"uart34 line c 1\nuart34 rs232 0\nuart34 rs485 1\n", "board.conf:1: uart34 has mode lines but no rs422 values"},
        {"uart12 line c 1\nuart12 rs232 0 1\nuart12 rs485 1\nuart12 rs422 0\n", "board.conf:2: uart12 rs232 gives 2 values for 1 mode lines"},
        {"uart12 line c 1\nuart12 rs232 2\n", "board.conf:2: \"2\" is not a line value"},
        {"uart12 rs232\n", "expected 'uart12 rs232 V...'"},
        {"uart12 rs485 0\nuart12 rs485 1\n", "board.conf:2: uart12 rs485 is given on line 1 already"},
        {"uart12 line a 1\nuart12 line a 2\nuart12 line a 3\nuart12 line a 4\nuart12 line a 5\n", "board.conf:5: uart12 has 4 mode lines already"},
        {"uart12 mode 1\n", "expected 'uart12 line CHIP LINE', 'uart12 rs232|rs485|rs422 V...', 'uart12 tty1|tty2 TTY'"},
        {"uart12 tty1 a/b\n", "\"a/b\" is not a tty"},
        {"uart12 tty3 ttyS0\n", "expected 'uart12 line CHIP LINE'"},
        {"uart12 tty1 ttyS0\nuart12 tty1 ttyS1\n", "board.conf:2: uart12 tty1 is given on line 1 already"},
        {"uart12 tty1 ttyS0\nuart12 rs485-delays 1001 0\n", "board.conf:2: expected 'uart12 rs485-delays BEFORE AFTER'"},
        {"uart12 tty1 ttyS0\nuart12 rs485-delays 1\n", "expected 'uart12 rs485-delays BEFORE AFTER'"},
        {"uart34 rs485-delays 1 1\n", "board.conf:1: uart34 rs485-delays is given but uart34 names no tty"},
        {"pin 0 a b c d e f g h i\n", "board.conf:1: too many words"},
        {PINS + "led line marlek-dio DIO3\n",
         "board.conf:9: the LED: line DIO3 of marlek-dio is named for pin 3 on line 4 already"},
        {"uart12 line c 1\nuart12 line c 1\nuart12 rs232 0 0\nuart12 rs485 0 1\nuart12 rs422 1 0\n",
         "board.conf:2: uart12 mode line 2: line 1 of c is named for uart12 mode line 1 on line 1 already"},
        {PINS + PAIR + "uart34 line marlek-dio 6\nuart34 rs232 0\nuart34 rs485 0\nuart34 rs422 1\n",
         "board.conf:14: uart34 mode line 1: line 6 of marlek-dio is named for pin 6 on line 7 already"},
        {"uart12 tty1 ttyS1\nuart34 tty2 /dev/ttyS1\n",
         "board.conf:2: uart34 tty2: /dev/ttyS1 is named for uart12 tty1 on line 1 already"},
        {"uart12 tty1 ttyS1\nuart12 tty2 ttyS1\n", "board.conf:2: uart12 tty2: /dev/ttyS1 is named for uart12 tty1"},
        {"uart12 tty2 ttyS2\nuart34 tty2 /dev/ttyS2\n", "board.conf:2: uart34 tty2: /dev/ttyS2 is named for uart12 tty2"},
        {"led class " + std::string(128, 'n') + "\n", "the LED name \"nnnn"},
        {"led class a\rb\n", "board.conf:1: the line holds a carriage return (\\r) before its end"},
        {"led class a\r\r\n", "board.conf:1: the line holds a carriage return"},
        {"\xef\xbb\xbf\xef\xbb\xbfled class a\n", "board.conf:1: unknown entry \"\xef\xbb\xbfled\""},  // one mark only
        {"led class a\n" + std::string(1100, '#') + "\n", "board.conf:2: the line is longer than 1024 characters"},
        {std::string("led class a\0b\n", 14), "board.conf:1: the line holds a NUL byte"},
    };
    for (const auto& c : cases) {
        static Description d;
        std::string problem;
        EXPECT_FALSE(Parse(c.text, d, problem)) << c.text;
        EXPECT_NE(problem.find(c.problem), std::string::npos) << c.text << "\n gave: " << problem;
    }
}

TEST(BoardDescription, PathLongerThanItHolds) {
    static Description d;
    char problem[PROBLEM_SIZE];
    const std::string longest(PATH_TEXT_SIZE - 1, 'p');
    EXPECT_TRUE(ParseDescription(longest.c_str(), "", 0, d, problem));
    const std::string tooLong(PATH_TEXT_SIZE, 'p');
    EXPECT_FALSE(ParseDescription(tooLong.c_str(), "", 0, d, problem));
    EXPECT_NE(std::string(problem).find(": the path is longer than 4095 characters; name the description by a "
                                        "shorter one"),
              std::string::npos);
}

// How the parser reads a chip's or a line's word, and the word the draft
// offers for a chip: never one the parser would read as another chip.
TEST(BoardDescription, ChipAndLineWords) {
    const struct {
        const char* text;
        bool chipName;
        bool lineOffset;
    } words[] = {
        {"gpiochip0", true, false},   {"gpiochip9", true, false}, {"gpiochip19", true, false},
        {"gpiochip", false, false},   {"gpiochip1a", false, false}, {"xgpiochip1", false, false},
        {"gpiochip/1", false, false}, {"7", false, true},         {"10", false, true},
        {"1a", false, false},         {"-1", false, false},        {"", false, false},
    };
    for (const auto& w : words) {
        EXPECT_EQ(IsChipName(w.text), w.chipName) << w.text;
        EXPECT_EQ(IsLineOffset(w.text), w.lineOffset) << w.text;
    }
    const char* labels[] = {"marlek-dio", "/dev/gpiochip0", "gpiochip3", "two words", "a#b", "twice",
                            "twice",      "",               "gr\xc3\xbcn", "gpiochip"};
    const struct {
        const char* label;
        bool complete;
        const char* word;
    } cases[] = {
        {"marlek-dio", true, "marlek-dio"},
        {"marlek-dio", false, "gpiochip5"},    // a chip not opened may carry it too
        {"/dev/gpiochip0", true, "gpiochip5"},  // read as a path
        {"gpiochip3", true, "gpiochip5"},      // read as another chip's name
        {"two words", true, "gpiochip5"},
        {"a#b", true, "gpiochip5"},            // a comment from '#' on
        {"twice", true, "gpiochip5"},          // carried by two chips
        {"", true, "gpiochip5"},
        {"gr\xc3\xbcn", true, "gpiochip5"},    // not as the draft writes it
        {"gpiochip", true, "gpiochip"},        // no digits: a label
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(ChipWord("gpiochip5", c.label, labels, 10, c.complete), c.word) << c.label;
    }
}

}  // namespace
}  // namespace marlek_linux
