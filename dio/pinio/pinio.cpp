// pinio: reads and drives the eight GPIO pins, as a byte or one pin at a time.
#include <cstdint>
#include <cstdio>

#include "console.h"
#include "dio_frame.h"
#include "marlek_lib.h"

namespace {

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
    switch (AskForPin(PIN_PROMPT, pin)) {
        case PinAnswer::EndOfInput: return OperationEnd::EndOfInput;
        case PinAnswer::Refused: return OperationEnd::MenuAgain;
        case PinAnswer::Accepted: break;
    }
    if (Marlek_DIOInputBit(pin, &data) != 0) {
        ReportAndWait(LibOperation::DIOInputBit);
        return OperationEnd::MenuAgain;
    }
    std::printf("\nDATA: GPIO%d - %u\n\n", static_cast<int>(pin), static_cast<unsigned>(data));
    return OperationEnd::MenuAgain;
}

OperationEnd WriteByte() { return OperationEnd::MenuAgain; }

OperationEnd WriteBit() { return OperationEnd::MenuAgain; }

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

}  // namespace

int main() { return RunDioProgram(PINIO_MENU); }
