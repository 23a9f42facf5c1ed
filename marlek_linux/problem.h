// A failure as the Linux board library reports it: its code and its text,
// which says what is wrong and what to do.
#ifndef MARLEK_LINUX_PROBLEM_H
#define MARLEK_LINUX_PROBLEM_H

#include <cstdint>

#include "board_description.h"
#include "board_rules.h"
#include "error_record.h"

namespace marlek_linux {

// The library's own error codes, above those every board shares.
enum LinuxErrorCode : uint8_t {
    ERROR_DESCRIPTION = 9,      // the board description is missing or malformed
    ERROR_CHIP_NOT_FOUND = 10,  // it names a GPIO chip that does not exist
    ERROR_LINE_NOT_FOUND = 11,  // or a line that the chip does not have
    ERROR_LINE_BUSY = 12,       // another consumer holds a line
    ERROR_PERMISSION = 13,      // the user may not open a device
    ERROR_GPIO_FAILED = 14,     // the kernel refused a GPIO request
    ERROR_LED_FAILED = 15,      // the LED cannot be written
    ERROR_NOT_DESCRIBED = 16,   // the description does not have what the call needs
    ERROR_SERIAL_FAILED = 17,   // a serial port cannot be switched
    ERROR_SERVICE = 18,         // the board service is not running, does not answer, or is full
};

// The operator's text for an error code, shared or the library's own.
const char* ErrorText(uint8_t code);

// Its code and its text (detail), as KVTGetLastError hands them out.
using Problem = marlek_board::ErrorRecord;

// Sets the problem and returns false, so that a failing step can return it.
#if defined(__GNUC__)
__attribute__((format(printf, 3, 4)))
#endif
bool Fail(Problem& problem, uint8_t code, const char* format, ...);

}  // namespace marlek_linux

#endif  // MARLEK_LINUX_PROBLEM_H
