#include "board_rules.h"

namespace marlek_board {

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

PinDrive DriveOfPin(uint8_t outputMask, uint8_t pushPullMask, int pin) {
    const unsigned bit = 1u << pin;
    if ((outputMask & bit) == 0) return PinDrive::Input;
    return (pushPullMask & bit) != 0 ? PinDrive::PushPull : PinDrive::OpenDrain;
}

}  // namespace marlek_board
