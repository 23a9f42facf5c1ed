// What marlek-board writes: every line formatted, then escaped for the
// terminal whole (chip labels, line names, consumers and paths come from
// outside), then written with its line end.
#ifndef MARLEK_BOARD_TOOL_OUTPUT_H
#define MARLEK_BOARD_TOOL_OUTPUT_H

#include <cstdio>

namespace marlek_linux {

inline constexpr const char* PROGRAM = "marlek-board";

#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void LineTo(std::FILE* out, const char* format, ...);

// A line on standard output.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void Line(const char* format, ...);

// "marlek-board: ..." on standard error.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void ErrorLine(const char* format, ...);

// Flushes standard output; false, with the reason on standard error, when
// anything written to it was lost.
bool OutputWritten();

}  // namespace marlek_linux

#endif  // MARLEK_BOARD_TOOL_OUTPUT_H
