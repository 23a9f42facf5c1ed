#include "problem.h"

#include <array>
#include <cstdarg>

namespace marlek_linux {

namespace {

constexpr std::array<const char*, 19> ERROR_TEXTS{
    "no error",
    "digital I/O not initialised",
    "digital I/O already initialised",
    "pin out of range",
    "invalid argument",
    "unknown error code",
    "no such device",
    "unknown error code",
    "unknown error code",
    "board description unusable",
    "GPIO chip not found",
    "GPIO line not found",
    "GPIO line busy",
    "permission denied",
    "GPIO request failed",
    "LED cannot be written",
    "not in the board description",
    "serial port mode not switched",
    "board service not reachable",
};

}  // namespace

const char* ErrorText(uint8_t code) {
    return code < ERROR_TEXTS.size() ? ERROR_TEXTS[code] : "unknown error code";
}

bool Fail(Problem& problem, uint8_t code, const char* format, ...) {
    va_list args;
    va_start(args, format);
    marlek_board::RecordErrorV(problem, code, format, args);
    va_end(args);
    return false;
}

}  // namespace marlek_linux
