// marlek-board: reads the board description, opens what it names and prints
// the map, so that an operator can write the description before running a
// program on it. Status 0 when all is usable, 1 with the reasons otherwise.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "board_description.h"
#include "descriptors.h"
#include "gpio.h"
#include "problem.h"
#include "serial_port.h"

namespace marlek_linux {

using marlek_board::CloseDescriptor;
using marlek_board::OpenDescriptor;
namespace {

constexpr const char* PROGRAM = "marlek-board";
constexpr const char* USAGE =
    "Usage: marlek-board [FILE]\n"
    "Checks a board description and prints where it puts each pin, the user LED\n"
    "and the UART pairs' mode lines, with each line's consumer and direction.\n"
    "FILE defaults to $MARLEK_BOARD, else /etc/marlek/board.conf.\n"
    "Exit status: 0 when all it describes is usable, 1 otherwise, 2 on bad usage.\n"
    "The format: marlek-board.conf(5).\n";

int problems = 0;
bool outputFailed = false;

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void Print(const char* format, ...) {
    va_list args;
    va_start(args, format);
    if (std::vprintf(format, args) < 0) outputFailed = true;
    va_end(args);
}

void PrintProblem(const char* label, const Problem& problem) {
    ++problems;
    Print("%-8s problem: %s: %s\n", label, ErrorText(problem.code), problem.detail);
}

const char* Direction(const gpio_v2_line_info& info) {
    if ((info.flags & GPIO_V2_LINE_FLAG_OUTPUT) == 0) return "input";
    if (info.flags & GPIO_V2_LINE_FLAG_OPEN_DRAIN) return "output open-drain";
    if (info.flags & GPIO_V2_LINE_FLAG_OPEN_SOURCE) return "output open-source";
    return "output";
}

// One described line: where it is, its direction and consumer; a problem if
// it cannot be used.
void CheckLine(const char* label, const char* where, const LineEntry& entry, const char* note) {
    Problem problem;
    Chip chip;
    if (!OpenChip(entry.chip, where, chip, problem)) {
        PrintProblem(label, problem);
        return;
    }
    FoundLine line;
    if (!FindLine(chip, entry.line, where, line, problem)) {
        CloseDescriptor(chip.fd);
        PrintProblem(label, problem);
        return;
    }
    char described[160];
    DescribeLine(chip, line, described, sizeof described);
    const bool used = (line.info.flags & GPIO_V2_LINE_FLAG_USED) != 0;
    char consumer[64] = "free";
    if (used) std::snprintf(consumer, sizeof consumer, "held by \"%.32s\"", line.info.consumer);
    Print("%-8s %s (%s)%s: %s, %s\n", label, described, chip.path, note, Direction(line.info), consumer);
    if (!CheckLineFree(chip, line, where, problem)) PrintProblem(label, problem);
    CloseDescriptor(chip.fd);
}

void CheckPins(const Description& description) {
    if (!description.anyPin) {
        Print("%-8s not described: the digital I/O cannot be opened\n", "pins");
        return;
    }
    for (int pin = 0; pin < marlek_board::PIN_COUNT; ++pin) {
        const LineEntry& entry = description.pins[static_cast<size_t>(pin)];
        char label[16];
        std::snprintf(label, sizeof label, "pin %d", pin);
        char where[PATH_TEXT_SIZE + 32];
        PinWhere(description.path, entry, pin, where, sizeof where);
        CheckLine(label, where, entry, "");
    }
}

void CheckLedClass(const Description& description) {
    const LedEntry& led = description.led;
    char path[LED_NAME_SIZE + 64];
    std::snprintf(path, sizeof path, "/sys/class/leds/%s/brightness", led.className);
    Problem problem;
    char brightness[32] = "";
    const int fd = OpenDescriptor(path, O_RDONLY | O_NONBLOCK);
    if (fd < 0) {
        Fail(problem, ERROR_LED_FAILED, "%s:%d: the LED: no LED \"%s\" in /sys/class/leds; correct the name",
             description.path, led.sourceLine, led.className);
        PrintProblem("led", problem);
        return;
    }
    const ssize_t got = read(fd, brightness, sizeof brightness - 1);
    close(fd);
    if (got > 0) brightness[got - (brightness[got - 1] == '\n' ? 1 : 0)] = '\0';
    Print("%-8s LED class device %s, brightness %s\n", "led", led.className, got > 0 ? brightness : "unknown");
    if (access(path, W_OK) != 0) {
        Fail(problem, ERROR_PERMISSION,
             "cannot write %s: %s; give the user write access to it (a udev rule can), or run as root", path,
             std::strerror(errno));
        PrintProblem("led", problem);
    }
}

void CheckLed(const Description& description) {
    const LedEntry& led = description.led;
    if (led.kind == LedKind::None) {
        Print("%-8s not described: userled cannot switch it\n", "led");
    } else if (led.kind == LedKind::Class) {
        CheckLedClass(description);
    } else {
        char where[PATH_TEXT_SIZE + 32];
        LedWhere(description.path, led.line, 0, where, sizeof where);
        CheckLine("led", where, led.line, led.line.activeLow ? " active-low" : "");
    }
}

// The kernel's RS-485 mode of each tty the pair names.
void CheckTtys(const Description& description, int pair) {
    const PairEntry& entry = description.pairs[static_cast<size_t>(pair)];
    const char* label = PairEntryName(pair);
    for (int port = 0; port < PAIR_PORTS; ++port) {
        const char* tty = entry.tty[static_cast<size_t>(port)].data();
        if (tty[0] == '\0') continue;
        serial_rs485 settings{};
        if (ReadRs485(tty, settings)) {
            char mode[128];
            DescribeRs485(settings, mode, sizeof mode);
            Print("%-8s tty%d %s: %s\n", label, port + 1, tty, mode);
            continue;
        }
        Problem problem;
        const int error = errno;
        const uint8_t code = error == EACCES || error == EPERM ? ERROR_PERMISSION : ERROR_SERIAL_FAILED;
        Fail(problem, code, "%s:%d: %s tty%d: %s%s: %s", description.path, entry.ttyLine[static_cast<size_t>(port)],
             label, port + 1, tty, error == ENOTTY ? " cannot switch to RS-485, its driver has no RS-485 mode" : "",
             std::strerror(error));
        PrintProblem(label, problem);
    }
}

void CheckPair(const Description& description, int pair) {
    const PairEntry& entry = description.pairs[static_cast<size_t>(pair)];
    const char* label = PairEntryName(pair);
    if (!PairDescribed(entry)) {
        Print("%-8s not described: uartmode cannot switch %s\n", label, pair == 0 ? "UART 1 and 2" : "UART 3 and 4");
        return;
    }
    CheckTtys(description, pair);
    if (entry.lineCount == 0) return;
    for (int i = 0; i < entry.lineCount; ++i) {
        const LineEntry& line = entry.lines[static_cast<size_t>(i)];
        char where[PATH_TEXT_SIZE + 32];
        ModeLineWhere(description.path, line, i, where, sizeof where);
        char note[32];
        std::snprintf(note, sizeof note, ", mode line %d", i + 1);
        CheckLine(label, where, line, note);
    }
    Print("%-8s", label);
    constexpr const char* MODES[MODE_COUNT] = {"rs232", "rs485", "rs422"};
    for (int mode = 0; mode < MODE_COUNT; ++mode) {
        Print("%s %s", mode == 0 ? "" : ",", MODES[mode]);
        for (int i = 0; i < entry.lineCount; ++i) Print(" %u", (entry.values[static_cast<size_t>(mode)] >> i) & 1u);
    }
    Print("\n");
}

int Check(const char* path) {
    static Description description;
    char problem[PROBLEM_SIZE];
    if (!LoadDescription(path, description, problem)) {
        std::fprintf(stderr, "%s: %s\n", PROGRAM, problem);
        return 1;
    }
    Print("board description %s\n", path);
    CheckPins(description);
    CheckLed(description);
    for (int pair = 0; pair < marlek_board::SERIAL_PAIR_COUNT; ++pair) CheckPair(description, pair);
    if (std::fflush(stdout) != 0 || outputFailed) {
        std::fprintf(stderr, "%s: cannot write the output: %s\n", PROGRAM, std::strerror(errno));
        return 1;
    }
    if (problems > 0) {
        std::fprintf(stderr, "%s: %s is not usable as it stands: %d problem%s above\n", PROGRAM, path, problems,
                     problems == 1 ? "" : "s");
        return 1;
    }
    return 0;
}

}  // namespace
}  // namespace marlek_linux

int main(int argc, char** argv) {
    using namespace marlek_linux;
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(USAGE, stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s %s\n", PROGRAM, MARLEK_VERSION);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (argc > 2 || (argc == 2 && argv[1][0] == '-' && argv[1][1] != '\0')) {
        std::fprintf(stderr, "%s: %s\n%s", PROGRAM, argc > 2 ? "too many arguments" : "unknown option", USAGE);
        return 2;
    }
    return Check(argc == 2 ? argv[1] : DescriptionPath());
}
