#include "error_record.h"

#include <cstdarg>
#include <cstdio>

namespace marlek_board {

LibStatus RecordErrorV(ErrorRecord& record, uint8_t code, const char* format, va_list args) {
    record.code = code;
    if (std::vsnprintf(record.detail, sizeof record.detail, format, args) < 0) record.detail[0] = '\0';
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
