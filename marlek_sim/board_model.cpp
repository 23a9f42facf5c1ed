#include "board_model.h"

namespace marlek_sim {

uint8_t PinLevels(const Board& board) {
    const unsigned inputs = ~board.outputMask & board.externalLevels;
    const unsigned pushPull = board.outputMask & board.pushPullMask & board.drivenLevels;
    const unsigned openDrain =
        board.outputMask & ~board.pushPullMask & board.drivenLevels & board.externalLevels;
    return static_cast<uint8_t>(inputs | pushPull | openDrain);
}

void DriveOutputs(Board& board, uint8_t data, uint8_t enableMask) {
    board.drivenLevels =
        marlek_board::DrivenLevels(board.drivenLevels, data, marlek_board::PinsToDrive(board.outputMask, enableMask));
}

}  // namespace marlek_sim
