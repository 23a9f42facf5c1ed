// The command line of the programs. They take no arguments: --help and
// --version, each alone, are answered and end the program, and anything else
// is refused in one line on standard error. None of it calls the board
// library, so asking for help on a board opens none of its devices.
#ifndef COMMAND_LINE_H
#define COMMAND_LINE_H

#include <cstdio>
#include <optional>

inline constexpr int EXIT_OUTPUT_FAILED = 1;  // --help or --version could not be written
inline constexpr int EXIT_USAGE = 2;          // an argument the program does not take

// What --help and the refusal say of a program.
struct ProgramAbout {
    const char* name;     // as the operator types it: "pinio"
    const char* summary;  // what it does: one sentence that fits a line
};

// Called first in main. Nothing when there are no arguments and the dialogue
// is to run; otherwise the status the program ends with, having answered
// --help or --version or refused the arguments.
std::optional<int> AnswerCommandLine(const ProgramAbout& program, int argc, char** argv);

// Writes text to out as a terminal may show it (marlek_board's
// EscapeForTerminal), however long it is: an operator's argument can hold
// escape sequences or a new line that would break the line it is shown in.
void WriteForTerminal(std::FILE* out, const char* text);

#endif  // COMMAND_LINE_H
