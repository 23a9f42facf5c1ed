// The board library for Linux boards: the pins as GPIO lines through the GPIO
// character device, the user LED through the LED class or a GPIO line, and a
// UART pair's mode through its transceiver's mode lines, where the board
// description says they are.
//
// The digital I/O holds the eight pins' lines from Marlek_DIOInit to
// Marlek_DIOFree. The LED's line and the mode lines are requested on their
// first use and held until the program ends, so that nothing else changes them
// meanwhile; the kernel releases them then.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "board_description.h"
#include "board_rules.h"
#include "descriptors.h"
#include "error_record.h"
#include "led_class.h"
#include "line_set.h"
#include "marlek_lib.h"
#include "problem.h"
#include "serial_port.h"

namespace marlek_linux {

using marlek_board::CloseDescriptor;
using marlek_board::OpenDescriptor;
namespace {

using marlek_board::ERROR_ALREADY_INITIALISED;
using marlek_board::ERROR_INVALID_ARGUMENT;
using marlek_board::ERROR_NO_SUCH_DEVICE;
using marlek_board::ERROR_NOT_INITIALISED;
using marlek_board::ERROR_PIN_OUT_OF_RANGE;
using marlek_board::Operation;
using marlek_board::OperationName;
using marlek_board::PIN_COUNT;
using marlek_board::PinDrive;
using marlek_board::SerialMode;

struct DigitalIo {
    bool open = false;
    LineSet pins;
    uint8_t outputMask = 0;
    uint8_t pushPullMask = 0;
    uint8_t drivenLevels = 0;
};

// Everything is static and constant-initialised: no constructor runs, no
// guard is taken, nothing is allocated.
struct Library {
    bool described = false;
    Description description;
    DigitalIo dio;
    LineSet ledLine;
    std::array<LineSet, marlek_board::SERIAL_PAIR_COUNT> modeLines{};
    std::array<bool, marlek_board::SERIAL_PAIR_COUNT> modeLinesHeld{};
    bool ledLineHeld = false;
    bool linesApart = false;  // no two entries are one line or one tty
    marlek_board::ErrorRecord lastError;
    Problem problem;
};

Library library;

LibStatus Report(const Problem& problem) {
    return marlek_board::RecordError(library.lastError, problem.code, "%s", problem.detail);
}

void KeepFirstProblem(const Problem& found, void* context) {
    Problem& problem = *static_cast<Problem*>(context);
    if (problem.code == 0) problem = found;
}

// The description, read once for the run, and checked against the kernel
// once before its first line or tty is used: no two of its entries may be
// one line or one tty, however each is spelled. A run that could not read it,
// or whose check failed, tries again on its next call, so that the file can
// be mended meanwhile.
bool Described(Problem& problem) {
    if (!library.described) {
        static char text[PROBLEM_SIZE];
        if (!LoadDescription(DescriptionPath(), DescriptionOrigin(), library.description, text)) {
            return Fail(problem, ERROR_DESCRIPTION, "%s", text);
        }
        library.described = true;
    }
    if (!library.linesApart) {
        problem.code = 0;
        if (FindSharedLines(library.description, KeepFirstProblem, &problem) > 0) return false;
        library.linesApart = true;
    }
    return true;
}

// The pins of a group as "pins 0 1 2 (gpiochip1)".
void DescribeMembers(const LineGroup& group, const char* what, char* out, size_t size) {
    size_t used = 0;
    int wrote = std::snprintf(out, size, "%s", what);
    if (wrote > 0) used = static_cast<size_t>(wrote);
    for (int i = 0; i < group.count && used < size; ++i) {
        wrote = std::snprintf(out + used, size - used, " %d", group.member[static_cast<size_t>(i)]);
        if (wrote > 0) used += static_cast<size_t>(wrote);
    }
    if (used < size) std::snprintf(out + used, size - used, " (%s)", group.chip.name);
}

// What a failure at group failed leaves: none changed when it is the first,
// else the groups before it with what became of them.
void Aftermath(const LineSet& set, int failed, const char* what, const char* none, const char* done, char* out,
               size_t size) {
    if (failed == 0) {
        std::snprintf(out, size, "%s", none);
        return;
    }
    size_t used = 0;
    for (int g = 0; g < failed && used < size; ++g) {
        DescribeMembers(set.groups[static_cast<size_t>(g)], g == 0 ? what : ", and", out + used, size - used);
        used = std::strlen(out);
    }
    if (used < size) std::snprintf(out + used, size - used, " %s", done);
}

// ---- digital I/O ----

void ConfigureAsTheyAre(const LineGroup&, gpio_v2_line_config&, const void*) {}

// The pin configuration of one chip's lines: inputs, push-pull and open-drain
// outputs, each output starting at the level it is to drive.
void PinConfig(const LineGroup& group, uint8_t outputMask, uint8_t pushPullMask, uint8_t levels,
               gpio_v2_line_config& config) {
    config = gpio_v2_line_config{};
    config.flags = GPIO_V2_LINE_FLAG_INPUT;
    uint32_t pushPull = 0;
    uint32_t openDrain = 0;
    for (int pin = 0; pin < PIN_COUNT; ++pin) {
        const PinDrive drive = marlek_board::DriveOfPin(outputMask, pushPullMask, pin);
        if (drive == PinDrive::PushPull) pushPull |= 1u << pin;
        if (drive == PinDrive::OpenDrain) openDrain |= 1u << pin;
    }
    AddAttribute(config, GPIO_V2_LINE_FLAG_OUTPUT, GroupMask(group, pushPull));
    AddAttribute(config, GPIO_V2_LINE_FLAG_OUTPUT | GPIO_V2_LINE_FLAG_OPEN_DRAIN, GroupMask(group, openDrain));
    AddOutputValues(config, GroupMask(group, levels), GroupMask(group, outputMask));
}

LibStatus CheckDioOpen(Operation operation) {
    if (library.dio.open) return 0;
    return marlek_board::RecordError(library.lastError, ERROR_NOT_INITIALISED, "%s called before Marlek_DIOInit",
                                     OperationName(operation));
}

// What the pins are now: outputs and their levels, as the kernel has them.
bool ReadPinState(DigitalIo& dio, Problem& problem) {
    dio.outputMask = 0;
    dio.drivenLevels = 0;
    for (int g = 0; g < dio.pins.groupCount; ++g) {
        const LineGroup& group = dio.pins.groups[static_cast<size_t>(g)];
        uint64_t outputs = 0;
        for (int i = 0; i < group.count; ++i) {
            if (group.lines[static_cast<size_t>(i)].info.flags & GPIO_V2_LINE_FLAG_OUTPUT) outputs |= uint64_t{1} << i;
        }
        uint64_t values = 0;
        if (outputs != 0 && !GetValues(group.fd, outputs, values)) {
            return Fail(problem, ERROR_GPIO_FAILED, "cannot read the levels of the outputs of %s: %s", group.chip.name,
                        std::strerror(errno));
        }
        dio.outputMask = static_cast<uint8_t>(dio.outputMask | MembersOfValues(group, outputs));
        dio.drivenLevels = static_cast<uint8_t>(dio.drivenLevels | MembersOfValues(group, values & outputs));
    }
    // A line that is not held keeps no drive of its own: the outputs push-pull.
    dio.pushPullMask = dio.outputMask;
    return true;
}

bool OpenDio(Problem& problem) {
    if (!Described(problem)) return false;
    const Description& description = library.description;
    if (!description.anyPin) {
        return Fail(problem, ERROR_NOT_DESCRIBED,
                    "%s maps no pins; add 'pin N CHIP LINE' for each of the pins 0 to 7 (see %s)", description.path,
                    FORMAT_PAGE);
    }
    DigitalIo& dio = library.dio;
    if (!ResolveLines(description.path, description.pins.data(), PIN_COUNT, dio.pins, problem)) return false;
    char where[PATH_TEXT_SIZE + 32];
    std::snprintf(where, sizeof where, "%s: the pins", description.path);
    if (!RequestSet(dio.pins, ConfigureAsTheyAre, nullptr, where, problem)) return false;
    if (!ReadPinState(dio, problem)) {
        ReleaseSet(dio.pins);
        return false;
    }
    dio.open = true;
    return true;
}

// The levels the outputs of a new configuration start at: a pin that is an
// output already keeps the level last driven on it; a pin that becomes one
// starts at the level it reads now, so that its line does not change.
bool StartingLevels(uint8_t outputMask, uint8_t& levels, Problem& problem) {
    const DigitalIo& dio = library.dio;
    const uint8_t becoming = static_cast<uint8_t>(outputMask & ~dio.outputMask);
    levels = dio.drivenLevels;
    for (int g = 0; g < dio.pins.groupCount; ++g) {
        const LineGroup& group = dio.pins.groups[static_cast<size_t>(g)];
        const uint64_t mask = GroupMask(group, becoming);
        uint64_t values = 0;
        if (mask == 0) continue;
        if (!GetValues(group.fd, mask, values)) {
            char pins[128];
            DescribeMembers(group, "pins", pins, sizeof pins);
            return Fail(problem, ERROR_GPIO_FAILED, "cannot read %s before making them outputs: %s; no pin was changed",
                        pins, std::strerror(errno));
        }
        const uint8_t read = static_cast<uint8_t>(MembersOfValues(group, values & mask));
        levels = marlek_board::DrivenLevels(levels, read, static_cast<uint8_t>(MembersOfValues(group, mask)));
    }
    return true;
}

// Applies a pin configuration to every chip; on a failure, the chips done
// already are set back, and the text says whether that worked.
bool ApplyPinConfig(uint8_t outputMask, uint8_t pushPullMask, Problem& problem) {
    DigitalIo& dio = library.dio;
    uint8_t levels = 0;
    if (!StartingLevels(outputMask, levels, problem)) return false;
    for (int g = 0; g < dio.pins.groupCount; ++g) {
        const LineGroup& group = dio.pins.groups[static_cast<size_t>(g)];
        gpio_v2_line_config config{};
        PinConfig(group, outputMask, pushPullMask, levels, config);
        if (SetConfig(group.fd, config)) continue;
        const int error = errno;
        char pins[128];
        DescribeMembers(group, "pins", pins, sizeof pins);
        bool restored = true;
        for (int done = 0; done < g; ++done) {
            const LineGroup& back = dio.pins.groups[static_cast<size_t>(done)];
            PinConfig(back, dio.outputMask, dio.pushPullMask, dio.drivenLevels, config);
            restored = SetConfig(back.fd, config) && restored;
        }
        char after[512];
        Aftermath(dio.pins, g, "pins", "no pin was changed",
                  restored ? "were set back as they were" : "could not be set back and have the new configuration",
                  after, sizeof after);
        return Fail(problem, ERROR_GPIO_FAILED, "the kernel refused the configuration of %s: %s; %s", pins,
                    std::strerror(error), after);
    }
    dio.outputMask = outputMask;
    dio.pushPullMask = pushPullMask;
    dio.drivenLevels = static_cast<uint8_t>(levels & outputMask);
    return true;
}

// Drives the enabled outputs, one request per chip.
bool DriveOutputs(uint8_t data, uint8_t enableMask, Problem& problem) {
    DigitalIo& dio = library.dio;
    const uint8_t driven = marlek_board::PinsToDrive(dio.outputMask, enableMask);
    for (int g = 0; g < dio.pins.groupCount; ++g) {
        const LineGroup& group = dio.pins.groups[static_cast<size_t>(g)];
        const uint64_t mask = GroupMask(group, driven);
        if (mask == 0) continue;
        if (SetValues(group.fd, mask, GroupMask(group, data))) {
            const uint8_t here = static_cast<uint8_t>(MembersOfValues(group, mask));
            dio.drivenLevels = marlek_board::DrivenLevels(dio.drivenLevels, data, here);
            continue;
        }
        const int error = errno;
        char pins[128];
        DescribeMembers(group, "pins", pins, sizeof pins);
        char after[512];
        Aftermath(dio.pins, g, "pins", "no pin was driven", "were driven already", after, sizeof after);
        return Fail(problem, ERROR_GPIO_FAILED, "the kernel refused to drive %s: %s; %s", pins, std::strerror(error),
                    after);
    }
    return true;
}

bool ReadLevels(uint8_t& levels, Problem& problem) {
    levels = 0;
    const DigitalIo& dio = library.dio;
    for (int g = 0; g < dio.pins.groupCount; ++g) {
        const LineGroup& group = dio.pins.groups[static_cast<size_t>(g)];
        const uint64_t all = (uint64_t{1} << group.count) - 1;
        uint64_t values = 0;
        if (!GetValues(group.fd, all, values)) {
            char pins[128];
            DescribeMembers(group, "pins", pins, sizeof pins);
            return Fail(problem, ERROR_GPIO_FAILED, "cannot read %s: %s", pins, std::strerror(errno));
        }
        levels = static_cast<uint8_t>(levels | MembersOfValues(group, values & all));
    }
    return true;
}

// ---- held lines: the LED's and the mode lines ----

struct OutputValues {
    uint32_t members;
    bool activeLow;
};

void ConfigureOutputs(const LineGroup& group, gpio_v2_line_config& config, const void* context) {
    const OutputValues& values = *static_cast<const OutputValues*>(context);
    config.flags = GPIO_V2_LINE_FLAG_OUTPUT | (values.activeLow ? GPIO_V2_LINE_FLAG_ACTIVE_LOW : 0);
    const uint64_t all = (uint64_t{1} << group.count) - 1;
    AddOutputValues(config, GroupMask(group, values.members), all);
}

// Sets held lines to values (bit i: line i of the set), requesting them as
// outputs on their first use. what names them in texts ("UART 1 and 2's mode
// lines"), mode what they are set for.
bool SetHeldLines(LineSet& set, bool& held, const LineEntry* entries, int count, uint32_t values, bool activeLow,
                  const char* what, const char* mode, Problem& problem) {
    if (!held) {
        if (!ResolveLines(library.description.path, entries, count, set, problem)) return false;
        const OutputValues context{values, activeLow};
        char here[PATH_TEXT_SIZE + 64];
        std::snprintf(here, sizeof here, "%s: %s", library.description.path, what);
        if (!RequestSet(set, ConfigureOutputs, &context, here, problem)) return false;
        held = true;
        return true;
    }
    for (int g = 0; g < set.groupCount; ++g) {
        const LineGroup& group = set.groups[static_cast<size_t>(g)];
        const uint64_t all = (uint64_t{1} << group.count) - 1;
        if (SetValues(group.fd, all, GroupMask(group, values))) continue;
        const int error = errno;
        char after[512];
        Aftermath(set, g, "the lines", "none was changed", "were set already", after, sizeof after);
        return Fail(problem, ERROR_GPIO_FAILED, "the kernel refused to set %s on %s for %s: %s; %s", what,
                    group.chip.name, mode, std::strerror(error), after);
    }
    return true;
}

bool SetLed(bool on, Problem& problem) {
    if (!Described(problem)) return false;
    const LedEntry& led = library.description.led;
    switch (led.kind) {
        case LedKind::Class: {
            char where[PATH_TEXT_SIZE + 32];
            LedWhere(library.description.path, led, where, sizeof where);
            return WriteLed(led.className, where, on, problem);
        }
        case LedKind::Line:
            return SetHeldLines(library.ledLine, library.ledLineHeld, &led.line, 1, on ? 1u : 0u, led.line.activeLow,
                                "the LED's line", on ? "on" : "off", problem);
        case LedKind::None: break;
    }
    return Fail(problem, ERROR_NOT_DESCRIBED,
                "%s describes no user LED; add 'led class NAME' or 'led line CHIP LINE [active-low]' (see %s)",
                library.description.path, FORMAT_PAGE);
}

// Appends to the problem's text what had been done before it.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void AddToProblem(Problem& problem, const char* format, ...) {
    static char addition[PATH_TEXT_SIZE + 128];
    va_list args;
    va_start(args, format);
    std::vsnprintf(addition, sizeof addition, format, args);
    va_end(args);
    marlek_board::RecordError(problem, problem.code, "%s%s", problem.detail, addition);
}

// The pair's mode lines first, then the kernel's mode of each port it names.
bool SetSerialMode(int pair, SerialMode mode, Problem& problem) {
    if (!Described(problem)) return false;
    const PairEntry& entry = library.description.pairs[static_cast<size_t>(pair)];
    const char* ports = pair == 0 ? "UART 1 and 2" : "UART 3 and 4";
    const char* modeName = marlek_board::SerialModeName(mode);
    if (!PairDescribed(entry)) {
        return Fail(problem, ERROR_NOT_DESCRIBED,
                    "%s describes neither mode lines nor ttys for %s; add '%s line CHIP LINE' for each mode line "
                    "with '%s rs232|rs485|rs422 V...', or '%s tty1 TTY' (see %s)",
                    library.description.path, ports, PairEntryName(pair), PairEntryName(pair), PairEntryName(pair),
                    FORMAT_PAGE);
    }
    if (entry.lineCount > 0) {
        char what[64];
        std::snprintf(what, sizeof what, "%s's mode lines", ports);
        const uint8_t values = entry.values[static_cast<size_t>(ModeIndex(mode))];
        if (!SetHeldLines(library.modeLines[static_cast<size_t>(pair)],
                          library.modeLinesHeld[static_cast<size_t>(pair)], entry.lines.data(), entry.lineCount,
                          values, false, what, modeName, problem)) {
            return false;
        }
    }
    bool portSwitched = false;
    for (int port = 0; port < PAIR_PORTS; ++port) {
        const char* tty = entry.tty[static_cast<size_t>(port)].data();
        if (tty[0] == '\0') continue;
        char where[PATH_TEXT_SIZE + 32];
        TtyWhere(library.description.path, entry, pair, port, where, sizeof where);
        if (SetRs485(tty, mode, entry.delayBeforeSend, entry.delayAfterSend, where, problem)) {
            portSwitched = true;
            continue;
        }
        if (entry.lineCount > 0) {
            AddToProblem(problem, "; the pair's mode lines were set for %s already", modeName);
        } else {
            AddToProblem(problem, "; the pair has no mode lines");
        }
        if (portSwitched) AddToProblem(problem, ", and %s was switched already", entry.tty[0].data());
        return false;
    }
    return true;
}

LibStatus NullArgument(Operation operation) {
    return marlek_board::RecordError(library.lastError, ERROR_INVALID_ARGUMENT, "%s: null pointer argument",
                                     OperationName(operation));
}

}  // namespace
}  // namespace marlek_linux

using namespace marlek_linux;

extern "C" {

LibStatus Marlek_DIOInit(void) {
    if (library.dio.open) {
        return marlek_board::RecordError(library.lastError, ERROR_ALREADY_INITIALISED,
                                         "Marlek_DIOInit called twice without Marlek_DIOFree");
    }
    return OpenDio(library.problem) ? 0 : Report(library.problem);
}

LibStatus Marlek_DIOFree(void) {
    if (const LibStatus status = CheckDioOpen(Operation::DIOFree)) return status;
    ReleaseSet(library.dio.pins);
    library.dio = DigitalIo{};
    return 0;
}

LibStatus Marlek_DIOSetConfig(uint8_t outputMask, uint8_t pushPullMask) {
    if (const LibStatus status = CheckDioOpen(Operation::DIOSetConfig)) return status;
    return ApplyPinConfig(outputMask, pushPullMask, library.problem) ? 0 : Report(library.problem);
}

LibStatus Marlek_DIOInputByte(uint8_t* data) {
    if (const LibStatus status = CheckDioOpen(Operation::DIOInputByte)) return status;
    if (data == nullptr) return NullArgument(Operation::DIOInputByte);
    uint8_t levels = 0;
    if (!ReadLevels(levels, library.problem)) return Report(library.problem);
    *data = levels;
    return 0;
}

LibStatus Marlek_DIOInputBit(int32_t pin, uint8_t* level) {
    if (const LibStatus status = CheckDioOpen(Operation::DIOInputBit)) return status;
    if (pin < 0 || pin >= PIN_COUNT) {
        return marlek_board::RecordError(library.lastError, ERROR_PIN_OUT_OF_RANGE,
                                         "Marlek_DIOInputBit: pin %d is not one of 0 to 7", static_cast<int>(pin));
    }
    if (level == nullptr) return NullArgument(Operation::DIOInputBit);
    for (int g = 0; g < library.dio.pins.groupCount; ++g) {
        const LineGroup& group = library.dio.pins.groups[static_cast<size_t>(g)];
        const uint64_t mask = GroupMask(group, 1u << pin);
        if (mask == 0) continue;
        uint64_t values = 0;
        if (!GetValues(group.fd, mask, values)) {
            Fail(library.problem, ERROR_GPIO_FAILED, "cannot read pin %d (%s): %s", static_cast<int>(pin),
                 group.chip.name, std::strerror(errno));
            return Report(library.problem);
        }
        *level = (values & mask) != 0 ? 1 : 0;
        return 0;
    }
    return NullArgument(Operation::DIOInputBit);  // every pin is in a group while the digital I/O is open
}

LibStatus Marlek_DIOOutputByte(uint8_t data, uint8_t enableMask) {
    if (const LibStatus status = CheckDioOpen(Operation::DIOOutputByte)) return status;
    return DriveOutputs(data, enableMask, library.problem) ? 0 : Report(library.problem);
}

LibStatus Marlek_DIOOutputBit(uint8_t data, uint8_t enableMask) {
    if (const LibStatus status = CheckDioOpen(Operation::DIOOutputBit)) return status;
    return DriveOutputs(data, enableMask, library.problem) ? 0 : Report(library.problem);
}

LibStatus MarlekLedConfig(uint8_t device, uint8_t* setting, int32_t) {
    if (setting == nullptr) return NullArgument(Operation::LedConfig);
    if (device != marlek_board::LED_DEVICE) {
        return marlek_board::RecordError(library.lastError, ERROR_NO_SUCH_DEVICE,
                                         "MarlekLedConfig: device %u is not the user LED (7)", device);
    }
    if (*setting != marlek_board::LED_ON && *setting != marlek_board::LED_OFF) {
        return marlek_board::RecordError(library.lastError, ERROR_INVALID_ARGUMENT,
                                         "MarlekLedConfig: LED setting %u is neither 0 (on) nor 1 (off)", *setting);
    }
    return SetLed(*setting == marlek_board::LED_ON, library.problem) ? 0 : Report(library.problem);
}

LibStatus MarlekSerialConfig(uint8_t modeCode, PortPair* ports) {
    if (ports == nullptr) return NullArgument(Operation::SerialConfig);
    int pair = 0;
    SerialMode mode = SerialMode::Unset;
    if (!marlek_board::DecodeSerialMode(modeCode, pair, mode)) {
        return marlek_board::RecordError(library.lastError, ERROR_INVALID_ARGUMENT,
                                         "MarlekSerialConfig: mode code %u is not known", modeCode);
    }
    return SetSerialMode(pair, mode, library.problem) ? 0 : Report(library.problem);
}

LibStatus KVTGetLastError(LastErrorInfo* info) {
    if (info == nullptr) return 1;
    marlek_board::FillLastError(library.lastError, *info);
    return 0;
}

const char* kvtGetErrorString(uint8_t code) { return marlek_linux::ErrorText(code); }

}  // extern "C"
