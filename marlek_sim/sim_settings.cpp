#include "sim_settings.h"

#include <array>
#include <cerrno>
#include <cstdlib>

namespace marlek_sim {

namespace {

constexpr std::array<const char*, SIM_OPERATION_COUNT> OPERATION_NAMES{
    "Marlek_DIOInit",       "Marlek_DIOFree",      "Marlek_DIOSetConfig", "Marlek_DIOInputByte",
    "Marlek_DIOInputBit",   "Marlek_DIOOutputByte", "Marlek_DIOOutputBit", "MarlekLedConfig",
    "MarlekSerialConfig",   "KVTGetLastError",     "kvtGetErrorString",
};

constexpr std::array<const char*, 9> ERROR_TEXTS{
    "no error",
    "digital I/O not initialised",
    "digital I/O already initialised",
    "pin out of range",
    "invalid argument",
    "injected failure",
    "no such device",
    "simulator setting invalid",
    "simulated board state unusable",
};

bool ParseFailureRule(std::string_view entry, FailureRule& rule) {
    const size_t codeStart = entry.find(':');
    std::string_view head = entry.substr(0, codeStart);
    const size_t at = head.find('@');
    const std::optional<SimOperation> operation = OperationByName(head.substr(0, at));
    if (!operation) return false;
    rule.operation = *operation;
    if (at != std::string_view::npos) {
        unsigned long onCall = 0;
        if (!ParseUnsigned(head.substr(at + 1), UINT32_MAX, onCall) || onCall == 0) return false;
        rule.onCall = static_cast<uint32_t>(onCall);
    }
    if (codeStart == std::string_view::npos) return true;
    const std::string_view rest = entry.substr(codeStart + 1);
    const size_t textStart = rest.find(':');
    unsigned long code = 0;
    if (!ParseUnsigned(rest.substr(0, textStart), UINT8_MAX, code)) return false;
    rule.code = static_cast<uint8_t>(code);
    if (textStart != std::string_view::npos) rule.detail = std::string(rest.substr(textStart + 1));
    return true;
}

void ReadFailures(std::string_view text, Settings& settings) {
    while (!text.empty()) {
        const size_t end = text.find(';');
        const std::string_view entry = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (entry.empty()) continue;
        FailureRule rule;
        if (!ParseFailureRule(entry, rule)) {
            settings.problem = "MARLEK_SIM_FAIL: cannot read '" + std::string(entry) + "'";
            return;
        }
        settings.failures.push_back(rule);
    }
}

}  // namespace

bool ParseUnsigned(std::string_view text, unsigned long max, unsigned long& value) {
    if (text.empty() || text.size() > 20 || text[0] == '-' || text[0] == '+' || text[0] == ' ')
        return false;
    const std::string copy(text);
    char* end = nullptr;
    errno = 0;
    const unsigned long parsed = std::strtoul(copy.c_str(), &end, 0);
    if (errno != 0 || end != copy.c_str() + copy.size() || parsed > max) return false;
    value = parsed;
    return true;
}

const char* OperationName(SimOperation operation) {
    return OPERATION_NAMES[static_cast<size_t>(operation)];
}

std::optional<SimOperation> OperationByName(std::string_view name) {
    for (size_t i = 0; i < OPERATION_NAMES.size(); ++i) {
        if (name == OPERATION_NAMES[i]) return static_cast<SimOperation>(i);
    }
    return std::nullopt;
}

const char* ErrorText(uint8_t code) {
    return code < ERROR_TEXTS.size() ? ERROR_TEXTS[code] : "unknown error code";
}

Settings ReadSettings(const char* fail, const char* inputs, const char* trace) {
    Settings settings;
    settings.failuresSet = fail != nullptr;
    if (fail != nullptr) ReadFailures(fail, settings);
    if (inputs != nullptr && settings.problem.empty()) {
        unsigned long levels = 0;
        if (ParseUnsigned(inputs, UINT8_MAX, levels)) {
            settings.externalLevels = static_cast<uint8_t>(levels);
        } else {
            settings.problem = "MARLEK_SIM_INPUTS: cannot read '" + std::string(inputs) + "' as a byte";
        }
    }
    if (trace != nullptr) settings.tracePath = trace;
    return settings;
}

}  // namespace marlek_sim
