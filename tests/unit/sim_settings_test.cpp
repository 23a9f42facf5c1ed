#include <gtest/gtest.h>

#include "sim_settings.h"

namespace marlek_sim {
namespace {

TEST(SimSettings, FailureRules) {
    const Settings settings = ReadSettings(
        "Marlek_DIOInit;Marlek_DIOInputByte@010;MarlekLedConfig:09;kvtGetErrorString@3:7:off: line;", nullptr,
        nullptr);
    ASSERT_EQ(settings.problem, "");
    ASSERT_EQ(settings.failures.size(), 4u);
    EXPECT_EQ(settings.failures[0].operation, SimOperation::DIOInit);
    EXPECT_EQ(settings.failures[0].onCall, 0u);
    EXPECT_EQ(settings.failures[0].code, ERROR_INJECTED);
    EXPECT_EQ(settings.failures[0].detail, DEFAULT_INJECTED_DETAIL);
    EXPECT_EQ(settings.failures[1].operation, SimOperation::DIOInputByte);
    EXPECT_EQ(settings.failures[1].onCall, 10u);  // numbers are decimal, a leading zero too
    EXPECT_EQ(settings.failures[2].code, 9);
    EXPECT_EQ(settings.failures[3].operation, SimOperation::GetErrorString);
    EXPECT_EQ(settings.failures[3].onCall, 3u);
    EXPECT_EQ(settings.failures[3].code, 7);
    EXPECT_EQ(settings.failures[3].detail, "off: line");
}

TEST(SimSettings, UnreadableSettingsAreNamed) {
    const struct {
        const char* fail;
        const char* inputs;
    } cases[] = {
        {"Marlek_DIOInits", nullptr}, {"Marlek_DIOInit@0", nullptr}, {"Marlek_DIOInit@x", nullptr},
        {"Marlek_DIOInit:256", nullptr}, {"Marlek_DIOInit:-1", nullptr}, {"Marlek_DIOInit:", nullptr},
        {nullptr, "256"}, {nullptr, "0xfff"}, {nullptr, "ab"}, {nullptr, ""}, {nullptr, "-1"},
        // Blanks around a number, spaces and tabs alike, are refused everywhere.
        {nullptr, " 5"}, {nullptr, "\t5"}, {nullptr, "5 "}, {nullptr, "5\t"}, {"Marlek_DIOInit@ 2", nullptr},
        {"Marlek_DIOInit:\t9", nullptr}, {"Marlek_DIOInit:9 :text", nullptr},
        {"Marlek_DIOInit:0x09", nullptr},
    };
    for (const auto& c : cases) {
        const Settings settings = ReadSettings(c.fail, c.inputs, nullptr);
        // Named with its value, so that the operator sees which one to mend;
        // a tab in it is written out.
        std::string named = c.fail ? std::string("MARLEK_SIM_FAIL=") + c.fail + ": "
                                   : std::string("MARLEK_SIM_INPUTS=") + c.inputs + ": ";
        if (const size_t tab = named.find('\t'); tab != std::string::npos) named.replace(tab, 1, "\\t");
        EXPECT_EQ(settings.problem.substr(0, named.size()), named);
    }
}

TEST(SimSettings, FailureTextsArePrintableUtf8) {
    const struct {
        std::string text;
        const char* refusal;  // nullptr: taken
    } cases[] = {
        {"gr\xc3\xbcn \xe2\x82\xac", nullptr},
        {"\x1b[2J", "holds a control character (\\x1b)"},
        {"csi\x9b" "2J", "holds a control character (\\x9b)"},  // CSI of an 8-bit terminal
        {"csi\xc2\x9b" "2J", "holds a control character (\\xc2\\x9b)"},
        {"caf\xe9", "holds a byte that is not UTF-8 (\\xe9)"},
    };
    for (const auto& c : cases) {
        const Settings settings = ReadSettings(("Marlek_DIOInit:9:" + c.text).c_str(), nullptr, nullptr);
        if (c.refusal == nullptr) {
            EXPECT_EQ(settings.problem, "");
            ASSERT_EQ(settings.failures.size(), 1u);
            EXPECT_EQ(settings.failures[0].detail, c.text);
            continue;
        }
        EXPECT_NE(settings.problem.find(std::string("the text ") + c.refusal), std::string::npos) << settings.problem;
        EXPECT_EQ(UnprintableAt(settings.problem), std::string_view::npos) << settings.problem;
    }
}

TEST(SimSettings, InputLevelsAndTrace) {
    const Settings settings = ReadSettings(nullptr, "0xA5", "/tmp/trace");
    EXPECT_EQ(settings.externalLevels, 0xA5);
    EXPECT_EQ(settings.tracePath, "/tmp/trace");
    EXPECT_EQ(ReadSettings(nullptr, "255", nullptr).externalLevels, 255);
    EXPECT_EQ(ReadSettings(nullptr, nullptr, nullptr).externalLevels, std::nullopt);
}

}  // namespace
}  // namespace marlek_sim
