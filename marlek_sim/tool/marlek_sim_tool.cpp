// marlek-sim: shows and drives the simulated board that every program run
// shares.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tool.h"

using namespace marlek_sim;
using namespace marlek_sim::tool;

namespace {

constexpr const char* TOOL_ARMED_DETAIL = "failure armed by marlek-sim fail";

#ifdef _WIN32
#define LIBRARY_FILE "marlek.dll"
#define LOADER_PATH "PATH"
#else
#define LIBRARY_FILE "libmarlek.so"
#define LOADER_PATH "LD_LIBRARY_PATH"
#endif

constexpr const char* USAGE = R"(usage: marlek-sim COMMAND [ARGUMENTS]
Shows and drives the simulated board that every run of the board programs
shares, and runs a program on it.

commands:
  show             the pins, the user LED, the serial port pairs and the
                   failures armed for the next run
  set-input PIN 0|1
                   the external level of one pin (0 to 7)
  set-inputs BYTE  the external levels of all pins, bit n for pin n
                   (165, 0xA5, 0245)
  fail OPERATION [COUNT] [CODE] [TEXT]
                   arms a failure for the next program run: its COUNT-th call
                   of OPERATION fails (1 the first call; 'all', the default,
                   every call) with error CODE (0 to 255, default 5) and TEXT
                   as the detail KVTGetLastError reports; up to 4 at a time,
                   TEXT up to 80 bytes of printable UTF-8
  fail clear       disarms the armed failures
  reset            a fresh board: every pin an input and pulled up, LED and
                   serial modes not set, nothing armed
  path             where the board state is kept
  run PROGRAM [ARGUMENTS...]
                   runs PROGRAM (a path, or a name looked up on PATH) on the
                   simulated board: the folder of the simulated )" LIBRARY_FILE R"(
                   comes first on )" LOADER_PATH R"( for PROGRAM alone; the exit
                   status is PROGRAM's (126: it cannot be run, 127: not found)
  watch [--count N] [--timeout SECONDS]
                   follows the board: on a terminal a live view that q ends,
                   otherwise one line per change (see below); ends after N
                   change lines, or after SECONDS (status 1 when fewer changes
                   came than N, or none at all without --count)
  --help           this text
  --version        the version of marlek-sim

The next program run is the next process to call the board library; it takes
the armed failures off the board with its first board operation. A run with
MARLEK_SIM_FAIL set leaves them armed for a later run.

)"
#ifdef _WIN32
R"(The simulated marlek.dll is the one beside marlek-sim.exe. The board is kept
in the file MARLEK_SIM_STATE names, else in %TEMP%\marlek-sim\marlek-sim.board
(the user's temporary folder, %TMP% where that is set).
)"
#else
R"(The board is kept in the file MARLEK_SIM_STATE names, else in
$XDG_RUNTIME_DIR/marlek-sim.board, else in /tmp/marlek-sim-UID/marlek-sim.board.
)"
#endif
R"(
A change line starts with the local time (14:03:07.215), then one of, in this
order when one look finds several:
  board reset                           the board is fresh again
  pin N direction input -> output, open-drain
  pin N drive open-drain -> push-pull   (a pin that became an output has it
                                        in its direction line)
  pin N drives 0 -> 1                   what an output drives
  pin N external level 1 -> 0           the level from outside
  pin N level 1 -> 0                    the level a read gives
  LED off -> on, first COM port 5
  UART 3 and 4 RS-232 -> RS-422, ports 7 and 8
  failures armed: Marlek_DIOInputByte call 2, code 9 "sensor off line"
Settings of one run alone (MARLEK_SIM_INPUTS, MARLEK_SIM_FAIL, whether a run
has the digital I/O open) are not on the board and are not shown.

Exit status: 0 done, 1 the board could not be read or changed or the output
could not be written, 2 bad arguments.
)";

// A byte value (decimal, 0x hex or 0 octal).
std::optional<unsigned long> Number(std::string_view text, unsigned long max) {
    unsigned long value = 0;
    if (!ParseUnsigned(text, max, value)) return std::nullopt;
    return value;
}

void PrintBoard(const std::string& path, const BoardRecord& record) {
    std::printf("Board state in %s\n", Escaped(path).c_str());
    marlek_board::view::PrintBoard(stdout, PictureOf(record, RuleForm::Show));
    if (const char* inputs = std::getenv("MARLEK_SIM_INPUTS")) {
        std::printf("Note: MARLEK_SIM_INPUTS=%s is set here; runs that have it read it in place of EXT.\n",
                    Escaped(inputs).c_str());
    }
    if (std::getenv("MARLEK_SIM_FAIL") != nullptr) {
        std::printf("Note: MARLEK_SIM_FAIL is set here; runs that have it leave the armed failures alone.\n");
    }
}

int Show(BoardStore& store) {
    BoardRecord record;
    const StoreStatus status = store.Read(record);
    if (!status.Ok()) return StoreError(status);
    PrintBoard(store.Path(), record);
    return EXIT_DONE;
}

int SetInputs(BoardStore& store, uint8_t mask, uint8_t levels) {
    const StoreStatus status = store.Update([=](BoardRecord& record) {
        record.board.externalLevels = static_cast<uint8_t>((record.board.externalLevels & ~mask) | (levels & mask));
        return true;
    });
    return status.Ok() ? EXIT_DONE : StoreError(status);
}

std::optional<std::string> ReadRule(const std::vector<std::string_view>& args, FailureRule& rule) {
    const std::optional<SimOperation> operation = OperationByName(args[0]);
    if (!operation) {
        std::string names;
        for (int i = 0; i < SIM_OPERATION_COUNT; ++i) {
            names += std::string(i == 0 ? "" : ", ") + OperationName(static_cast<SimOperation>(i));
        }
        return "no operation is called '" + std::string(args[0]) + "'; the operations are " + names;
    }
    rule.operation = *operation;
    rule.detail = TOOL_ARMED_DETAIL;
    if (args.size() > 1 && args[1] != "all") {
        const std::optional<uint64_t> call = Decimal(args[1], UINT32_MAX);
        if (!call || *call == 0) return "COUNT must be 'all' or a call number from 1, not '" + std::string(args[1]) + "'";
        rule.onCall = static_cast<uint32_t>(*call);
    }
    if (args.size() > 2) {
        const std::optional<uint64_t> code = Decimal(args[2], UINT8_MAX);
        if (!code) return "CODE must be a number from 0 to 255, not '" + std::string(args[2]) + "'";
        rule.code = static_cast<uint8_t>(*code);
    }
    if (args.size() > 3) {
        if (args[3].size() > MAX_ARMED_TEXT) return "TEXT is longer than " + std::to_string(MAX_ARMED_TEXT) + " bytes";
        if (const std::string unprintable = UnprintableProblem(args[3]); !unprintable.empty()) {
            return "TEXT " + unprintable;
        }
        rule.detail = std::string(args[3]);
    }
    return std::nullopt;
}

int Fail(BoardStore& store, const std::vector<std::string_view>& args) {
    if (args.empty() || args.size() > 4) return UsageError("fail takes OPERATION [COUNT] [CODE] [TEXT], or clear");
    if (args[0] == "clear") {
        if (args.size() > 1) return UsageError("fail clear takes no arguments");
        const StoreStatus status = store.Update([](BoardRecord& record) {
            record.armed.clear();
            return true;
        });
        return status.Ok() ? EXIT_DONE : StoreError(status);
    }
    FailureRule rule;
    if (const std::optional<std::string> problem = ReadRule(args, rule)) return UsageError(*problem);
    bool full = false;
    const StoreStatus status = store.Update([&](BoardRecord& record) {
        full = record.armed.size() >= MAX_ARMED_FAILURES;
        if (!full) record.armed.push_back(rule);
        return !full;
    });
    if (!status.Ok()) return StoreError(status);
    if (full) {
        Complain(std::to_string(MAX_ARMED_FAILURES) +
                 " failures are armed already; 'marlek-sim fail clear' disarms them");
        return EXIT_FAILED;
    }
    return EXIT_DONE;
}

int Run(const std::string_view command, const std::vector<std::string_view>& args) {
    BoardStore store = BoardStore::FromSetting(std::getenv("MARLEK_SIM_STATE"));
    if (store.IsMemory()) {
        Complain("MARLEK_SIM_STATE=memory gives each program run a board of its own, which no other process can see");
        return EXIT_FAILED;
    }
    auto expect = [&](size_t count, const char* form) -> std::optional<int> {
        if (args.size() == count) return std::nullopt;
        return UsageError(std::string(command) + " takes " + form);
    };
    if (command == "show") {
        if (auto refused = expect(0, "no arguments")) return *refused;
        return Show(store);
    }
    if (command == "path") {
        if (auto refused = expect(0, "no arguments")) return *refused;
        if (!store.Location().Ok()) return StoreError(store.Location());
        std::printf("%s\n", Escaped(store.Path()).c_str());  // a path with a control character in it is shown
        return EXIT_DONE;
    }
    if (command == "reset") {
        if (auto refused = expect(0, "no arguments")) return *refused;
        const StoreStatus status = store.Reset();
        return status.Ok() ? EXIT_DONE : StoreError(status);
    }
    if (command == "set-input") {
        if (auto refused = expect(2, "PIN 0|1")) return *refused;
        const std::optional<unsigned long> pin = Number(args[0], 7);
        if (!pin || args[0].size() != 1) return UsageError("PIN must be 0 to 7, not '" + std::string(args[0]) + "'");
        if (args[1] != "0" && args[1] != "1") return UsageError("the level must be 0 or 1, not '" + std::string(args[1]) + "'");
        const auto mask = static_cast<uint8_t>(1u << *pin);
        return SetInputs(store, mask, args[1] == "1" ? mask : 0);
    }
    if (command == "set-inputs") {
        if (auto refused = expect(1, "BYTE")) return *refused;
        const std::optional<unsigned long> levels = Number(args[0], UINT8_MAX);
        if (!levels) return UsageError("BYTE must be 0 to 255 (or 0x00 to 0xFF), not '" + std::string(args[0]) + "'");
        return SetInputs(store, 0xFF, static_cast<uint8_t>(*levels));
    }
    if (command == "fail") return Fail(store, args);
    if (command == "watch") return Watch(store, args);
    return UsageError("no command is called '" + std::string(command) + "'");
}

// A command whose output could not be written has failed, as when its
// standard output is a full disk or closed; one whose reader stopped reading
// early has not.
int WithOutputWritten(int status) { return FlushOutput() == Output::Failed ? EXIT_FAILED : status; }

int Command(int argc, char** argv) {
    if (argc < 2) return UsageError("a command is needed");
    const std::string_view command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::printf("%s", USAGE);
        return EXIT_DONE;
    }
    if (command == "--version") return PrintVersion();
    if (command == "run") return RunProgram(argc, argv);
    const std::vector<std::string_view> args(argv + 2, argv + argc);
    return Run(command, args);
}

}  // namespace

int main(int argc, char** argv) { return WithOutputWritten(Command(argc, argv)); }
