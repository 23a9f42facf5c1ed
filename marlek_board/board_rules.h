// What a board library makes of the calls, whatever board is behind it: the
// meaning of the pin masks and of the output operations, the serial mode codes
// of each UART pair, the LED's device and settings, the operations' names and
// the error codes every board library gives the same meaning.
#ifndef MARLEK_BOARD_RULES_H
#define MARLEK_BOARD_RULES_H

#include <array>
#include <cstddef>
#include <cstdint>

namespace marlek_board {

inline constexpr int PIN_COUNT = 8;
inline constexpr int SERIAL_PAIR_COUNT = 2;

// MarlekLedConfig: the user LED's device number, and its two settings.
inline constexpr uint8_t LED_DEVICE = 7;
inline constexpr uint8_t LED_ON = 0;
inline constexpr uint8_t LED_OFF = 1;

enum class SerialMode : uint8_t { Unset, Rs232, Rs485, Rs422 };

// Which pair (0: UART 1 and 2, 1: UART 3 and 4) and mode a serial mode code
// selects; false for an unknown code.
bool DecodeSerialMode(uint8_t code, int& pair, SerialMode& mode);

const char* SerialModeName(SerialMode mode);

// Marlek_DIOSetConfig: what each pin becomes.
enum class PinDrive : uint8_t { Input, PushPull, OpenDrain };

// A set bit of the output mask makes the pin an output; of those, a set bit of
// the push-pull mask makes it push-pull, a clear one open-drain.
PinDrive DriveOfPin(uint8_t outputMask, uint8_t pushPullMask, int pin);

// The output operations drive the pins that are outputs and enabled; the
// others keep their level.
inline uint8_t PinsToDrive(uint8_t outputMask, uint8_t enableMask) {
    return static_cast<uint8_t>(outputMask & enableMask);
}

// The levels driven after data is driven on the pins of driven.
inline uint8_t DrivenLevels(uint8_t levels, uint8_t data, uint8_t driven) {
    return static_cast<uint8_t>((levels & ~driven) | (data & driven));
}

// The eleven operations of the board library.
enum class Operation {
    DIOInit,
    DIOFree,
    DIOSetConfig,
    DIOInputByte,
    DIOInputBit,
    DIOOutputByte,
    DIOOutputBit,
    LedConfig,
    SerialConfig,
    GetLastError,
    GetErrorString,
};
inline constexpr int OPERATION_COUNT = 11;

inline constexpr std::array<const char*, OPERATION_COUNT> OPERATION_NAMES{
    "Marlek_DIOInit",      "Marlek_DIOFree",       "Marlek_DIOSetConfig", "Marlek_DIOInputByte",
    "Marlek_DIOInputBit",  "Marlek_DIOOutputByte", "Marlek_DIOOutputBit", "MarlekLedConfig",
    "MarlekSerialConfig",  "KVTGetLastError",      "kvtGetErrorString",
};

inline const char* OperationName(Operation operation) {
    return OPERATION_NAMES[static_cast<std::size_t>(operation)];
}

// The error codes that mean the same on every board; each library adds its own
// above them.
enum ErrorCode : uint8_t {
    ERROR_NONE = 0,
    ERROR_NOT_INITIALISED = 1,
    ERROR_ALREADY_INITIALISED = 2,
    ERROR_PIN_OUT_OF_RANGE = 3,
    ERROR_INVALID_ARGUMENT = 4,
    ERROR_NO_SUCH_DEVICE = 6,
};

}  // namespace marlek_board

#endif  // MARLEK_BOARD_RULES_H
