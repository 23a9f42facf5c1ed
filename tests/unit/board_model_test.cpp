#include <gtest/gtest.h>

#include "board_model.h"

namespace marlek_sim {
namespace {

TEST(BoardModel, LevelOfEachKindOfPin) {
    const struct {
        const char* what;
        uint8_t output, pushPull, driven, external, levels;
    } cases[] = {
        {"inputs show the external levels", 0x00, 0xFF, 0xFF, 0x5A, 0x5A},
        {"push-pull outputs show what they drive", 0xFF, 0xFF, 0xA5, 0x00, 0xA5},
        {"open-drain driven low reads 0, released reads the outside", 0xFF, 0x00, 0xF0, 0x3C, 0x30},
        {"a mix: open-drain pins 2 and 3 released on low external levels", 0x0F, 0x03, 0x0F, 0xA0, 0xA3},
        {"open-drain released on a pulled-up pin", 0x80, 0x00, 0x80, 0xFF, 0xFF},
    };
    for (const auto& c : cases) {
        Board board;
        board.outputMask = c.output;
        board.pushPullMask = c.pushPull;
        board.drivenLevels = c.driven;
        board.externalLevels = c.external;
        EXPECT_EQ(PinLevels(board), c.levels) << c.what;
    }
}

TEST(BoardModel, OutputsDriveOnlyEnabledOutputPins) {
    Board board;
    board.outputMask = 0x0F;
    board.drivenLevels = 0xF0;  // left over on pins that are now inputs
    DriveOutputs(board, 0xFF, 0x03);
    EXPECT_EQ(board.drivenLevels, 0xF3);
    DriveOutputs(board, 0x00, 0xFF);
    EXPECT_EQ(board.drivenLevels, 0xF0);
}

TEST(BoardModel, SerialModeCodes) {
    const struct {
        uint8_t code;
        int pair;
        SerialMode mode;
    } cases[] = {
        {0x01, 0, SerialMode::Rs232}, {0x00, 0, SerialMode::Rs485}, {0x0C, 0, SerialMode::Rs422},
        {0x03, 1, SerialMode::Rs232}, {0x02, 1, SerialMode::Rs485}, {0x22, 1, SerialMode::Rs422},
    };
    for (const auto& c : cases) {
        int pair = -1;
        SerialMode mode = SerialMode::Unset;
        EXPECT_TRUE(DecodeSerialMode(c.code, pair, mode)) << int{c.code};
        EXPECT_EQ(pair, c.pair) << int{c.code};
        EXPECT_EQ(mode, c.mode) << int{c.code};
    }
    int pair = 0;
    SerialMode mode = SerialMode::Unset;
    EXPECT_FALSE(DecodeSerialMode(0x04, pair, mode));
}

}  // namespace
}  // namespace marlek_sim
