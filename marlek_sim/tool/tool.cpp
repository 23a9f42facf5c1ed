#include "tool.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#endif

namespace marlek_sim::tool {

namespace {

constexpr const char* HYPHEN_RULE = "--------------------------------------------------------------------\n";

// One row of the pin table, pin 7 first.
template <typename Cell>
void PrintRow(std::FILE* out, const char* label, Cell cell) {
    std::fprintf(out, "%s", label);
    for (int pin = 7; pin >= 0; --pin) std::fprintf(out, "\t%s", cell(static_cast<unsigned>(pin)));
    std::fprintf(out, "\n");
}

}  // namespace

std::optional<uint64_t> Decimal(std::string_view text, uint64_t max) {
    uint64_t value = 0;
    if (!ParseDecimal(text, max, value)) return std::nullopt;
    return value;
}

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

Output FlushOutput() {
    static bool reported = false;
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return Output::Written;
    const int error = errno;
    if (ReaderGone(error)) return Output::ReaderGone;
    if (!reported) {
        Complain(std::string("cannot write the output: ") + (error != 0 ? std::strerror(error) : "write error"));
    }
    reported = true;
    return Output::Failed;
}

void Complain(const std::string& text) { std::fprintf(stderr, "marlek-sim: %s\n", Escaped(text).c_str()); }

int UsageError(const std::string& problem) {
    Complain(problem);
    std::fprintf(stderr, "Try 'marlek-sim --help'.\n");
    return EXIT_USAGE;
}

int StoreError(const StoreStatus& status) {
    Complain(std::string(ErrorText(status.code)) + ": " + status.detail);
    return EXIT_FAILED;
}

std::string LedText(const Board& board, bool withPort) {
    if (!board.ledKnown) return "not set";
    std::string text = board.ledSetting == 0 ? "on" : "off";
    if (withPort) text += ", first COM port " + std::to_string(board.ledPort);
    return text;
}

std::string PairText(const SerialPairState& pair, bool withPorts) {
    if (pair.mode == SerialMode::Unset) return "not set";
    std::string text = SerialModeName(pair.mode);
    if (withPorts) text += ", ports " + std::to_string(pair.firstPort) + " and " + std::to_string(pair.secondPort);
    return text;
}

std::string RuleText(const FailureRule& rule) {
    const std::string call = rule.onCall == 0 ? "every call" : "call " + std::to_string(rule.onCall);
    return std::string(OperationName(rule.operation)) + " " + call + ", code " + std::to_string(rule.code) + " \"" +
           Escaped(rule.detail) + "\"";
}

void PrintPinTable(std::FILE* out, const Board& board) {
    const uint8_t levels = PinLevels(board);
    auto bit = [](unsigned value, unsigned pin) { return ((value >> pin) & 1u) != 0 ? "1" : "0"; };
    auto output = [&board](unsigned pin) { return ((board.outputMask >> pin) & 1u) != 0; };
    std::fprintf(out, "%s", HYPHEN_RULE);
    std::fprintf(out, "GPIO:\t7\t6\t5\t4\t3\t2\t1\t0\n%s", HYPHEN_RULE);
    PrintRow(out, "DIR:", [&](unsigned pin) { return output(pin) ? "out" : "in"; });
    // The drive is kept for inputs too: it applies once the pin is an output.
    PrintRow(out, "DRIVE:", [&](unsigned pin) { return ((board.pushPullMask >> pin) & 1u) != 0 ? "pp" : "od"; });
    PrintRow(out, "OUT:", [&](unsigned pin) { return output(pin) ? bit(board.drivenLevels, pin) : "-"; });
    PrintRow(out, "EXT:", [&](unsigned pin) { return bit(board.externalLevels, pin); });
    PrintRow(out, "DATA:", [&](unsigned pin) { return bit(levels, pin); });
    std::fprintf(out, "%s", HYPHEN_RULE);
    std::fprintf(out, "DIR in or out; DRIVE pp push-pull, od open-drain; OUT what an output drives;\n"
                      "EXT the level from outside; DATA the level a read gives.\n");
}

}  // namespace marlek_sim::tool
