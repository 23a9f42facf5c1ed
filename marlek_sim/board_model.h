// The simulated board: eight GPIO pins, the user LED and the serial port pairs.
#ifndef MARLEK_SIM_BOARD_MODEL_H
#define MARLEK_SIM_BOARD_MODEL_H

#include <array>
#include <cstdint>

#include "board_rules.h"

namespace marlek_sim {

using marlek_board::DecodeSerialMode;
using marlek_board::SERIAL_PAIR_COUNT;
using marlek_board::SerialMode;
using marlek_board::SerialModeName;

struct SerialPairState {
    SerialMode mode = SerialMode::Unset;
    int32_t firstPort = 0;
    int32_t secondPort = 0;
};

struct Board {
    uint8_t outputMask = 0;        // bit set: pin is an output
    uint8_t pushPullMask = 0;      // bit set: push-pull, clear: open-drain
    uint8_t drivenLevels = 0;      // what the outputs drive
    uint8_t externalLevels = 0xFF; // what the outside world puts on the pins (pulled up)
    bool ledKnown = false;
    uint8_t ledSetting = 1;        // 0 on, 1 off
    int32_t ledPort = 0;
    std::array<SerialPairState, SERIAL_PAIR_COUNT> serialPairs{};
};

// The level on each pin: a push-pull output shows what it drives, an
// open-drain output driven low shows 0 and released shows the external level,
// an input shows the external level.
uint8_t PinLevels(const Board& board);

// Drives the pins that are outputs and enabled; the others keep their level.
void DriveOutputs(Board& board, uint8_t data, uint8_t enableMask);

}  // namespace marlek_sim

#endif  // MARLEK_SIM_BOARD_MODEL_H
