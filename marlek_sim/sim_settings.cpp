#include "sim_settings.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <optional>

#include "terminal_text.h"

namespace marlek_sim {

namespace {

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

// What is wrong with one entry of MARLEK_SIM_FAIL; empty when it was read.
std::string ParseFailureRule(std::string_view entry, FailureRule& rule) {
    const size_t codeStart = entry.find(':');
    std::string_view head = entry.substr(0, codeStart);
    const size_t at = head.find('@');
    const std::string_view name = head.substr(0, at);
    const std::optional<SimOperation> operation = OperationByName(name);
    if (!operation) return "no operation is called '" + std::string(name) + "'";
    rule.operation = *operation;
    if (at != std::string_view::npos) {
        uint64_t onCall = 0;
        const std::string_view number = head.substr(at + 1);
        if (!ParseDecimal(number, UINT32_MAX, onCall) || onCall == 0)
            return "the call after @ must be a number from 1, not '" + std::string(number) + "'";
        rule.onCall = static_cast<uint32_t>(onCall);
    }
    if (codeStart == std::string_view::npos) return "";
    const std::string_view rest = entry.substr(codeStart + 1);
    const size_t textStart = rest.find(':');
    uint64_t code = 0;
    const std::string_view number = rest.substr(0, textStart);
    if (!ParseDecimal(number, UINT8_MAX, code))
        return "the code must be a number from 0 to 255, not '" + std::string(number) + "'";
    rule.code = static_cast<uint8_t>(code);
    if (textStart == std::string_view::npos) return "";
    rule.detail = std::string(rest.substr(textStart + 1));
    const std::string unprintable = UnprintableProblem(rule.detail);
    return unprintable.empty() ? "" : "the text " + unprintable;
}

void ReadFailures(std::string_view setting, Settings& settings) {
    std::string_view text = setting;
    while (!text.empty()) {
        const size_t end = text.find(';');
        const std::string_view entry = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (entry.empty()) continue;
        FailureRule rule;
        const std::string problem = ParseFailureRule(entry, rule);
        if (!problem.empty()) {
            const std::string where = entry == setting ? "" : " (in '" + Escaped(entry) + "')";
            settings.problem = SettingProblem(FAIL_VARIABLE, setting, problem + where);
            return;
        }
        settings.failures.push_back(rule);
    }
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

size_t UnprintableAt(std::string_view text) {
    const size_t at = marlek_board::UnprintableAt(text.data(), text.size());
    return at == text.size() ? std::string_view::npos : at;
}

std::string Escaped(std::string_view text) {
    // No byte takes more than four when escaped (\xHH), and one more for the NUL.
    std::string escaped(text.size() * 4 + 1, '\0');
    escaped.resize(marlek_board::EscapeForTerminal(text.data(), text.size(), escaped.data(), escaped.size()));
    return escaped;
}

std::string UnprintableProblem(std::string_view text) {
    const size_t at = UnprintableAt(text);
    if (at == std::string_view::npos) return "";
    const size_t control = marlek_board::ControlLength(text.data() + at, text.size() - at);
    const std::string shown = Escaped(text.substr(at, control != 0 ? control : 1));
    if (control != 0) {
        return "holds a control character (" + shown + "), which would act on the terminal that shows it";
    }
    return "holds a byte that is not UTF-8 (" + shown + "), which a terminal cannot show as text";
}

std::string SettingProblem(const char* variable, std::string_view value, const std::string& what) {
    return std::string(variable) + "=" + Escaped(value) + ": " + what + "; correct or unset " + variable;
}

bool ParseUnsigned(std::string_view text, unsigned long max, unsigned long& value) {
    // Nothing but the number: no sign, no blank before or after it.
    if (text.empty() || text.size() > 20 || !IsDigit(text.front())) return false;
    const std::string copy(text);
    char* end = nullptr;
    errno = 0;
    const unsigned long parsed = std::strtoul(copy.c_str(), &end, 0);
    if (errno != 0 || end != copy.c_str() + copy.size() || parsed > max) return false;
    value = parsed;
    return true;
}

bool ParseDecimal(std::string_view text, uint64_t max, uint64_t& value) {
    if (text.empty()) return false;
    uint64_t parsed = 0;
    for (const char c : text) {
        if (!IsDigit(c)) return false;
        const auto digit = static_cast<uint64_t>(c - '0');
        if (digit > max || parsed > (max - digit) / 10) return false;
        parsed = parsed * 10 + digit;
    }
    value = parsed;
    return true;
}

std::optional<SimOperation> OperationByName(std::string_view name) {
    for (size_t i = 0; i < marlek_board::OPERATION_NAMES.size(); ++i) {
        if (name == marlek_board::OPERATION_NAMES[i]) return static_cast<SimOperation>(i);
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
            settings.problem = SettingProblem(INPUTS_VARIABLE, inputs, "not a byte (0 to 255, 0x00 to 0xFF or 0 to 0377)");
        }
    }
    if (trace != nullptr) settings.tracePath = trace;
    return settings;
}

}  // namespace marlek_sim
