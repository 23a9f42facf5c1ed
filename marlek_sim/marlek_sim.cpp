// The simulated board library: every operation of the board library interface
// over the board in its store, shared by every run or private to this one.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "board_model.h"
#include "board_store.h"
#include "error_record.h"
#include "marlek_lib.h"
#include "sim_settings.h"
#include "state_os.h"

namespace marlek_sim {
namespace {

using marlek_board::LED_DEVICE;

bool IsErrorFunction(SimOperation operation) {
    return operation == SimOperation::GetLastError || operation == SimOperation::GetErrorString;
}

struct Simulator {
    Simulator() {
        if (settings.tracePath.empty()) return;
        std::string problem;
        if (!trace.Open(settings.tracePath, store.IsMemory() ? "" : store.Path(), problem) &&
            settings.problem.empty()) {
            settings.problem = SettingProblem(TRACE_VARIABLE, settings.tracePath, problem);
        }
    }

    Settings settings = ReadSettings(std::getenv(FAIL_VARIABLE), std::getenv(INPUTS_VARIABLE),
                                     std::getenv(TRACE_VARIABLE));
    BoardStore store = BoardStore::FromSetting(std::getenv("MARLEK_SIM_STATE"));
    os::AppendFile trace;
    bool dioOpen = false;  // as a driver handle would be, this is the process's own
    bool armedTaken = false;
    std::array<uint32_t, SIM_OPERATION_COUNT> callCounts{};
    marlek_board::ErrorRecord lastError;
};

Simulator& Sim() {
    static Simulator sim;
    return sim;
}

// Appends a line to the trace, when there is one. A trace that cannot be
// written is a setting that cannot be used: the calls after it fail.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void Trace(const char* format, ...) {
    Simulator& sim = Sim();
    if (!sim.trace.IsOpen()) return;
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string line(length > 0 ? static_cast<size_t>(length) + 1 : 1, '\n');
    if (length > 0) std::vsnprintf(line.data(), line.size(), format, again);  // its NUL gives way to the newline
    va_end(again);
    line.back() = '\n';
    std::string problem;
    if (!sim.trace.Append(line, problem) && sim.settings.problem.empty()) {
        sim.settings.problem = SettingProblem(TRACE_VARIABLE, sim.settings.tracePath, problem);
    }
}

LibStatus Fail(uint8_t code, std::string detail) {
    return marlek_board::RecordError(Sim().lastError, code, "%s", detail.c_str());
}

// The failures armed on the board (marlek-sim fail) are for the next run: the
// first call of a run takes them off the board. A run with MARLEK_SIM_FAIL set
// leaves them on the board for a later run.
void TakeArmedFailures() {
    Simulator& sim = Sim();
    if (sim.armedTaken || sim.settings.failuresSet) return;
    const StoreStatus status = sim.store.Update([&sim](BoardRecord& record) {
        if (record.armed.empty()) return false;
        sim.settings.failures = std::move(record.armed);
        record.armed.clear();
        return true;
    });
    // A board that cannot be read now is reported by the call itself.
    sim.armedTaken = status.Ok();
}

// Counts the call and returns the failure that the settings make it meet, if
// any: a setting that cannot be used fails every board operation, before it
// touches the board. The two error functions never touch the board: they
// answer from the run's own record, so that such failures can be reported.
const FailureRule* InjectedFailure(SimOperation operation) {
    static FailureRule badSetting;
    Simulator& sim = Sim();
    const uint32_t call = ++sim.callCounts[static_cast<size_t>(operation)];
    if (!IsErrorFunction(operation)) {
        if (!sim.settings.problem.empty()) {
            badSetting = FailureRule{operation, 0, ERROR_BAD_SETTING, sim.settings.problem};
            return &badSetting;
        }
        TakeArmedFailures();
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

// The board as this run sees it: MARLEK_SIM_INPUTS stands for the external
// levels the board keeps.
LibStatus ReadBoard(Board& view) {
    BoardRecord record;
    const StoreStatus status = Sim().store.Read(record);
    if (!status.Ok()) return Fail(status.code, status.detail);
    view = record.board;
    if (Sim().settings.externalLevels) view.externalLevels = *Sim().settings.externalLevels;
    return 0;
}

template <typename Change>
LibStatus ChangeBoard(Change change) {
    const StoreStatus status = Sim().store.Update([&change](BoardRecord& record) {
        change(record.board);
        return true;
    });
    return status.Ok() ? 0 : Fail(status.code, status.detail);
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
        Board board;  // a board that cannot be used is refused here already
        status = ReadBoard(board);
        Sim().dioOpen = status == 0;
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
    LibStatus status = CheckDio(SimOperation::DIOSetConfig);
    if (status == 0) {
        status = ChangeBoard([=](Board& board) {
            board.outputMask = outputMask;
            board.pushPullMask = pushPullMask;
        });
    }
    Trace("Marlek_DIOSetConfig(0x%02x, 0x%02x) = %u", outputMask, pushPullMask, status);
    return status;
}

LibStatus Marlek_DIOInputByte(uint8_t* data) {
    LibStatus status = CheckDio(SimOperation::DIOInputByte);
    if (status == 0 && data == nullptr) status = Fail(ERROR_INVALID_ARGUMENT, NullArgument(SimOperation::DIOInputByte));
    Board board;
    if (status == 0) status = ReadBoard(board);
    if (status != 0) {
        Trace("Marlek_DIOInputByte(%s) = %u", data == nullptr ? "NULL" : "", status);
        return status;
    }
    *data = PinLevels(board);
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
    Board board;
    if (status == 0) status = ReadBoard(board);
    if (status != 0) {
        Trace("Marlek_DIOInputBit(%d%s) = %u", static_cast<int>(pin), level == nullptr ? ", NULL" : "", status);
        return status;
    }
    *level = static_cast<uint8_t>((PinLevels(board) >> pin) & 1u);
    Trace("Marlek_DIOInputBit(%d, -> %u) = 0", static_cast<int>(pin), *level);
    return 0;
}

LibStatus Marlek_DIOOutputByte(uint8_t data, uint8_t enableMask) {
    LibStatus status = CheckDio(SimOperation::DIOOutputByte);
    if (status == 0) status = ChangeBoard([=](Board& board) { DriveOutputs(board, data, enableMask); });
    Trace("Marlek_DIOOutputByte(0x%02x, 0x%02x) = %u", data, enableMask, status);
    return status;
}

LibStatus Marlek_DIOOutputBit(uint8_t data, uint8_t enableMask) {
    LibStatus status = CheckDio(SimOperation::DIOOutputBit);
    if (status == 0) status = ChangeBoard([=](Board& board) { DriveOutputs(board, data, enableMask); });
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
        status = ChangeBoard([=](Board& board) {
            board.ledKnown = true;
            board.ledSetting = *setting;
            board.ledPort = firstComPort;
        });
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
        status = ChangeBoard([=](Board& board) {
            board.serialPairs[static_cast<size_t>(pair)] = SerialPairState{mode, ports->first, ports->second};
        });
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
    marlek_board::FillLastError(Sim().lastError, *info);
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
