#include "board_engine.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "board_rules.h"
#include "error_record.h"
#include "led_class.h"
#include "serial_port.h"

namespace marlek_linux {

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

void KeepFirstProblem(const Problem& found, void* context) {
    Problem& problem = *static_cast<Problem*>(context);
    if (problem.code == 0) problem = found;
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

const LineGroup& GroupOf(const LineSet& set, int g) { return set.groups[static_cast<size_t>(g)]; }

// ---- digital I/O ----

// The pin configuration of one chip's lines for the pins in known: inputs,
// push-pull and open-drain outputs, each output starting at the level it is
// to drive. The other pins are left as they are.
struct PinConfigWanted {
    uint8_t known;
    uint8_t outputMask;
    uint8_t pushPullMask;
    uint8_t levels;
    bool edges;  // the inputs report their edges
};

bool EdgesWanted(const BoardEngine& engine) { return engine.followEdges && !engine.edgesRefused; }

// A request or configuration the kernel refused with the inputs' edges is
// tried again without them: a chip whose lines cannot report edges is
// followed by the calls alone.
bool EdgesRefusedNow(BoardEngine& engine, int error) {
    if (!EdgesWanted(engine) || (error != EINVAL && error != ENXIO && error != EOPNOTSUPP && error != ENOTSUP)) {
        return false;
    }
    engine.edgesRefused = true;
    return true;
}

void PinConfig(const LineGroup& group, const PinConfigWanted& wanted, gpio_v2_line_config& config) {
    config = gpio_v2_line_config{};
    config.flags = wanted.known == 0xFF ? GPIO_V2_LINE_FLAG_INPUT : 0;
    uint32_t inputs = 0;
    uint32_t pushPull = 0;
    uint32_t openDrain = 0;
    for (int pin = 0; pin < PIN_COUNT; ++pin) {
        if (((wanted.known >> pin) & 1u) == 0) continue;
        const PinDrive drive = marlek_board::DriveOfPin(wanted.outputMask, wanted.pushPullMask, pin);
        if (drive == PinDrive::Input) inputs |= 1u << pin;
        if (drive == PinDrive::PushPull) pushPull |= 1u << pin;
        if (drive == PinDrive::OpenDrain) openDrain |= 1u << pin;
    }
    const uint64_t edges = wanted.edges ? GPIO_V2_LINE_FLAG_EDGE_RISING | GPIO_V2_LINE_FLAG_EDGE_FALLING : 0;
    config.flags |= config.flags != 0 ? edges : 0;
    if (config.flags == 0) AddAttribute(config, GPIO_V2_LINE_FLAG_INPUT | edges, GroupMask(group, inputs));
    AddAttribute(config, GPIO_V2_LINE_FLAG_OUTPUT, GroupMask(group, pushPull));
    AddAttribute(config, GPIO_V2_LINE_FLAG_OUTPUT | GPIO_V2_LINE_FLAG_OPEN_DRAIN, GroupMask(group, openDrain));
    const uint8_t outputs = static_cast<uint8_t>(wanted.known & wanted.outputMask);
    AddOutputValues(config, GroupMask(group, wanted.levels), GroupMask(group, outputs));
}

void ConfigurePins(const LineGroup& group, gpio_v2_line_config& config, const void* context) {
    PinConfig(group, *static_cast<const PinConfigWanted*>(context), config);
}

// What the pins are now: outputs and their levels, as the kernel has them,
// for the pins not in known.
bool ReadPinState(BoardEngine& engine, uint8_t known, Problem& problem) {
    PinState& pins = engine.pins;
    const uint8_t unknown = static_cast<uint8_t>(~known);
    for (int g = 0; g < engine.pinLines.groupCount; ++g) {
        const LineGroup& group = GroupOf(engine.pinLines, g);
        uint64_t outputs = 0;
        for (int i = 0; i < group.count; ++i) {
            if (group.lines[static_cast<size_t>(i)].info.flags & GPIO_V2_LINE_FLAG_OUTPUT) outputs |= uint64_t{1} << i;
        }
        outputs &= GroupMask(group, unknown);
        uint64_t values = 0;
        if (outputs != 0 && !GetValues(group.fd, outputs, values)) {
            return Fail(problem, ERROR_GPIO_FAILED, "cannot read the levels of the outputs of %s: %s", group.chip.name,
                        std::strerror(errno));
        }
        const uint8_t found = static_cast<uint8_t>(MembersOfValues(group, outputs));
        pins.outputMask = static_cast<uint8_t>(pins.outputMask | found);
        pins.drivenLevels = static_cast<uint8_t>(pins.drivenLevels | MembersOfValues(group, values & outputs));
        // A line that was not held keeps no drive of its own: the outputs push-pull.
        pins.pushPullMask = static_cast<uint8_t>(pins.pushPullMask | found);
    }
    return true;
}

// The levels the outputs of a new configuration start at: a pin that is an
// output already keeps the level last driven on it; a pin that becomes one
// starts at the level it reads now, so that its line does not change.
bool StartingLevels(const BoardEngine& engine, uint8_t outputMask, uint8_t& levels, Problem& problem) {
    const PinState& pins = engine.pins;
    const uint8_t becoming = static_cast<uint8_t>(outputMask & ~pins.outputMask);
    levels = pins.drivenLevels;
    for (int g = 0; g < engine.pinLines.groupCount; ++g) {
        const LineGroup& group = GroupOf(engine.pinLines, g);
        const uint64_t mask = GroupMask(group, becoming);
        uint64_t values = 0;
        if (mask == 0) continue;
        if (!GetValues(group.fd, mask, values)) {
            char described[128];
            DescribeMembers(group, "pins", described, sizeof described);
            return Fail(problem, ERROR_GPIO_FAILED, "cannot read %s before making them outputs: %s; no pin was changed",
                        described, std::strerror(errno));
        }
        const uint8_t read = static_cast<uint8_t>(MembersOfValues(group, values & mask));
        levels = marlek_board::DrivenLevels(levels, read, static_cast<uint8_t>(MembersOfValues(group, mask)));
    }
    return true;
}

// Applies a pin configuration to every chip; on a failure, the chips done
// already are set back, and the text says whether that worked.
bool ApplyPinConfig(BoardEngine& engine, uint8_t outputMask, uint8_t pushPullMask, Problem& problem) {
    PinState& pins = engine.pins;
    uint8_t levels = 0;
    if (!StartingLevels(engine, outputMask, levels, problem)) return false;
    PinConfigWanted wanted{0xFF, outputMask, pushPullMask, levels, EdgesWanted(engine)};
    for (int g = 0; g < engine.pinLines.groupCount; ++g) {
        const LineGroup& group = GroupOf(engine.pinLines, g);
        gpio_v2_line_config config{};
        PinConfig(group, wanted, config);
        if (SetConfig(group.fd, config)) continue;
        const int error = errno;
        if (EdgesRefusedNow(engine, error)) {
            wanted.edges = false;
            --g;  // this chip again, without edges
            continue;
        }
        char described[128];
        DescribeMembers(group, "pins", described, sizeof described);
        bool restored = true;
        const PinConfigWanted before{0xFF, pins.outputMask, pins.pushPullMask, pins.drivenLevels, wanted.edges};
        for (int done = 0; done < g; ++done) {
            const LineGroup& back = GroupOf(engine.pinLines, done);
            PinConfig(back, before, config);
            restored = SetConfig(back.fd, config) && restored;
        }
        char after[512];
        Aftermath(engine.pinLines, g, "pins", "no pin was changed",
                  restored ? "were set back as they were" : "could not be set back and have the new configuration",
                  after, sizeof after);
        return Fail(problem, ERROR_GPIO_FAILED, "the kernel refused the configuration of %s: %s; %s", described,
                    std::strerror(error), after);
    }
    pins.outputMask = outputMask;
    pins.pushPullMask = pushPullMask;
    pins.drivenLevels = static_cast<uint8_t>(levels & outputMask);
    return true;
}

// Drives the enabled outputs, one request per chip.
bool DriveOutputs(BoardEngine& engine, uint8_t data, uint8_t enableMask, Problem& problem) {
    PinState& pins = engine.pins;
    const uint8_t driven = marlek_board::PinsToDrive(pins.outputMask, enableMask);
    for (int g = 0; g < engine.pinLines.groupCount; ++g) {
        const LineGroup& group = GroupOf(engine.pinLines, g);
        const uint64_t mask = GroupMask(group, driven);
        if (mask == 0) continue;
        if (SetValues(group.fd, mask, GroupMask(group, data))) {
            const uint8_t here = static_cast<uint8_t>(MembersOfValues(group, mask));
            pins.drivenLevels = marlek_board::DrivenLevels(pins.drivenLevels, data, here);
            continue;
        }
        const int error = errno;
        char described[128];
        DescribeMembers(group, "pins", described, sizeof described);
        char after[512];
        Aftermath(engine.pinLines, g, "pins", "no pin was driven", "were driven already", after, sizeof after);
        return Fail(problem, ERROR_GPIO_FAILED, "the kernel refused to drive %s: %s; %s", described,
                    std::strerror(error), after);
    }
    return true;
}

bool ReadLevels(const BoardEngine& engine, uint8_t& levels, Problem& problem) {
    levels = 0;
    for (int g = 0; g < engine.pinLines.groupCount; ++g) {
        const LineGroup& group = GroupOf(engine.pinLines, g);
        const uint64_t all = (uint64_t{1} << group.count) - 1;
        uint64_t values = 0;
        if (!GetValues(group.fd, all, values)) {
            char described[128];
            DescribeMembers(group, "pins", described, sizeof described);
            return Fail(problem, ERROR_GPIO_FAILED, "cannot read %s: %s", described, std::strerror(errno));
        }
        levels = static_cast<uint8_t>(levels | MembersOfValues(group, values & all));
    }
    return true;
}

bool ReadPin(const BoardEngine& engine, int pin, uint8_t& level, Problem& problem) {
    for (int g = 0; g < engine.pinLines.groupCount; ++g) {
        const LineGroup& group = GroupOf(engine.pinLines, g);
        const uint64_t mask = GroupMask(group, 1u << pin);
        if (mask == 0) continue;
        uint64_t values = 0;
        if (!GetValues(group.fd, mask, values)) {
            return Fail(problem, ERROR_GPIO_FAILED, "cannot read pin %d (%s): %s", pin, group.chip.name,
                        std::strerror(errno));
        }
        level = (values & mask) != 0 ? 1 : 0;
        return true;
    }
    // Every pin is in a group while the pins are held.
    return Fail(problem, ERROR_INVALID_ARGUMENT, "Marlek_DIOInputBit: pin %d is not held", pin);
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
bool SetHeldLines(const BoardEngine& engine, LineSet& set, bool& held, const LineEntry* entries, int count,
                  uint32_t values, bool activeLow, const char* what, const char* mode, Problem& problem) {
    if (!held) {
        if (!ResolveLines(engine.description.path, entries, count, set, problem)) return false;
        const OutputValues context{values, activeLow};
        char here[PATH_TEXT_SIZE + 64];
        std::snprintf(here, sizeof here, "%s: %s", engine.description.path, what);
        if (!RequestSet(set, ConfigureOutputs, &context, here, problem)) return false;
        held = true;
        return true;
    }
    for (int g = 0; g < set.groupCount; ++g) {
        const LineGroup& group = GroupOf(set, g);
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

bool SetLed(BoardEngine& engine, bool on, Problem& problem) {
    if (!Described(engine, problem)) return false;
    const LedEntry& led = engine.description.led;
    switch (led.kind) {
        case LedKind::Class: {
            char where[PATH_TEXT_SIZE + 32];
            LedWhere(engine.description.path, led, where, sizeof where);
            if (!WriteLed(led.className, where, on, problem)) return false;
            engine.ledKnown = true;
            engine.ledOn = on;
            return true;
        }
        case LedKind::Line: return SetLedLine(engine, on, problem);
        case LedKind::None: break;
    }
    return Fail(problem, ERROR_NOT_DESCRIBED,
                "%s describes no user LED; add 'led class NAME' or 'led line CHIP LINE [active-low]' (see %s)",
                engine.description.path, FORMAT_PAGE);
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
bool SetSerialMode(BoardEngine& engine, int pair, SerialMode mode, Problem& problem) {
    if (!Described(engine, problem)) return false;
    const PairEntry& entry = engine.description.pairs[static_cast<size_t>(pair)];
    const char* ports = pair == 0 ? "UART 1 and 2" : "UART 3 and 4";
    const char* modeName = marlek_board::SerialModeName(mode);
    if (!PairDescribed(entry)) {
        return Fail(problem, ERROR_NOT_DESCRIBED,
                    "%s describes neither mode lines nor ttys for %s; add '%s line CHIP LINE' for each mode line "
                    "with '%s rs232|rs485|rs422 V...', or '%s tty1 TTY' (see %s)",
                    engine.description.path, ports, PairEntryName(pair), PairEntryName(pair), PairEntryName(pair),
                    FORMAT_PAGE);
    }
    if (entry.lineCount > 0 && !SetModeLines(engine, pair, mode, problem)) return false;
    bool portSwitched = false;
    for (int port = 0; port < PAIR_PORTS; ++port) {
        const char* tty = entry.tty[static_cast<size_t>(port)].data();
        if (tty[0] == '\0') continue;
        char where[PATH_TEXT_SIZE + 32];
        TtyWhere(engine.description.path, entry, pair, port, where, sizeof where);
        TtyState& state = engine.ttys[static_cast<size_t>(pair)][static_cast<size_t>(port)];
        if (SetRs485(tty, mode, entry.delayBeforeSend, entry.delayAfterSend, where, problem)) {
            state = mode == SerialMode::Rs485 ? TtyState::Rs485On : TtyState::Rs485Off;
            portSwitched = true;
            continue;
        }
        state = TtyState::Unknown;
        if (entry.lineCount > 0) {
            AddToProblem(problem, "; the pair's mode lines were set for %s already", modeName);
        } else {
            AddToProblem(problem, "; the pair has no mode lines");
        }
        if (portSwitched) AddToProblem(problem, ", and %s was switched already", entry.tty[0].data());
        return false;
    }
    engine.modes[static_cast<size_t>(pair)] = mode;
    return true;
}

// ---- the calls ----

bool NullArgument(Operation operation, Problem& problem) {
    return Fail(problem, ERROR_INVALID_ARGUMENT, "%s: null pointer argument", OperationName(operation));
}

bool CheckDioOpen(const RunState& run, Operation operation, Problem& problem) {
    if (run.dioOpen) return true;
    return Fail(problem, ERROR_NOT_INITIALISED, "%s called before Marlek_DIOInit", OperationName(operation));
}

bool OpenDio(BoardEngine& engine, RunState& run, Problem& problem) {
    if (run.dioOpen) {
        return Fail(problem, ERROR_ALREADY_INITIALISED, "Marlek_DIOInit called twice without Marlek_DIOFree");
    }
    if (!engine.pins.held && !HoldPins(engine, 0, PinState{}, problem)) return false;
    run.dioOpen = true;
    return true;
}

bool FreeDio(BoardEngine& engine, RunState& run, Problem& problem) {
    if (!CheckDioOpen(run, Operation::DIOFree, problem)) return false;
    run.dioOpen = false;
    if (!engine.keepsLines) ReleasePins(engine);
    return true;
}

bool InputBit(const BoardEngine& engine, const BoardRequest& request, uint8_t& value, Problem& problem) {
    if (request.pin < 0 || request.pin >= PIN_COUNT) {
        return Fail(problem, ERROR_PIN_OUT_OF_RANGE, "Marlek_DIOInputBit: pin %d is not one of 0 to 7",
                    static_cast<int>(request.pin));
    }
    if (request.nullArgument) return NullArgument(Operation::DIOInputBit, problem);
    return ReadPin(engine, request.pin, value, problem);
}

bool LedConfig(BoardEngine& engine, const BoardRequest& request, Problem& problem) {
    if (request.nullArgument) return NullArgument(Operation::LedConfig, problem);
    if (request.first != marlek_board::LED_DEVICE) {
        return Fail(problem, ERROR_NO_SUCH_DEVICE, "MarlekLedConfig: device %u is not the user LED (7)",
                    request.first);
    }
    if (request.second != marlek_board::LED_ON && request.second != marlek_board::LED_OFF) {
        return Fail(problem, ERROR_INVALID_ARGUMENT, "MarlekLedConfig: LED setting %u is neither 0 (on) nor 1 (off)",
                    request.second);
    }
    return SetLed(engine, request.second == marlek_board::LED_ON, problem);
}

bool SerialConfig(BoardEngine& engine, const BoardRequest& request, Problem& problem) {
    if (request.nullArgument) return NullArgument(Operation::SerialConfig, problem);
    int pair = 0;
    SerialMode mode = SerialMode::Unset;
    if (!marlek_board::DecodeSerialMode(request.first, pair, mode)) {
        return Fail(problem, ERROR_INVALID_ARGUMENT, "MarlekSerialConfig: mode code %u is not known", request.first);
    }
    return SetSerialMode(engine, pair, mode, problem);
}

bool Carry(BoardEngine& engine, RunState& run, const BoardRequest& request, uint8_t& value, Problem& problem) {
    const Operation operation = request.operation;
    switch (operation) {
        case Operation::DIOInit: return OpenDio(engine, run, problem);
        case Operation::DIOFree: return FreeDio(engine, run, problem);
        case Operation::LedConfig: return LedConfig(engine, request, problem);
        case Operation::SerialConfig: return SerialConfig(engine, request, problem);
        default: break;
    }
    if (!CheckDioOpen(run, operation, problem)) return false;
    // The service's pins may have been given back meanwhile (a description
    // that maps them elsewhere): taken again as they are.
    if (!engine.pins.held && !HoldPins(engine, 0, PinState{}, problem)) return false;
    switch (operation) {
        case Operation::DIOSetConfig: return ApplyPinConfig(engine, request.first, request.second, problem);
        case Operation::DIOInputByte:
            if (request.nullArgument) return NullArgument(operation, problem);
            return ReadLevels(engine, value, problem);
        case Operation::DIOInputBit: return InputBit(engine, request, value, problem);
        case Operation::DIOOutputByte:
        case Operation::DIOOutputBit: return DriveOutputs(engine, request.first, request.second, problem);
        default: break;
    }
    return Fail(problem, ERROR_INVALID_ARGUMENT, "%s is not a call of the board", OperationName(operation));
}

}  // namespace

bool Described(BoardEngine& engine, Problem& problem) {
    if (!engine.described) {
        static char text[PROBLEM_SIZE];
        if (!LoadDescription(DescriptionPath(), DescriptionOrigin(), engine.description, text)) {
            return Fail(problem, ERROR_DESCRIPTION, "%s", text);
        }
        engine.described = true;
    }
    if (!engine.linesApart) {
        problem.code = 0;
        if (FindSharedLines(engine.description, KeepFirstProblem, &problem) > 0) return false;
        engine.linesApart = true;
    }
    return true;
}

void TakeDescription(BoardEngine& engine, const Description& description) {
    engine.description = description;
    engine.described = true;
    engine.linesApart = false;
}

bool HoldPins(BoardEngine& engine, uint8_t known, const PinState& state, Problem& problem) {
    if (!Described(engine, problem)) return false;
    const Description& description = engine.description;
    if (!description.anyPin) {
        return Fail(problem, ERROR_NOT_DESCRIBED,
                    "%s maps no pins; add 'pin N CHIP LINE' for each of the pins 0 to 7 (see %s)", description.path,
                    FORMAT_PAGE);
    }
    ReleasePins(engine);
    if (!ResolveLines(description.path, description.pins.data(), PIN_COUNT, engine.pinLines, problem)) return false;
    char where[PATH_TEXT_SIZE + 32];
    std::snprintf(where, sizeof where, "%s: the pins", description.path);
    // Taken with the inputs' edges when the state is known whole; else as
    // they are, and the edges once their state is read.
    const PinConfigWanted wanted{known, state.outputMask, state.pushPullMask, state.drivenLevels,
                                 known == 0xFF && EdgesWanted(engine)};
    if (!RequestSet(engine.pinLines, ConfigurePins, &wanted, where, problem)) {
        if (!wanted.edges || !EdgesRefusedNow(engine, EINVAL)) return false;
        if (!ResolveLines(description.path, description.pins.data(), PIN_COUNT, engine.pinLines, problem)) return false;
        const PinConfigWanted plain{known, state.outputMask, state.pushPullMask, state.drivenLevels, false};
        if (!RequestSet(engine.pinLines, ConfigurePins, &plain, where, problem)) return false;
    }
    PinState& pins = engine.pins;
    pins.outputMask = static_cast<uint8_t>(state.outputMask & known);
    pins.pushPullMask = static_cast<uint8_t>(state.pushPullMask & known);
    pins.drivenLevels = static_cast<uint8_t>(state.drivenLevels & state.outputMask & known);
    if (!ReadPinState(engine, known, problem)) {
        ReleasePins(engine);
        return false;
    }
    pins.held = true;
    if (known != 0xFF && EdgesWanted(engine)) {
        Problem ignored;  // without edges the pins are held all the same
        ApplyPinConfig(engine, pins.outputMask, pins.pushPullMask, ignored);
    }
    return true;
}

void ReleasePins(BoardEngine& engine) {
    ReleaseSet(engine.pinLines);
    engine.pins = PinState{};
}

bool SetLedLine(BoardEngine& engine, bool on, Problem& problem) {
    const LedEntry& led = engine.description.led;
    if (!SetHeldLines(engine, engine.ledLine, engine.ledLineHeld, &led.line, 1, on ? 1u : 0u, led.line.activeLow,
                      "the LED's line", on ? "on" : "off", problem)) {
        return false;
    }
    engine.ledKnown = true;
    engine.ledOn = on;
    return true;
}

bool SetModeLines(BoardEngine& engine, int pair, SerialMode mode, Problem& problem) {
    const PairEntry& entry = engine.description.pairs[static_cast<size_t>(pair)];
    char what[64];
    std::snprintf(what, sizeof what, "%s's mode lines", pair == 0 ? "UART 1 and 2" : "UART 3 and 4");
    const uint8_t values = entry.values[static_cast<size_t>(ModeIndex(mode))];
    if (!SetHeldLines(engine, engine.modeLines[static_cast<size_t>(pair)],
                      engine.modeLinesHeld[static_cast<size_t>(pair)], entry.lines.data(), entry.lineCount, values,
                      false, what, marlek_board::SerialModeName(mode), problem)) {
        return false;
    }
    engine.modes[static_cast<size_t>(pair)] = mode;
    return true;
}

void ReleaseLedLine(BoardEngine& engine) {
    ReleaseSet(engine.ledLine);
    engine.ledLineHeld = false;
    engine.ledKnown = false;
    engine.ledOn = false;
}

void ReleaseModeLines(BoardEngine& engine, int pair) {
    ReleaseSet(engine.modeLines[static_cast<size_t>(pair)]);
    engine.modeLinesHeld[static_cast<size_t>(pair)] = false;
}

void ReleaseBoard(BoardEngine& engine) {
    ReleasePins(engine);
    ReleaseLedLine(engine);
    for (int pair = 0; pair < marlek_board::SERIAL_PAIR_COUNT; ++pair) ReleaseModeLines(engine, pair);
    engine.modes = {};
    engine.ttys = {};
}

bool ReadPinLevels(const BoardEngine& engine, uint8_t& levels) {
    static Problem ignored;
    return engine.pins.held && ReadLevels(engine, levels, ignored);
}

int PinRequests(const BoardEngine& engine, int (&fds)[MAX_SET_LINES]) {
    int count = 0;
    for (int g = 0; g < engine.pinLines.groupCount && engine.pins.held; ++g) fds[count++] = GroupOf(engine.pinLines, g).fd;
    return count;
}

LibStatus RunBoardCall(BoardEngine& engine, RunState& run, const BoardRequest& request, uint8_t& value,
                       marlek_board::ErrorRecord& failure) {
    value = 0;
    if (Carry(engine, run, request, value, engine.scratch)) return 0;
    return marlek_board::RecordError(failure, engine.scratch.code, "%s", engine.scratch.detail);
}

}  // namespace marlek_linux
