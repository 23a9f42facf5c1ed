// What the environment tells the simulated board: failures to inject, the
// external input levels, and where to append the trace of every call.
#ifndef MARLEK_SIM_SETTINGS_H
#define MARLEK_SIM_SETTINGS_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "board_rules.h"

namespace marlek_sim {

using SimOperation = marlek_board::Operation;
inline constexpr int SIM_OPERATION_COUNT = marlek_board::OPERATION_COUNT;
using marlek_board::OperationName;

std::optional<SimOperation> OperationByName(std::string_view name);

// Error codes of the simulated library: those of every board, and its own.
using marlek_board::ERROR_ALREADY_INITIALISED;
using marlek_board::ERROR_INVALID_ARGUMENT;
using marlek_board::ERROR_NO_SUCH_DEVICE;
using marlek_board::ERROR_NONE;
using marlek_board::ERROR_NOT_INITIALISED;
using marlek_board::ERROR_PIN_OUT_OF_RANGE;
enum SimErrorCode : uint8_t {
    ERROR_INJECTED = 5,
    ERROR_BAD_SETTING = 7,
    ERROR_STATE_UNUSABLE = 8,  // the board's state file is refused or cannot be opened
};

// The operator's text for an error code ("unknown error code" for others).
const char* ErrorText(uint8_t code);

inline constexpr const char* FAIL_VARIABLE = "MARLEK_SIM_FAIL";
inline constexpr const char* INPUTS_VARIABLE = "MARLEK_SIM_INPUTS";
inline constexpr const char* TRACE_VARIABLE = "MARLEK_SIM_TRACE";

inline constexpr const char* DEFAULT_INJECTED_DETAIL = "failure injected by MARLEK_SIM_FAIL";

struct FailureRule {
    SimOperation operation = SimOperation::DIOInit;
    uint32_t onCall = 0;  // fail the n-th call only; 0: every call
    uint8_t code = ERROR_INJECTED;
    std::string detail = DEFAULT_INJECTED_DETAIL;
};

struct Settings {
    std::vector<FailureRule> failures;
    bool failuresSet = false;  // MARLEK_SIM_FAIL is set, even to nothing
    std::optional<uint8_t> externalLevels;
    std::string tracePath;
    std::string problem;  // not empty: a setting cannot be used; names it, its value and what is wrong
};

// Where text stops being printable UTF-8 (marlek_board::UnprintableAt): a
// control character, which would act on the terminal that shows it, or a byte
// that is not UTF-8. npos when all of it is printable.
size_t UnprintableAt(std::string_view text);

// The text as a terminal may show it (marlek_board::EscapeForTerminal):
// printable UTF-8 as it is, \t, \n and \r, every other unprintable byte as
// \xHH.
std::string Escaped(std::string_view text);

// Empty when text is printable UTF-8; otherwise what is wrong with it, for a
// refusal that begins with the text's name: "holds a control character
// (\x1b), which would act on the terminal that shows it".
std::string UnprintableProblem(std::string_view text);

// The problem text of a setting that cannot be used; the value is escaped.
std::string SettingProblem(const char* variable, std::string_view value, const std::string& what);

// A byte value in decimal, 0x hex or 0 octal, wholly made of digits and at
// most max, with no sign and no blank before or after it; false otherwise.
bool ParseUnsigned(std::string_view text, unsigned long max, unsigned long& value);

// A count or a code: decimal digits alone, a leading zero included (010 is
// ten), at most max; false otherwise.
bool ParseDecimal(std::string_view text, uint64_t max, uint64_t& value);

// MARLEK_SIM_FAIL: entries separated by ';', each OPERATION[@N][:CODE[:TEXT]],
// N and CODE in decimal, TEXT printable UTF-8.
// MARLEK_SIM_INPUTS: the external levels as a byte (decimal, 0x hex or 0 octal).
// MARLEK_SIM_TRACE: the file the trace is appended to.
// Any of them may be null (not set).
Settings ReadSettings(const char* fail, const char* inputs, const char* trace);

}  // namespace marlek_sim

#endif  // MARLEK_SIM_SETTINGS_H
