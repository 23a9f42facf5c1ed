#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <cstdio>
#include <string>
#include <vector>

#include "board_picture.h"
#include "change_lines.h"
#include "recent_lines.h"
#include "watch_options.h"

namespace marlek_board::view {
namespace {

template <typename Print>
std::string Printed(Print print) {
    std::FILE* file = std::tmpfile();
    EXPECT_NE(file, nullptr);
    if (file == nullptr) return "";
    print(file);
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
    std::fclose(file);
    return text;
}

constexpr const char* RULE = "--------------------------------------------------------------------\n";

TEST(BoardView, PinTableShowsTheRowsAndMarksThePictureHas) {
    // The simulated board: every pin held, its external level known.
    BoardPicture simulated;
    for (size_t pin = 0; pin < PICTURE_PINS; ++pin) {
        const bool output = pin >= 4;
        simulated.pins[pin] = {true, output, pin % 2 == 0, output ? LevelOf(pin == 7) : Level::Unknown,
                               Level::High, LevelOf(pin != 4)};
    }
    // A real board: no external levels, pins 6 and 7 held by no program, the
    // level of pin 1 not known.
    BoardPicture real;
    for (size_t pin = 0; pin < 6; ++pin) real.pins[pin] = {true, pin == 5, pin == 5, LevelOf(pin == 5), Level::Unknown, LevelOf(pin == 5)};
    real.pins[1].read = Level::Unknown;
    // Held pins alone, one with an output whose level is not known.
    BoardPicture unknownOut = real;
    for (size_t pin = 6; pin < PICTURE_PINS; ++pin) unknownOut.pins[pin] = real.pins[0];
    unknownOut.pins[1].read = Level::Low;
    unknownOut.pins[5].driven = Level::Unknown;
    const std::string head = std::string(RULE) + "GPIO:\t7\t6\t5\t4\t3\t2\t1\t0\n" + RULE;
    const struct {
        const char* name;
        const BoardPicture& picture;
        std::string table;
    } cases[] = {
        {"simulated", simulated,
         head + "DIR:\tout\tout\tout\tout\tin\tin\tin\tin\n"
                "DRIVE:\tod\tpp\tod\tpp\tod\tpp\tod\tpp\n"
                "OUT:\t1\t0\t0\t0\t-\t-\t-\t-\n"
                "EXT:\t1\t1\t1\t1\t1\t1\t1\t1\n"
                "DATA:\t1\t1\t1\t0\t1\t1\t1\t1\n" +
             RULE +
             "DIR in or out; DRIVE pp push-pull, od open-drain; OUT what an output drives;\n"
             "EXT the level from outside; DATA the level a read gives.\n"},
        {"real", real,
         head + "DIR:\t-\t-\tout\tin\tin\tin\tin\tin\n"
                "DRIVE:\t-\t-\tpp\tod\tod\tod\tod\tod\n"
                "OUT:\t-\t-\t1\t-\t-\t-\t-\t-\n"
                "DATA:\t-\t-\t1\t0\t0\t0\t?\t0\n" +
             RULE +
             "DIR in or out, - held by no program; DRIVE pp push-pull, od open-drain;\n"
             "OUT what an output drives; DATA the level a read gives; ? not known.\n"},
        {"unknown output", unknownOut,
         head + "DIR:\tin\tin\tout\tin\tin\tin\tin\tin\n"
                "DRIVE:\tod\tod\tpp\tod\tod\tod\tod\tod\n"
                "OUT:\t-\t-\t?\t-\t-\t-\t-\t-\n"
                "DATA:\t0\t0\t1\t0\t0\t0\t0\t0\n" +
             RULE +
             "DIR in or out; DRIVE pp push-pull, od open-drain; OUT what an output drives;\n"
             "DATA the level a read gives; ? not known.\n"},
    };
    for (const auto& c : cases) {
        const std::string table = Printed([&](std::FILE* out) { PrintPinTable(out, c.picture); });
        EXPECT_EQ(table, c.table) << c.name;
        // The live view measures the window by it.
        EXPECT_EQ(PinTableRows(c.picture), static_cast<int>(std::count(table.begin(), table.end(), '\n'))) << c.name;
    }
}

TEST(BoardView, TextsFromOutsideAreKeptEscaped) {
    BoardPicture picture;
    picture.SetLed(true, "on \x1b]0;owned\x07");
    EXPECT_TRUE(picture.AddRow("Next run:", "one\ntwo"));
    for (size_t i = 1; i < MAX_EXTRA_ROWS; ++i) EXPECT_TRUE(picture.AddRow("Next run:", "x"));
    EXPECT_FALSE(picture.AddRow("Next run:", "one too many"));
    EXPECT_STREQ(picture.led, "on \\x1b]0;owned\\x07");
    EXPECT_STREQ(picture.extra[0].text, "one\\ntwo");
    const std::string escaped = Printed([](std::FILE* out) { WriteEscaped(out, "a\x1b[2J\xc2\x9b\xe2\x82 \xc3\xa9\t"); });
    EXPECT_EQ(escaped, "a\\x1b[2J\\xc2\\x9b\\xe2\\x82 \xc3\xa9\\t");
}

TEST(BoardView, WatchOptions) {
    const struct {
        std::vector<const char*> args;
        uint64_t count;
        uint64_t timeout;
        std::string problem;  // empty: read
    } cases[] = {
        {{}, 0, 0, ""},
        {{"--timeout", "0.25", "--count", "3"}, 3, 250, ""},
        {{"--count", "4294967295"}, 4294967295u, 0, ""},
        {{"--timeout", "5"}, 0, 5000, ""},
        {{"--timeout", "1.5"}, 0, 1500, ""},
        {{"--timeout", "0.001"}, 0, 1, ""},
        {{"--timeout", "999999999.999"}, 0, 999999999999u, ""},
        {{"now"}, 0, 0, "watch takes [--count N] [--timeout SECONDS], not 'now'"},
        {{"--count"}, 0, 0, "--count needs a value"},
        {{"--count", "1", "--count", "1"}, 0, 0, "--count is given twice"},
        {{"--timeout", "1", "--timeout", "x"}, 0, 0, "--timeout is given twice"},
        {{"--count", "0"}, 0, 0, "--count must be a number of changes from 1, not '0'"},
        {{"--count", "4294967296"}, 0, 0, "--count must be a number of changes from 1, not '4294967296'"},
        {{"--count", "+1"}, 0, 0, "--count must be a number of changes from 1, not '+1'"},
    };
    for (const auto& c : cases) {
        WatchOptions options;
        char problem[OPTION_PROBLEM_SIZE] = "";
        const bool read = ReadWatchOptions(c.args.data(), c.args.size(), options, problem, sizeof problem);
        EXPECT_EQ(read, c.problem.empty()) << c.problem;
        EXPECT_EQ(problem, c.problem);
        if (read) {
            EXPECT_EQ(options.count, c.count);
            EXPECT_EQ(options.timeoutMillis, c.timeout);
        }
    }
    for (const char* refused : {"0", "0.0", "0.0005", ".5", "5.", "1.", "1e3", "-1", " 1", "1000000000", "1.2.3", ""}) {
        uint64_t millis = 0;
        EXPECT_FALSE(ParseSeconds(refused, millis)) << refused;
    }
    // A long argument is quoted cut, before a whole character.
    std::string word(300, 'x');
    for (size_t i = 1; i < word.size(); i += 2) word.replace(i - 1, 2, "\xc3\xa9");
    word = "a" + word;
    const char* args[] = {word.c_str()};
    WatchOptions options;
    char problem[OPTION_PROBLEM_SIZE] = "";
    ASSERT_FALSE(ReadWatchOptions(args, 1, options, problem, sizeof problem));
    EXPECT_EQ(std::string(problem), "watch takes [--count N] [--timeout SECONDS], not '" + word.substr(0, 255) + "...'");
}

TEST(BoardView, WatchEndsByCountOrTimeout) {
    WatchEnds counted(WatchOptions{2, 0});
    EXPECT_FALSE(counted.TimedOut());
    EXPECT_EQ(counted.WaitMillis(25), 25);
    EXPECT_EQ(counted.WaitMillis(-1), -1);
    EXPECT_FALSE(counted.Told());
    EXPECT_TRUE(counted.EndedShort());  // one of two
    EXPECT_TRUE(counted.Told());
    WatchEnds timed(WatchOptions{0, 1});
    while (!timed.TimedOut()) {
    }
    EXPECT_EQ(timed.WaitMillis(-1), 0);
    EXPECT_TRUE(timed.EndedShort());  // nothing told
    EXPECT_FALSE(timed.Told());
    EXPECT_FALSE(timed.EndedShort());
    const int long_wait = WatchEnds(WatchOptions{0, 60'000}).WaitMillis(-1);
    EXPECT_GT(long_wait, 59'000);
    EXPECT_LE(long_wait, 60'000);
}

TEST(BoardView, RecentLinesKeepTheNewestCut) {
    RecentLines recent;
    EXPECT_EQ(recent.Count(), 0u);
    for (int i = 0; i < 70; ++i) recent.Add(("change " + std::to_string(i)).c_str());
    ASSERT_EQ(recent.Count(), RecentLines::CAPACITY);
    EXPECT_STREQ(recent.Line(0), "change 6");
    EXPECT_STREQ(recent.Line(RecentLines::CAPACITY - 1), "change 69");
    recent.Add("pin 3 by \x1b[2Jpinio");
    EXPECT_STREQ(recent.Line(RecentLines::CAPACITY - 1), "pin 3 by \\x1b[2Jpinio");
    EXPECT_STREQ(recent.Line(0), "change 7");
    std::string accents = "ab";
    for (int i = 0; i < 300; ++i) accents += "\xc3\xa9";
    recent.Add(accents.c_str());
    EXPECT_EQ(std::string(recent.Line(RecentLines::CAPACITY - 1)), accents.substr(0, 2 + 2 * 254));
}

#ifndef _WIN32
TEST(BoardView, ClockStampOfAServiceTime) {
    // In order, so that each second's local time is taken once and kept.
    const char* zone = std::getenv("TZ");
    const std::string saved = zone != nullptr ? zone : "";
    setenv("TZ", "UTC", 1);
    tzset();
    const struct {
        int64_t millis;
        const char* stamp;
    } cases[] = {
        {1'765'400'587'215, "21:03:07.215"},
        {1'765'400'587'999, "21:03:07.999"},  // the same second
        {1'765'400'588'000, "21:03:08.000"},  // the next
        {1'765'400'587'005, "21:03:07.005"},  // back again
        {0, "00:00:00.000"},
        {-1, "23:59:59.999"},  // before 1970: the second before
    };
    for (const auto& c : cases) {
        char stamp[CLOCK_STAMP_SIZE];
        ClockStampAt(c.millis, stamp);
        EXPECT_STREQ(stamp, c.stamp) << c.millis;
    }
    if (zone != nullptr) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}
#endif

}  // namespace
}  // namespace marlek_board::view
