// marlek-board FILE: the description's map, and every problem once.
//
// The map is made first, then printed: a problem that several entries meet
// (a chip that is missing for all eight pins) is printed once, where the
// first of them stands, with the entries it concerns.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "descriptors.h"
#include "gpio.h"
#include "led_class.h"
#include "line_set.h"
#include "output.h"
#include "problem.h"
#include "serial_port.h"
#include "service_facts.h"
#include "service_protocol.h"
#include "terminal_text.h"

namespace marlek_linux {

namespace {

constexpr int MAX_ITEMS = 96;
constexpr size_t LABEL_SIZE = 16;

// One line of the map, or a problem in its place.
struct Item {
    char label[LABEL_SIZE] = "";
    char text[1024] = "";
    int problem = -1;  // the index of its problem, for a problem
};

struct Reported {
    Problem problem;
    size_t causeAt = 0;   // where the text goes on past its "FILE:LINE: what: "
    char concerns[96] = "";  // "pin 3 on line 4"
    int first = 0;        // the first problem with the same cause, itself when it is the first
};

struct Check {
    const Description* description = nullptr;
    const ServiceFacts* service = nullptr;
    int itemCount = 0;
    int problemCount = 0;
    Item items[MAX_ITEMS];
    Reported problems[MAX_ITEMS];
};

Check check;

#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void AddLine(const char* label, const char* format, ...) {
    if (check.itemCount == MAX_ITEMS) return;
    Item& item = check.items[check.itemCount++];
    std::snprintf(item.label, sizeof item.label, "%s", label);
    va_list args;
    va_start(args, format);
    std::vsnprintf(item.text, sizeof item.text, format, args);
    va_end(args);
}

// A problem of the entry that where begins ("FILE:LINE: pin 3"); concerns
// names it in a shared problem ("pin 3 on line 4").
void AddProblem(const char* label, const char* where, const char* concerns, const Problem& problem) {
    if (check.itemCount == MAX_ITEMS) return;
    const int index = check.problemCount++;
    Reported& reported = check.problems[index];
    reported.problem = problem;
    std::snprintf(reported.concerns, sizeof reported.concerns, "%s", concerns);
    // The problem's text is escaped: so is the prefix it is compared with.
    char prefix[PATH_TEXT_SIZE * 2];
    const size_t length = marlek_board::EscapeForTerminal(where, std::strlen(where), prefix, sizeof prefix);
    const char* detail = reported.problem.detail;
    if (length > 0 && std::strncmp(detail, prefix, length) == 0 && std::strncmp(detail + length, ": ", 2) == 0) {
        reported.causeAt = length + 2;
    }
    reported.first = index;
    for (int other = 0; other < index; ++other) {
        const Reported& earlier = check.problems[other];
        if (earlier.causeAt > 0 && reported.causeAt > 0 && earlier.problem.code == reported.problem.code &&
            std::strcmp(earlier.problem.detail + earlier.causeAt, detail + reported.causeAt) == 0) {
            reported.first = earlier.first;
            break;
        }
    }
    Item& item = check.items[check.itemCount++];
    std::snprintf(item.label, sizeof item.label, "%s", label);
    item.problem = index;
}

void Where(const LineEntry& entry, char* out, size_t size) { EntryWhere(check.description->path, entry, out, size); }

void Concerns(const char* what, int sourceLine, char (&out)[96]) {
    std::snprintf(out, sizeof out, "%.60s on line %d", what, sourceLine);
}

// One described line: where it is, its direction and consumer; a problem if
// it cannot be used.
void CheckLine(const char* label, const LineEntry& entry, const char* note) {
    char where[PATH_TEXT_SIZE + 64];
    Where(entry, where, sizeof where);
    char concerns[96];
    Concerns(entry.role, entry.sourceLine, concerns);
    Problem problem;
    Chip chip;
    if (!OpenChip(entry.chip, where, chip, problem)) {
        AddProblem(label, where, concerns, problem);
        return;
    }
    FoundLine line;
    if (!FindLine(chip, entry.line, where, line, problem)) {
        marlek_board::CloseDescriptor(chip.fd);
        AddProblem(label, where, concerns, problem);
        return;
    }
    char described[DESCRIBED_LINE_SIZE];
    DescribeLine(chip, line, described, sizeof described);
    char use[DESCRIBED_USE_SIZE];
    DescribeUse(line.info, use, sizeof use);
    AddLine(label, "%s (%s)%s: %s", described, chip.path, note, use);
    // The lines the running service holds, it holds for the programs.
    const bool service = check.service->state == ServiceState::Running &&
                         std::strcmp(line.info.consumer, SERVICE_CONSUMER) == 0;
    if (!service && !CheckLineFree(chip, line, where, problem)) AddProblem(label, where, concerns, problem);
    marlek_board::CloseDescriptor(chip.fd);
}

// Whether the board service runs, and whether it holds the board as this
// description has it.
void CheckService(const char* path) {
    const ServiceFacts& service = *check.service;
    switch (service.state) {
        case ServiceState::Absent:
            AddLine("service", "not running (no %s): each program drives the kernel itself", service.socket);
            return;
        case ServiceState::Unreachable: AddProblem("service", "", "", service.problem); return;
        case ServiceState::Running: break;
    }
    const bool same = std::strcmp(service.description, path) == 0;
    AddLine("service", "runs at %s (pid %ld, %ld connection%s), holding the board as %s%s describes it%s%s", service.socket,
            service.pid, service.clients, service.clients == 1 ? "" : "s", same ? "this file" : service.description,
            same ? "" : ", not this file,", service.readAt[0] != '\0' ? ", read " : "", service.readAt);
    if (service.descriptionProblem[0] != '\0') {
        Problem problem;
        Fail(problem, ERROR_DESCRIPTION, "%s; the service keeps the board as its last good description left it",
             service.descriptionProblem);
        AddProblem("service", "", "", problem);
    }
}

void CheckPins() {
    const Description& description = *check.description;
    if (!description.anyPin) {
        AddLine("pins", "not described: the digital I/O cannot be opened");
        return;
    }
    for (int pin = 0; pin < marlek_board::PIN_COUNT; ++pin) {
        char label[LABEL_SIZE];
        std::snprintf(label, sizeof label, "pin %d", pin);
        CheckLine(label, description.pins[static_cast<size_t>(pin)], "");
    }
}

void CheckLed() {
    const LedEntry& led = check.description->led;
    if (led.kind == LedKind::None) {
        AddLine("led", "not described: userled cannot switch it");
        return;
    }
    if (led.kind == LedKind::Line) {
        CheckLine("led", led.line, led.line.activeLow ? " active-low" : "");
        return;
    }
    char where[PATH_TEXT_SIZE + 32];
    LedWhere(check.description->path, led, where, sizeof where);
    char concerns[96];
    Concerns("the LED", led.sourceLine, concerns);
    Problem problem;
    unsigned long brightness = 0;
    unsigned long maximum = 1;
    if (!ReadLed(led.className, where, brightness, maximum, problem)) {
        AddProblem("led", where, concerns, problem);
        return;
    }
    AddLine("led", "LED class device %s, brightness %lu of %lu", led.className, brightness, maximum);
    if (!LedWritable(led.className, problem)) AddProblem("led", where, concerns, problem);
}

// The kernel's RS-485 mode of each tty the pair names, read and never
// written; and whether Linux takes the pair's delays, told from its limit.
void CheckTtys(int pair) {
    const PairEntry& entry = check.description->pairs[static_cast<size_t>(pair)];
    const char* label = PairEntryName(pair);
    for (int port = 0; port < PAIR_PORTS; ++port) {
        const char* tty = entry.tty[static_cast<size_t>(port)].data();
        if (tty[0] == '\0') continue;
        const int sourceLine = entry.ttyLine[static_cast<size_t>(port)];
        char where[PATH_TEXT_SIZE + 32];
        TtyWhere(check.description->path, entry, pair, port, where, sizeof where);
        char what[32];
        std::snprintf(what, sizeof what, "%s tty%d", label, port + 1);
        char concerns[96];
        Concerns(what, sourceLine, concerns);
        serial_rs485 settings{};
        Problem problem;
        if (!ReadRs485(tty, where, settings, problem)) {
            AddProblem(label, where, concerns, problem);
            continue;
        }
        char mode[128];
        DescribeRs485(settings, mode, sizeof mode);
        AddLine(label, "tty%d %s: %s", port + 1, tty, mode);
    }
    if (entry.delaysLine == 0 || (entry.delayBeforeSend <= KERNEL_MAX_RS485_DELAY_MS &&
                                  entry.delayAfterSend <= KERNEL_MAX_RS485_DELAY_MS)) {
        return;
    }
    char where[PATH_TEXT_SIZE + 32];
    std::snprintf(where, sizeof where, "%s:%d: %s rs485-delays", check.description->path, entry.delaysLine, label);
    char concerns[96];
    char what[32];
    std::snprintf(what, sizeof what, "%s rs485-delays", label);
    Concerns(what, entry.delaysLine, concerns);
    Problem problem;
    Fail(problem, ERROR_SERIAL_FAILED,
         "%s: Linux takes RS-485 delays of at most %u ms, not %u and %u ms, and uartmode's switch to RS-485 fails "
         "on them; give delays of %u ms or less",
         where, KERNEL_MAX_RS485_DELAY_MS, entry.delayBeforeSend, entry.delayAfterSend, KERNEL_MAX_RS485_DELAY_MS);
    AddProblem(label, where, concerns, problem);
}

void CheckPair(int pair) {
    const PairEntry& entry = check.description->pairs[static_cast<size_t>(pair)];
    const char* label = PairEntryName(pair);
    if (!PairDescribed(entry)) {
        AddLine(label, "not described: uartmode cannot switch %s", pair == 0 ? "UART 1 and 2" : "UART 3 and 4");
        return;
    }
    CheckTtys(pair);
    if (entry.lineCount == 0) return;
    for (int i = 0; i < entry.lineCount; ++i) {
        char note[32];
        std::snprintf(note, sizeof note, ", mode line %d", i + 1);
        CheckLine(label, entry.lines[static_cast<size_t>(i)], note);
    }
    constexpr const char* MODES[MODE_COUNT] = {"rs232", "rs485", "rs422"};
    char values[128] = "";
    size_t used = 0;
    for (int mode = 0; mode < MODE_COUNT && used < sizeof values; ++mode) {
        int wrote = std::snprintf(values + used, sizeof values - used, "%s%s", mode == 0 ? "" : ", ", MODES[mode]);
        for (int i = 0; i < entry.lineCount && wrote > 0; ++i) {
            used += static_cast<size_t>(wrote);
            if (used >= sizeof values) break;
            wrote = std::snprintf(values + used, sizeof values - used, " %u",
                                  (entry.values[static_cast<size_t>(mode)] >> i) & 1u);
        }
        if (wrote > 0) used += static_cast<size_t>(wrote);
    }
    AddLine(label, "%s", values);
}

void SharedLine(const Problem& problem, void*) { AddProblem("lines", "", "", problem); }

// A problem shared by several entries: its cause once, with what it concerns.
void PrintShared(const Item& item, const Reported& reported) {
    char concerns[2048] = "";
    size_t used = 0;
    for (int k = 0; k < check.problemCount && used < sizeof concerns; ++k) {
        if (check.problems[k].first != item.problem) continue;
        const int wrote =
            std::snprintf(concerns + used, sizeof concerns - used, "%s%s", used == 0 ? "" : ", ", check.problems[k].concerns);
        if (wrote > 0) used += static_cast<size_t>(wrote);
    }
    Line("%-8s problem: %s: %s (%s: %s)", item.label, ErrorText(reported.problem.code),
         reported.problem.detail + reported.causeAt, check.description->path, concerns);
}

int PrintMap() {
    int problems = 0;
    for (int i = 0; i < check.itemCount; ++i) {
        const Item& item = check.items[i];
        if (item.problem < 0) {
            Line("%-8s %s", item.label, item.text);
            continue;
        }
        const Reported& reported = check.problems[item.problem];
        if (reported.first != item.problem) continue;  // printed with the first
        ++problems;
        bool shared = false;
        for (int k = item.problem + 1; k < check.problemCount; ++k) shared = shared || check.problems[k].first == item.problem;
        if (shared) {
            PrintShared(item, reported);
        } else {
            Line("%-8s problem: %s: %s", item.label, ErrorText(reported.problem.code), reported.problem.detail);
        }
    }
    return problems;
}

void ParseProblem(const char* problem, void* context) {
    ++*static_cast<int*>(context);
    ErrorLine("%s", problem);
}

}  // namespace

int CheckDescription(const char* path, PathOrigin origin, const ServiceFacts& service) {
    static Description description;
    static char problem[PROBLEM_SIZE];
    int malformed = 0;
    if (!LoadDescription(path, origin, description, problem, ParseProblem, &malformed)) {
        if (malformed == 0) ErrorLine("%s", problem);
        if (malformed > 1) ErrorLine("%s is not usable as it stands: %d problems above", path, malformed);
        return 1;
    }
    check.description = &description;
    check.service = &service;
    CheckService(path);
    CheckPins();
    CheckLed();
    for (int pair = 0; pair < marlek_board::SERIAL_PAIR_COUNT; ++pair) CheckPair(pair);
    FindSharedLines(description, SharedLine, nullptr);
    Line("board description %s", path);
    const int problems = PrintMap();
    if (!OutputWritten()) return 1;
    if (problems > 0) {
        ErrorLine("%s is not usable as it stands: %d problem%s above", path, problems, problems == 1 ? "" : "s");
        return 1;
    }
    return 0;
}

}  // namespace marlek_linux
