// The board library for Linux boards: the pins as GPIO lines through the GPIO
// character device, the user LED through the LED class or a GPIO line, and a
// UART pair's mode through its transceiver's mode lines and the kernel's
// RS-485 mode, where the board description says they are.
//
// Where the board service runs, every call goes to it: it holds the board for
// every program, and what one program sets stays when it ends. Elsewhere the
// run drives the kernel itself: the digital I/O holds the eight pins' lines
// from Marlek_DIOInit to Marlek_DIOFree, and the LED's line and the mode lines
// are requested on their first use and held until the program ends, so that
// nothing else changes them meanwhile; the kernel releases them then.
#include "board_engine.h"
#include "board_rules.h"
#include "error_record.h"
#include "marlek_lib.h"
#include "problem.h"
#include "service_client.h"

namespace marlek_linux {
namespace {

using marlek_board::Operation;

// Everything is static and constant-initialised: no constructor runs, no
// guard is taken, nothing is allocated.
struct Library {
    BoardEngine engine;  // the run's own, when it drives the kernel itself
    RunState run;
    ServiceClient service;
    marlek_board::ErrorRecord lastError;
};

Library library;

LibStatus Call(const BoardRequest& request, uint8_t* value = nullptr) {
    uint8_t read = 0;
    const LibStatus status = UsesService(library.service)
                                 ? ServiceCall(library.service, request, read, library.lastError)
                                 : RunBoardCall(library.engine, library.run, request, read, library.lastError);
    if (status == 0 && value != nullptr) *value = read;
    return status;
}

BoardRequest Request(Operation operation, uint8_t first = 0, uint8_t second = 0) {
    BoardRequest request;
    request.operation = operation;
    request.first = first;
    request.second = second;
    return request;
}

}  // namespace
}  // namespace marlek_linux

using namespace marlek_linux;

extern "C" {

LibStatus Marlek_DIOInit(void) { return Call(Request(Operation::DIOInit)); }

LibStatus Marlek_DIOFree(void) { return Call(Request(Operation::DIOFree)); }

LibStatus Marlek_DIOSetConfig(uint8_t outputMask, uint8_t pushPullMask) {
    return Call(Request(Operation::DIOSetConfig, outputMask, pushPullMask));
}

LibStatus Marlek_DIOInputByte(uint8_t* data) {
    BoardRequest request = Request(Operation::DIOInputByte);
    request.nullArgument = data == nullptr;
    return Call(request, data);
}

LibStatus Marlek_DIOInputBit(int32_t pin, uint8_t* level) {
    BoardRequest request = Request(Operation::DIOInputBit);
    request.pin = pin;
    request.nullArgument = level == nullptr;
    return Call(request, level);
}

LibStatus Marlek_DIOOutputByte(uint8_t data, uint8_t enableMask) {
    return Call(Request(Operation::DIOOutputByte, data, enableMask));
}

LibStatus Marlek_DIOOutputBit(uint8_t data, uint8_t enableMask) {
    return Call(Request(Operation::DIOOutputBit, data, enableMask));
}

LibStatus MarlekLedConfig(uint8_t device, uint8_t* setting, int32_t) {
    BoardRequest request = Request(Operation::LedConfig, device, setting != nullptr ? *setting : 0);
    request.nullArgument = setting == nullptr;
    return Call(request);
}

LibStatus MarlekSerialConfig(uint8_t modeCode, PortPair* ports) {
    BoardRequest request = Request(Operation::SerialConfig, modeCode);
    request.nullArgument = ports == nullptr;
    return Call(request);
}

LibStatus KVTGetLastError(LastErrorInfo* info) {
    if (info == nullptr) return 1;
    marlek_board::FillLastError(library.lastError, *info);
    return 0;
}

const char* kvtGetErrorString(uint8_t code) { return marlek_linux::ErrorText(code); }

}  // extern "C"
