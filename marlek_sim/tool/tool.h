// What the commands of marlek-sim share: exit statuses, error reports and the
// board as text.
#ifndef MARLEK_SIM_TOOL_H
#define MARLEK_SIM_TOOL_H

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "board_picture.h"
#include "board_store.h"
#include "change_lines.h"

namespace marlek_sim::tool {

inline constexpr int EXIT_DONE = 0;
inline constexpr int EXIT_FAILED = 1;
inline constexpr int EXIT_USAGE = 2;
// marlek-sim run, when the program cannot be started or is not found.
inline constexpr int EXIT_CANNOT_RUN = 126;
inline constexpr int EXIT_NOT_FOUND = 127;

// A count or a code in the arguments: decimal digits alone, at most max.
std::optional<uint64_t> Decimal(std::string_view text, uint64_t max);

// Says text on standard error as "marlek-sim: TEXT", escaped for the terminal:
// the paths, settings and arguments in it are words from outside, and any
// control character in them is shown (\x1b), not acted on. Every message of
// marlek-sim goes through here.
void Complain(const std::string& text);

// Says what is wrong with the arguments on standard error; EXIT_USAGE.
int UsageError(const std::string& problem);

// Flushes standard output. When it cannot be written, says so on standard
// error, once in a run however often it is asked, and not at all when its
// reader has gone (a pipe that head closed early), which is no error.
using marlek_board::view::Output;
Output FlushOutput();
// The same for output already written as written says, error its reason.
Output OutputReported(Output written, int error);

// Says why the board could not be read or changed on standard error; EXIT_FAILED.
int StoreError(const StoreStatus& status);

// The LED ("on, first COM port 5", "not set") and a serial pair ("RS-422,
// ports 7 and 8", "not set") as show and watch write them.
std::string LedText(const Board& board, bool withPort);
std::string PairText(const SerialPairState& pair, bool withPorts);
// An armed failure as watch writes it: Marlek_DIOInputByte call 2, code 9 "sensor off line".
std::string RuleText(const FailureRule& rule);

// The board as the shared view shows it: every pin held, with its external
// level; the LED, the pairs, and the failures armed for the next run as rows
// of "Next run:", each as watch writes it (RuleText) or as a sentence for
// show: Marlek_DIOInputByte fails on call 2 with code 9 "sensor off line".
enum class RuleForm { Watch, Show };
marlek_board::view::BoardPicture PictureOf(const BoardRecord& record, RuleForm form);

// marlek-sim run PROGRAM [ARGUMENTS...], with PROGRAM in argv[2]: runs it on
// the simulated board, whose library folder comes first on the loader's path
// for the program alone. Its exit status, or one of marlek-sim's own when it
// cannot be run (run_program.cpp).
int RunProgram(int argc, char** argv);

// marlek-sim --version: the name and version of the project.
int PrintVersion();

// marlek-sim watch [--count N] [--timeout SECONDS]: follows the board, live on
// a terminal, as one line per change elsewhere. The exit status.
int Watch(BoardStore& store, const std::vector<std::string_view>& args);

}  // namespace marlek_sim::tool

#endif  // MARLEK_SIM_TOOL_H
