// uartmode: switches the board's serial ports, in the pairs UART 1 and 2 and
// UART 3 and 4, between RS-232, RS-485 and RS-422.
#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "com_port_menu.h"
#include "command_line.h"
#include "console.h"
#include "marlek_lib.h"

namespace {

constexpr int UART_COUNT = 4;
constexpr int MODE_COUNT = 3;  // 0 RS-232, 1 RS-485, 2 RS-422
constexpr int32_t RS232 = 0;
// The mode prompt before its first answer: refused like any mode out of range.
constexpr int32_t NO_MODE = -1;

enum class UartPair { Uarts1And2 = 0, Uarts3And4 = 1 };

// The code the library takes for each pair and mode.
constexpr std::array<std::array<uint8_t, MODE_COUNT>, 2> SERIAL_MODE_CODES{{
    {0x01, 0x00, 0x0C},  // UART 1 and 2
    {0x03, 0x02, 0x22},  // UART 3 and 4
}};

// The COM port number of UART n at index n - 1, worked out once from the first.
std::array<int32_t, UART_COUNT> uartPorts{};

// UART n has the number first + n - 1, wrapping in 32 bits.
std::array<int32_t, UART_COUNT> PortNumbers(int32_t first) {
    std::array<int32_t, UART_COUNT> ports{};
    for (int uart = 0; uart < UART_COUNT; ++uart) {
        ports[static_cast<size_t>(uart)] =
            static_cast<int32_t>(static_cast<uint32_t>(first) + static_cast<uint32_t>(uart));
    }
    return ports;
}

uint8_t SerialModeCode(UartPair pair, int32_t mode) {
    return SERIAL_MODE_CODES[static_cast<size_t>(pair)][static_cast<size_t>(mode)];
}

// Asks until the answer is a mode: 0, 1 or 2, or Enter alone for RS-232.
// Nothing at end of input.
std::optional<int32_t> PromptSerialMode() {
    LineBuffer modeLine{};
    int32_t mode = NO_MODE;
    for (;;) {
        Print("\nSelect below required mode:\n\n");
        Print("0 - RS232,");
        Print("  1 - RS485");
        Print("  and 2 - RS422  Default:RS232 Hit Enter\n");
        if (!ReadLine(modeLine)) return std::nullopt;
        if (modeLine[0] == '\n') mode = RS232;
        ParseNumber(LineText(modeLine), mode);
        if (static_cast<uint32_t>(mode) < static_cast<uint32_t>(MODE_COUNT)) return mode;
        Print("\nWRONG INPUT !!! : Select Mode as per the options\n");
    }
}

OperationEnd SelectPairMode(UartPair pair) {
    const std::optional<int32_t> mode = PromptSerialMode();
    if (!mode) return OperationEnd::EndOfInput;
    const size_t firstUart = 2 * static_cast<size_t>(pair);
    PortPair ports{uartPorts[firstUart], uartPorts[firstUart + 1]};
    const int firstNumber = static_cast<int>(firstUart) + 1;
    if (MarlekSerialConfig(SerialModeCode(pair, *mode), &ports) == 0) {
        std::printf("\nPORTS %d & %d are changed to %d Mode\n\n", firstNumber, firstNumber + 1,
                    static_cast<int>(*mode));
    } else {
        ReportLibraryError(LibOperation::SerialConfig);
        std::printf("\nPORTS %d & %d are not changed to %d Mode\nEnter to continue\n\n", firstNumber,
                    firstNumber + 1, static_cast<int>(*mode));
        WaitForKey();
    }
    return OperationEnd::MenuAgain;
}

OperationEnd SelectUarts1And2() { return SelectPairMode(UartPair::Uarts1And2); }

OperationEnd SelectUarts3And4() { return SelectPairMode(UartPair::Uarts3And4); }

constexpr std::array<const char*, 2> MENU_ITEMS{
    "1. Select mode for UART 1 and UART 2\n",
    "2. Select mode for UART 3 and UART 4\n",
};
constexpr std::array<MenuOperation, 2> MENU_OPERATIONS{SelectUarts1And2, SelectUarts3And4};

constexpr ProgramAbout UARTMODE{"uartmode", "Switches the serial port pairs between RS-232, RS-485 and RS-422."};

}  // namespace

int main(int argc, char** argv) {
    if (const std::optional<int> status = AnswerCommandLine(UARTMODE, argc, argv)) return *status;
    LineBuffer line{};  // the first port number, then each menu choice
    const std::optional<int32_t> first = AskFirstComPort("Enter first COM port number:\n", line);
    if (!first) return 0;
    uartPorts = PortNumbers(*first);
    RunComPortMenu({"\n\tCOM PORTS SELECTION: Main Menu \n", MENU_ITEMS, MENU_OPERATIONS}, line);
    return 0;
}
