#include "error_record.h"

#include <cstdarg>
#include <cstdio>

namespace marlek_board {

LibStatus RecordError(ErrorRecord& record, uint8_t code, const char* format, ...) {
    record.code = code;
    va_list args;
    va_start(args, format);
    if (std::vsnprintf(record.detail, sizeof record.detail, format, args) < 0) record.detail[0] = '\0';
    va_end(args);
    return code != 0 ? code : 0xFF;
}

void FillLastError(const ErrorRecord& record, LastErrorInfo& info) {
    info.code = record.code;
    info.text = record.detail;
}

}  // namespace marlek_board
