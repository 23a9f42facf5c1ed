// The simulated board library: every operation of the board library interface
// over a board kept in this process.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "board_model.h"
#include "marlek_lib.h"
#include "sim_settings.h"

namespace marlek_sim {
namespace {

constexpr uint8_t LED_DEVICE = 7;

struct Simulator {
    Settings settings;
    Board board;
    bool dioOpen = false;
    std::array<uint32_t, SIM_OPERATION_COUNT> callCounts{};
    uint8_t lastCode = ERROR_NONE;
    std::string lastDetail;
};

Simulator& Sim() {
    static Simulator sim = [] {
        Simulator fresh;
        fresh.settings = ReadSettings(std::getenv("MARLEK_SIM_FAIL"), std::getenv("MARLEK_SIM_INPUTS"),
                                      std::getenv("MARLEK_SIM_TRACE"));
        if (fresh.settings.externalLevels) fresh.board.externalLevels = *fresh.settings.externalLevels;
        return fresh;
    }();
    return sim;
}

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void Trace(const char* format, ...) {
    const std::string& path = Sim().settings.tracePath;
    if (path.empty()) return;
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (file == nullptr) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(file, format, args);
    va_end(args);
    std::fputc('\n', file);
    std::fclose(file);
}

LibStatus Fail(uint8_t code, std::string detail) {
    Simulator& sim = Sim();
    sim.lastCode = code;
    sim.lastDetail = std::move(detail);
    return code != ERROR_NONE ? code : 0xFF;
}

// Counts the call and returns the failure that the settings make it meet, if
// any: a setting that could not be read fails every call.
const FailureRule* InjectedFailure(SimOperation operation) {
    static FailureRule badSetting;
    Simulator& sim = Sim();
    const uint32_t call = ++sim.callCounts[static_cast<size_t>(operation)];
    if (!sim.settings.problem.empty()) {
        badSetting = FailureRule{operation, 0, ERROR_BAD_SETTING, sim.settings.problem};
        return &badSetting;
    }
    for (const FailureRule& rule : sim.settings.failures) {
        if (rule.operation == operation && (rule.onCall == 0 || rule.onCall == call)) return &rule;
    }
    return nullptr;
}

// The checks every digital I/O operation starts with: an injected failure,
// then the digital I/O being open.
LibStatus CheckDio(SimOperation operation) {
    if (const FailureRule* rule = InjectedFailure(operation)) return Fail(rule->code, rule->detail);
    if (!Sim().dioOpen) {
        return Fail(ERROR_NOT_INITIALISED,
                    std::string(OperationName(operation)) + " called before Marlek_DIOInit");
    }
    return 0;
}

std::string NullArgument(SimOperation operation) {
    return std::string(OperationName(operation)) + ": null pointer argument";
}

}  // namespace
}  // namespace marlek_sim

using namespace marlek_sim;

extern "C" {

LibStatus Marlek_DIOInit(void) {
    LibStatus status = 0;
    if (const FailureRule* rule = InjectedFailure(SimOperation::DIOInit)) {
        status = Fail(rule->code, rule->detail);
    } else if (Sim().dioOpen) {
        status = Fail(ERROR_ALREADY_INITIALISED, "Marlek_DIOInit called twice without Marlek_DIOFree");
    } else {
        Sim().dioOpen = true;
    }
    Trace("Marlek_DIOInit() = %u", status);
    return status;
}

LibStatus Marlek_DIOFree(void) {
    const LibStatus status = CheckDio(SimOperation::DIOFree);
    if (status == 0) Sim().dioOpen = false;
    Trace("Marlek_DIOFree() = %u", status);
    return status;
}

LibStatus Marlek_DIOSetConfig(uint8_t outputMask, uint8_t pushPullMask) {
    const LibStatus status = CheckDio(SimOperation::DIOSetConfig);
    if (status == 0) {
        Sim().board.outputMask = outputMask;
        Sim().board.pushPullMask = pushPullMask;
    }
    Trace("Marlek_DIOSetConfig(0x%02x, 0x%02x) = %u", outputMask, pushPullMask, status);
    return status;
}

LibStatus Marlek_DIOInputByte(uint8_t* data) {
    LibStatus status = CheckDio(SimOperation::DIOInputByte);
    if (status == 0 && data == nullptr) status = Fail(ERROR_INVALID_ARGUMENT, NullArgument(SimOperation::DIOInputByte));
    if (status != 0) {
        Trace("Marlek_DIOInputByte(%s) = %u", data == nullptr ? "NULL" : "", status);
        return status;
    }
    *data = PinLevels(Sim().board);
    Trace("Marlek_DIOInputByte(-> 0x%02x) = 0", *data);
    return 0;
}

LibStatus Marlek_DIOInputBit(int32_t pin, uint8_t* level) {
    LibStatus status = CheckDio(SimOperation::DIOInputBit);
    if (status == 0 && (pin < 0 || pin > 7)) {
        status = Fail(ERROR_PIN_OUT_OF_RANGE,
                      "Marlek_DIOInputBit: pin " + std::to_string(pin) + " is not one of 0 to 7");
    }
    if (status == 0 && level == nullptr) status = Fail(ERROR_INVALID_ARGUMENT, NullArgument(SimOperation::DIOInputBit));
    if (status != 0) {
        Trace("Marlek_DIOInputBit(%d%s) = %u", static_cast<int>(pin), level == nullptr ? ", NULL" : "", status);
        return status;
    }
    *level = static_cast<uint8_t>((PinLevels(Sim().board) >> pin) & 1u);
    Trace("Marlek_DIOInputBit(%d, -> %u) = 0", static_cast<int>(pin), *level);
    return 0;
}

LibStatus Marlek_DIOOutputByte(uint8_t data, uint8_t enableMask) {
    const LibStatus status = CheckDio(SimOperation::DIOOutputByte);
    if (status == 0) DriveOutputs(Sim().board, data, enableMask);
    Trace("Marlek_DIOOutputByte(0x%02x, 0x%02x) = %u", data, enableMask, status);
    return status;
}

LibStatus Marlek_DIOOutputBit(uint8_t data, uint8_t enableMask) {
    const LibStatus status = CheckDio(SimOperation::DIOOutputBit);
    if (status == 0) DriveOutputs(Sim().board, data, enableMask);
    Trace("Marlek_DIOOutputBit(0x%02x, 0x%02x) = %u", data, enableMask, status);
    return status;
}

LibStatus MarlekLedConfig(uint8_t device, uint8_t* setting, int32_t firstComPort) {
    LibStatus status = 0;
    if (const FailureRule* rule = InjectedFailure(SimOperation::LedConfig)) {
        status = Fail(rule->code, rule->detail);
    } else if (setting == nullptr) {
        status = Fail(ERROR_INVALID_ARGUMENT, NullArgument(SimOperation::LedConfig));
    } else if (device != LED_DEVICE) {
        status = Fail(ERROR_NO_SUCH_DEVICE, "MarlekLedConfig: device " + std::to_string(device) +
                                                " is not the user LED (7)");
    } else if (*setting > 1) {
        status = Fail(ERROR_INVALID_ARGUMENT, "MarlekLedConfig: LED setting " + std::to_string(*setting) +
                                                  " is neither 0 (on) nor 1 (off)");
    } else {
        Board& board = Sim().board;
        board.ledKnown = true;
        board.ledSetting = *setting;
        board.ledPort = firstComPort;
    }
    if (setting == nullptr) {
        Trace("MarlekLedConfig(%u, NULL, %d) = %u", device, static_cast<int>(firstComPort), status);
    } else {
        Trace("MarlekLedConfig(%u, [%u], %d) = %u", device, *setting, static_cast<int>(firstComPort), status);
    }
    return status;
}

LibStatus MarlekSerialConfig(uint8_t modeCode, PortPair* ports) {
    LibStatus status = 0;
    int pair = 0;
    SerialMode mode = SerialMode::Unset;
    if (const FailureRule* rule = InjectedFailure(SimOperation::SerialConfig)) {
        status = Fail(rule->code, rule->detail);
    } else if (ports == nullptr) {
        status = Fail(ERROR_INVALID_ARGUMENT, NullArgument(SimOperation::SerialConfig));
    } else if (!DecodeSerialMode(modeCode, pair, mode)) {
        status = Fail(ERROR_INVALID_ARGUMENT,
                      "MarlekSerialConfig: mode code " + std::to_string(modeCode) + " is not known");
    } else {
        Sim().board.serialPairs[static_cast<size_t>(pair)] = SerialPairState{mode, ports->first, ports->second};
    }
    if (ports == nullptr) {
        Trace("MarlekSerialConfig(0x%02x, NULL) = %u", modeCode, status);
    } else {
        Trace("MarlekSerialConfig(0x%02x, [%d, %d]) = %u", modeCode, static_cast<int>(ports->first),
              static_cast<int>(ports->second), status);
    }
    return status;
}

LibStatus KVTGetLastError(LastErrorInfo* info) {
    // An injected failure here fills nothing in, as a faulty library might.
    if (InjectedFailure(SimOperation::GetLastError) != nullptr || info == nullptr) {
        Trace("KVTGetLastError(%s) = 1", info == nullptr ? "NULL" : "");
        return 1;
    }
    const Simulator& sim = Sim();
    info->code = sim.lastCode;
    info->text = sim.lastDetail.c_str();
    Trace("KVTGetLastError(-> %u, \"%s\") = 0", info->code, info->text);
    return 0;
}

const char* kvtGetErrorString(uint8_t code) {
    // An injected failure here returns no text at all.
    if (InjectedFailure(SimOperation::GetErrorString) != nullptr) {
        Trace("kvtGetErrorString(%u) = NULL", code);
        return nullptr;
    }
    const char* text = ErrorText(code);
    Trace("kvtGetErrorString(%u) = \"%s\"", code, text);
    return text;
}

}  // extern "C"
