// The simulated board: eight GPIO pins, the user LED and the serial port pairs.
#ifndef MARLEK_SIM_BOARD_MODEL_H
#define MARLEK_SIM_BOARD_MODEL_H

#include <array>
#include <cstdint>

namespace marlek_sim {

inline constexpr int SERIAL_PAIR_COUNT = 2;

enum class SerialMode : uint8_t { Unset, Rs232, Rs485, Rs422 };

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

// Which pair and mode a serial mode code selects; false for an unknown code.
bool DecodeSerialMode(uint8_t code, int& pair, SerialMode& mode);

const char* SerialModeName(SerialMode mode);

}  // namespace marlek_sim

#endif  // MARLEK_SIM_BOARD_MODEL_H
