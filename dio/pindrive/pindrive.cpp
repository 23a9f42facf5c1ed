// pindrive: sets the output drive of the GPIO pins, push-pull or open-drain,
// for all pins or naming one pin.
#include <cstdint>
#include <cstdio>
#include <optional>

#include "command_line.h"
#include "console.h"
#include "dio_frame.h"
#include "marlek_lib.h"

namespace {

// A pin prompt that has not yet been given a number: an answer without one is
// refused as any other out-of-range pin.
constexpr int32_t NO_PIN = -1;
constexpr uint8_t NO_OUTPUTS = 0x00;
constexpr uint8_t ALL_PUSH_PULL = 0xFF;
constexpr uint8_t ALL_OPEN_DRAIN = 0x00;

// The last pin given at each prompt, kept for the whole run: an answer without
// a number reuses it.
int32_t pushPullPin = NO_PIN;
int32_t openDrainPin = NO_PIN;

// Applies the push-pull mask to all eight pins; reports a failure.
bool SetDrive(uint8_t pushPullMask) {
    if (Marlek_DIOSetConfig(NO_OUTPUTS, pushPullMask) == 0) return true;
    ReportAndWait(LibOperation::DIOSetConfig);
    return false;
}

OperationEnd AllPushPull() {
    if (SetDrive(ALL_PUSH_PULL)) Print("\nGPIO:(0-7) Pins are configured as PushPull\n\n");
    return OperationEnd::MenuAgain;
}

OperationEnd AllOpenDrain() {
    if (SetDrive(ALL_OPEN_DRAIN)) Print("\nGPIO:(0-7) Pins are configured as Opendrain\n\n");
    return OperationEnd::MenuAgain;
}

OperationEnd PinPushPull() {
    OperationEnd end = OperationEnd::MenuAgain;
    if (!AskForPin("Enter GPIO Number:(0-7):\n", pushPullPin, end)) return end;
    if (SetDrive(PinToMask(pushPullPin))) {
        std::printf("\nGPIO:%d pin configured as PushPull\n\n", static_cast<int>(pushPullPin));
    }
    return OperationEnd::MenuAgain;
}

// Makes the same call as AllOpenDrain: the pin is named only in the message.
OperationEnd PinOpenDrain() {
    OperationEnd end = OperationEnd::MenuAgain;
    if (!AskForPin("Enter GPIO Number:(0-7) \n", openDrainPin, end)) return end;
    if (SetDrive(ALL_OPEN_DRAIN)) {
        std::printf("\nGPIO:%d pin is configured as Opendrain\n\n", static_cast<int>(openDrainPin));
    }
    return OperationEnd::MenuAgain;
}

constexpr DioMenu PINDRIVE_MENU{
    "\nDIO Pushpull or Opendrain: Main Menu \n",
    {
        "1) Push pull configuration for all GPIO Pins\n",
        "2) Opendrine configuration for all GPIO Pins\n",
        "3) Push pull configuration for GPIO Pin:(BitConfig)\n",
        "4) Opendrain configuration for all GPIO Pin:(BitConfig)\n",
    },
    {AllPushPull, AllOpenDrain, PinPushPull, PinOpenDrain},
};

constexpr ProgramAbout PINDRIVE{"pindrive", "Sets the output drive of the GPIO pins: push-pull or open-drain."};

}  // namespace

int main(int argc, char** argv) {
    if (const std::optional<int> status = AnswerCommandLine(PINDRIVE, argc, argv)) return *status;
    return RunDioProgram(PINDRIVE_MENU);
}
