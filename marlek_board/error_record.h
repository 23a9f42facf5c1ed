// The record of a board library's last failure, which KVTGetLastError hands
// out: its code and a detail text that stays valid until the next failure.
// It lives in static storage and needs nothing of the heap.
#ifndef MARLEK_BOARD_ERROR_RECORD_H
#define MARLEK_BOARD_ERROR_RECORD_H

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "marlek_lib.h"

namespace marlek_board {

// Long enough for two paths and their explanation; longer texts are cut.
inline constexpr size_t ERROR_DETAIL_SIZE = 8192;

struct ErrorRecord {
    uint8_t code = 0;
    char detail[ERROR_DETAIL_SIZE] = "";
};

// Records a failure and returns the status the call returns: the code, or
// 0xFF for code 0, so that a failure is never taken for success. The text is
// escaped for a terminal (EscapeForTerminal), so KVTGetLastError never hands
// a program a control character to print.
#if defined(__GNUC__)
__attribute__((format(printf, 3, 4)))
#endif
LibStatus RecordError(ErrorRecord& record, uint8_t code, const char* format, ...);

// The same with the format's arguments as a va_list.
LibStatus RecordErrorV(ErrorRecord& record, uint8_t code, const char* format, va_list args);

// KVTGetLastError's answer from the record.
void FillLastError(const ErrorRecord& record, LastErrorInfo& info);

}  // namespace marlek_board

#endif  // MARLEK_BOARD_ERROR_RECORD_H
