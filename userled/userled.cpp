// userled: switches the board's user LED on or off.
#include <array>
#include <cstdint>
#include <optional>

#include "com_port_menu.h"
#include "command_line.h"
#include "console.h"
#include "marlek_lib.h"

namespace {

constexpr uint8_t USER_LED_DEVICE = 7;
constexpr int32_t LED_OFF = 1;

int32_t comPort = 0;
// The last LED answer given in the run: an answer without a number repeats it.
int32_t ledAnswer = LED_OFF;

OperationEnd SelectUserLed() {
    LineBuffer ledLine{};
    Print("Enter option: 1-LED OFF\t0-LED ON\n");
    if (!ReadNumber(ledLine, ledAnswer)) return OperationEnd::EndOfInput;
    // Not validated: the library gets the low 8 bits of any number.
    uint8_t led = static_cast<uint8_t>(static_cast<uint32_t>(ledAnswer) & 0xFFu);
    if (MarlekLedConfig(USER_LED_DEVICE, &led, comPort) == 0) {
        Print("\nACCESSED USER LED\n\n");
    } else {
        ReportLibraryError(LibOperation::LedConfig);
        WaitForAcknowledgement("\nACEESSING USER LED: FAILED ***\nEnter to continue\n\n");
    }
    return OperationEnd::MenuAgain;
}

constexpr std::array<const char*, 1> MENU_ITEMS{"1. Select USER LED\n"};
constexpr std::array<MenuOperation, 1> MENU_OPERATIONS{SelectUserLed};

constexpr ProgramAbout USERLED{"userled", "Switches the user LED of the board on or off."};

}  // namespace

int main(int argc, char** argv) {
    if (const std::optional<int> status = AnswerCommandLine(USERLED, argc, argv)) return *status;
    LineBuffer line{};  // the port number, then each menu choice
    const std::optional<int32_t> port = AskFirstComPort("Enter the first COM Port number:\n", line);
    if (!port) return 0;
    comPort = *port;
    RunComPortMenu({"\n\t\tLED SELECTION: Main Menu \n", MENU_ITEMS, MENU_OPERATIONS}, line);
    return 0;
}
