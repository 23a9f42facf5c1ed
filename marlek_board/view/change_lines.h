// A watch's change lines off a terminal, for scripts: each stamped with the
// local time and written on standard output at once.
#ifndef MARLEK_BOARD_VIEW_CHANGE_LINES_H
#define MARLEK_BOARD_VIEW_CHANGE_LINES_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace marlek_board::view {

// The local time to the millisecond, "14:03:07.215", that begins a change line.
inline constexpr size_t CLOCK_STAMP_SIZE = 16;
void ClockStamp(char (&stamp)[CLOCK_STAMP_SIZE]);

#ifndef _WIN32
// The same for a time given in ms since 1970 (a board service's time of a
// change).
void ClockStampAt(int64_t millis, char (&stamp)[CLOCK_STAMP_SIZE]);
#endif

enum class Output { Written, Failed, ReaderGone };

// Flushes standard output. ReaderGone when the reader has gone (a pipe that
// head closed early), which is no error; Failed otherwise, with error the
// reason (errno, 0 when none is known).
Output FlushStandardOutput(int& error);

// Writes text to out escaped as marlek_board::EscapeForTerminal escapes it,
// however long it is.
void WriteEscaped(std::FILE* out, const char* text);

// Writes line, escaped, and a line end on standard output and flushes it, as
// FlushStandardOutput says.
Output WriteChangeLine(const char* line, int& error);

}  // namespace marlek_board::view

#endif  // MARLEK_BOARD_VIEW_CHANGE_LINES_H
