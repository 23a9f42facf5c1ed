#include "error_record.h"

#include <cstdarg>
#include <cstdio>

#include "terminal_text.h"

namespace marlek_board {

LibStatus RecordErrorV(ErrorRecord& record, uint8_t code, const char* format, va_list args) {
    // Formatted first, then escaped whole: the words from outside in it reach
    // the program's terminal as text, whatever bytes they hold. The libraries
    // run on one thread, so one scratch buffer serves every record.
    static char formatted[ERROR_DETAIL_SIZE];
    record.code = code;
    const int length = std::vsnprintf(formatted, sizeof formatted, format, args);
    if (length < 0) {
        record.detail[0] = '\0';
    } else {
        const size_t used = static_cast<size_t>(length) < sizeof formatted ? static_cast<size_t>(length)
                                                                           : sizeof formatted - 1;
        EscapeForTerminal(formatted, used, record.detail, sizeof record.detail);
    }
    return code != 0 ? code : 0xFF;
}

LibStatus RecordError(ErrorRecord& record, uint8_t code, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const LibStatus status = RecordErrorV(record, code, format, args);
    va_end(args);
    return status;
}

void FillLastError(const ErrorRecord& record, LastErrorInfo& info) {
    info.code = record.code;
    info.text = record.detail;
}

}  // namespace marlek_board
