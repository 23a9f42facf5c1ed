#include "output.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "problem.h"
#include "terminal_text.h"

namespace marlek_linux {

namespace {

bool lost = false;
int lostError = 0;

void WriteLine(std::FILE* out, const char* prefix, const char* format, va_list args) {
    static char formatted[PROBLEM_SIZE * 2];
    static char escaped[PROBLEM_SIZE * 2];
    const int length = std::vsnprintf(formatted, sizeof formatted, format, args);
    const size_t used = length < 0 ? 0
                        : static_cast<size_t>(length) < sizeof formatted ? static_cast<size_t>(length)
                                                                          : sizeof formatted - 1;
    marlek_board::EscapeForTerminal(formatted, used, escaped, sizeof escaped);
    if (std::fprintf(out, "%s%s\n", prefix, escaped) < 0 && out == stdout && !lost) {
        lost = true;
        lostError = errno;
    }
}

}  // namespace

void LineTo(std::FILE* out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    WriteLine(out, "", format, args);
    va_end(args);
}

void Line(const char* format, ...) {
    va_list args;
    va_start(args, format);
    WriteLine(stdout, "", format, args);
    va_end(args);
}

void ErrorLine(const char* format, ...) {
    va_list args;
    va_start(args, format);
    WriteLine(stderr, "marlek-board: ", format, args);
    va_end(args);
}

bool OutputWritten() {
    if (std::fflush(stdout) != 0 && !lost) {
        lost = true;
        lostError = errno;
    }
    if (lost) ErrorLine("cannot write the output: %s", std::strerror(lostError != 0 ? lostError : EIO));
    return !lost;
}

}  // namespace marlek_linux
