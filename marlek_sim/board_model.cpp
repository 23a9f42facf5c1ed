#include "board_model.h"

namespace marlek_sim {

namespace {

struct SerialCode {
    uint8_t code;
    int pair;
    SerialMode mode;
};

constexpr std::array<SerialCode, 6> SERIAL_CODES{{
    {0x01, 0, SerialMode::Rs232},
    {0x00, 0, SerialMode::Rs485},
    {0x0C, 0, SerialMode::Rs422},
    {0x03, 1, SerialMode::Rs232},
    {0x02, 1, SerialMode::Rs485},
    {0x22, 1, SerialMode::Rs422},
}};

}  // namespace

uint8_t PinLevels(const Board& board) {
    const unsigned inputs = ~board.outputMask & board.externalLevels;
    const unsigned pushPull = board.outputMask & board.pushPullMask & board.drivenLevels;
    const unsigned openDrain =
        board.outputMask & ~board.pushPullMask & board.drivenLevels & board.externalLevels;
    return static_cast<uint8_t>(inputs | pushPull | openDrain);
}

void DriveOutputs(Board& board, uint8_t data, uint8_t enableMask) {
    const unsigned driven = board.outputMask & enableMask;
    board.drivenLevels = static_cast<uint8_t>((board.drivenLevels & ~driven) | (data & driven));
}

bool DecodeSerialMode(uint8_t code, int& pair, SerialMode& mode) {
    for (const SerialCode& entry : SERIAL_CODES) {
        if (entry.code == code) {
            pair = entry.pair;
            mode = entry.mode;
            return true;
        }
    }
    return false;
}

const char* SerialModeName(SerialMode mode) {
    switch (mode) {
        case SerialMode::Unset: return "not set";
        case SerialMode::Rs232: return "RS-232";
        case SerialMode::Rs485: return "RS-485";
        case SerialMode::Rs422: return "RS-422";
    }
    return "?";
}

}  // namespace marlek_sim
