// pinio: reads and drives the eight GPIO pins, as a byte or one pin at a time.
#include <cstdint>
#include <cstdio>
#include <optional>

#include "command_line.h"
#include "console.h"
#include "dio_frame.h"
#include "marlek_lib.h"

namespace {

constexpr uint8_t ALL_PINS = 0xFF;
constexpr const char* PIN_PROMPT = "Enter GPIO Number:(0-7):\n";
constexpr const char* HYPHEN_RULE =
    "--------------------------------------------------------------------\r\n";

void PrintByteTable(uint8_t data) {
    Print(HYPHEN_RULE);
    Print("GPIO:\t7\t6\t5\t4\t3\t2\t1\t0\r\n");
    Print(HYPHEN_RULE);
    Print("DATA:");
    for (int32_t pin = GPIO_PIN_COUNT - 1; pin >= 0; --pin) {
        Print((data & PinToMask(pin)) != 0 ? "\t1" : "\t0");
    }
    Print("\n\n");
}

OperationEnd ReadByte() {
    uint8_t data = 0;
    if (Marlek_DIOInputByte(&data) != 0) {
        ReportAndWait(LibOperation::DIOInputByte);
        return OperationEnd::MenuAgain;
    }
    PrintByteTable(data);
    return OperationEnd::MenuAgain;
}

OperationEnd ReadBit() {
    uint8_t data = 0;
    int32_t pin = 0;
    OperationEnd end = OperationEnd::MenuAgain;
    if (!AskForPin(PIN_PROMPT, pin, end)) return end;
    if (Marlek_DIOInputBit(pin, &data) != 0) {
        ReportAndWait(LibOperation::DIOInputBit);
        return OperationEnd::MenuAgain;
    }
    std::printf("\nDATA: GPIO%d - %u\n\n", static_cast<int>(pin), static_cast<unsigned>(data));
    return OperationEnd::MenuAgain;
}

// Configures the given pins as open-drain outputs. A failure is reported and
// the write that follows goes on regardless.
void ConfigureOutputs(uint8_t outputMask) {
    if (Marlek_DIOSetConfig(outputMask, 0x00) != 0) ReportAndWait(LibOperation::DIOSetConfig);
}

// Sends typed bytes to all eight pins until an answer beginning with q. Each
// answer from 0 to 255 sends its own value, a larger one its value modulo 256;
// a negative answer, or one without a number, sends the previous byte again.
OperationEnd WriteByte() {
    ConfigureOutputs(ALL_PINS);
    uint8_t value = 0;
    for (;;) {
        Print("Enter value 0-255 or q to quit:");
        if (!ReadAnswer()) return OperationEnd::EndOfInput;
        int32_t number = -1;
        ParseNumber(LineText(AnswerLine()), number);
        if (BeginsWithQuit(AnswerLine())) return OperationEnd::MenuAgain;
        if (number >= 0) value = static_cast<uint8_t>(number % 256);
        if (Marlek_DIOOutputByte(value, ALL_PINS) != 0) {
            ReportAndWait(LibOperation::DIOOutputByte);
            continue;
        }
        std::printf("The Byte value  %d is sent to GPIO Pins\n", static_cast<int>(value));
    }
}

OperationEnd WriteBit() {
    int32_t pin = 0;
    int32_t bit = 0;
    OperationEnd end = OperationEnd::MenuAgain;
    if (!AskForPin(PIN_PROMPT, pin, end)) return end;
    const uint8_t mask = PinToMask(pin);
    ConfigureOutputs(mask);
    Print("Enter Bit value:(0-1):");
    if (!ReadAnswerNumber(bit)) return OperationEnd::EndOfInput;
    if (bit != 0 && bit != 1) {
        Print("\nEnter the proper GPIO Value:(0-1) \n");
        return OperationEnd::MenuAgain;
    }
    const uint8_t data = bit == 1 ? mask : 0;
    if (Marlek_DIOOutputBit(data, ALL_PINS) != 0) ReportAndWait(LibOperation::DIOOutputBit);
    return OperationEnd::MenuAgain;
}

constexpr DioMenu PINIO_MENU{
    "\nDIO INPUT AND OUTPUT: Main Menu \n",
    {
        "1) Read Byte from  GPIO Pins\n",
        "2) Read bit from GPIO Pin\n",
        "3) Write Byte to GPIO Pins\n",
        "4) Write Bit to a GPIO Pin\n",
    },
    {ReadByte, ReadBit, WriteByte, WriteBit},
};

constexpr ProgramAbout PINIO{"pinio", "Reads and drives the eight GPIO pins, as a byte or one pin at a time."};

}  // namespace

int main(int argc, char** argv) {
    if (const std::optional<int> status = AnswerCommandLine(PINIO, argc, argv)) return *status;
    return RunDioProgram(PINIO_MENU);
}
