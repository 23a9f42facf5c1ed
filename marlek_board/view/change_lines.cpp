#include "change_lines.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "terminal_text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

namespace marlek_board::view {

namespace {

bool ReaderGone(int error) {
#ifdef _WIN32
    // The C runtime leaves errno alone for a pipe closed at its far end.
    const unsigned long code = GetLastError();
    if (code == ERROR_BROKEN_PIPE || code == ERROR_NO_DATA || code == ERROR_PIPE_NOT_CONNECTED) return true;
#endif
    return error == EPIPE;
}

}  // namespace

void ClockStamp(char (&stamp)[CLOCK_STAMP_SIZE]) {
#ifdef _WIN32
    SYSTEMTIME local{};
    GetLocalTime(&local);
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d", local.wHour, local.wMinute, local.wSecond,
                  local.wMilliseconds);
#else
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    ClockStampAt(static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000, stamp);
#endif
}

#ifndef _WIN32
void ClockStampAt(int64_t millis, char (&stamp)[CLOCK_STAMP_SIZE]) {
    // The local time of the last second asked for is kept: a watch stamps
    // thousands of changes a second.
    static int64_t lastSecond = INT64_MIN;
    static char lastClock[CLOCK_STAMP_SIZE] = "";
    int64_t second = millis / 1000;
    int fraction = static_cast<int>(millis % 1000);
    if (fraction < 0) {  // before 1970: the second before, and the ms after it
        fraction += 1000;
        --second;
    }
    if (second != lastSecond) {
        const time_t whole = static_cast<time_t>(second);
        tm local{};
        localtime_r(&whole, &local);
        std::snprintf(lastClock, sizeof lastClock, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
        lastSecond = second;
    }
    const size_t length = std::min(std::strlen(lastClock), CLOCK_STAMP_SIZE - 5);
    std::memcpy(stamp, lastClock, length);
    stamp[length] = '.';
    stamp[length + 1] = static_cast<char>('0' + fraction / 100);
    stamp[length + 2] = static_cast<char>('0' + fraction / 10 % 10);
    stamp[length + 3] = static_cast<char>('0' + fraction % 10);
    stamp[length + 4] = '\0';
}
#endif

Output FlushStandardOutput(int& error) {
    errno = 0;
    error = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return Output::Written;
    error = errno;
    return ReaderGone(error) ? Output::ReaderGone : Output::Failed;
}

void WriteEscaped(std::FILE* out, const char* text) {
    // What is printable goes out as it is; each control character or byte
    // that is not UTF-8 escaped on its own, as EscapeForTerminal does.
    size_t length = std::strlen(text);
    while (length > 0) {
        const size_t printable = UnprintableAt(text, length);
        std::fwrite(text, 1, printable, out);
        text += printable;
        length -= printable;
        if (length == 0) break;
        const size_t control = ControlLength(text, length);
        const size_t take = control > 0 ? control : 1;
        char escaped[16];
        EscapeForTerminal(text, take, escaped, sizeof escaped);
        std::fputs(escaped, out);
        text += take;
        length -= take;
    }
}

Output WriteChangeLine(const char* line, int& error) {
    WriteEscaped(stdout, line);
    std::fputc('\n', stdout);
    return FlushStandardOutput(error);
}

}  // namespace marlek_board::view
