#include "console.h"

#include <cstdio>

#include "marlek_lib.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <stdio_ext.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace {

constexpr const char* MENU_RULE = "########################################################\n";
constexpr const char* INVALID_OPTION = "Please Enter valid option \r\n";
constexpr const char* PIN_REFUSED = "\nEnter the proper GPIO Number:(0-7) \n";
constexpr int64_t INT32_LARGEST = 2147483647;
constexpr int64_t INT32_SMALLEST_MAGNITUDE = 2147483648;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The start of each report line; the library's two texts follow it.
const char* ReportPrefix(LibOperation failed) {
    switch (failed) {
        case LibOperation::DIOInit: return "Marlek_DIOInit: ";
        case LibOperation::DIOFree: return "Marlek_DIOFree error : ";
        case LibOperation::DIOSetConfig: return "Marlek_DIOSetConfig error: ";
        case LibOperation::DIOInputByte: return "Marlek_DIOInputByte error: ";
        case LibOperation::DIOInputBit: return "Marlek_DIOInputBit error: ";
        case LibOperation::DIOOutputByte: return "Marlek_DIOOutputByte error: ";
        case LibOperation::DIOOutputBit: return "Marlek_DIOOutputBit error: ";
        case LibOperation::SerialConfig: return "MarlekSerialConfig error: ";
        case LibOperation::LedConfig: return "MarlekLedConfig error: ";
    }
    return "";
}

const char* TextOrEmpty(const char* text) { return text != nullptr ? text : ""; }

// Whether standard input is a console does not change during a run: asked at
// the first discard, not at every menu. A plain value, as the programs run on
// one thread.
enum class StandardInput { NotAsked, Console, Redirected };
StandardInput standardInput = StandardInput::NotAsked;

#ifdef _WIN32
// Only a console has a console mode; pipes, files and the NUL device do not.
bool StandardInputIsConsole() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

void DiscardConsoleInput() {
    std::fflush(stdin);  // the C runtime discards its input buffer
    FlushConsoleInputBuffer(GetStdHandle(STD_INPUT_HANDLE));
}
#else
bool StandardInputIsConsole() { return isatty(STDIN_FILENO) != 0; }

void DiscardConsoleInput() {
    __fpurge(stdin);
    tcflush(STDIN_FILENO, TCIFLUSH);
}
#endif

}  // namespace

bool ReadLine(LineBuffer& line) {
    std::fflush(stdout);
    return std::fgets(line.data(), LINE_BUFFER_SIZE, stdin) != nullptr;
}

std::string_view LineText(const LineBuffer& line) {
    // Cut without substr, whose range check would bind the programs to the C++
    // runtime where it is not inlined.
    const std::string_view text(line.data(), line.size());
    const size_t end = text.find('\0');
    return end == std::string_view::npos ? text : std::string_view(line.data(), end);
}

bool ParseNumber(std::string_view text, int32_t& target) {
    size_t at = 0;
    while (at < text.size() && IsBlank(text[at])) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    if (at >= text.size() || !IsDigit(text[at])) return false;
    const int64_t limit = negative ? INT32_SMALLEST_MAGNITUDE : INT32_LARGEST;
    int64_t magnitude = 0;
    for (; at < text.size() && IsDigit(text[at]); ++at) {
        magnitude = magnitude * 10 + (text[at] - '0');
        if (magnitude > limit) magnitude = limit;
    }
    target = static_cast<int32_t>(negative ? -magnitude : magnitude);
    return true;
}

bool ReadNumber(LineBuffer& line, int32_t& target) {
    if (!ReadLine(line)) return false;
    ParseNumber(LineText(line), target);
    return true;
}

int32_t ChoiceFromLine(const LineBuffer& line) {
    int32_t choice = 0;
    ParseNumber(LineText(line), choice);
    if (BeginsWithQuit(line)) choice = QUIT_CHOICE;
    return choice;
}

std::optional<int32_t> ReadChoice(LineBuffer& line) {
    if (!ReadLine(line)) return std::nullopt;
    return ChoiceFromLine(line);
}

bool BeginsWithQuit(const LineBuffer& line) { return line[0] == 'q'; }

void DiscardTypedAhead() {
    if (standardInput == StandardInput::NotAsked) {
        standardInput = StandardInputIsConsole() ? StandardInput::Console : StandardInput::Redirected;
    }
    if (standardInput == StandardInput::Console) DiscardConsoleInput();
}

void ReportLibraryError(LibOperation failed) {
    // A library that fills nothing in must not make us print a stale or wild
    // pointer: the record starts empty every time.
    LastErrorInfo info{0, nullptr};
    KVTGetLastError(&info);
    const char* codeText = kvtGetErrorString(info.code);
    std::printf("%s%s %s\n", ReportPrefix(failed), TextOrEmpty(codeText), TextOrEmpty(info.text));
}

void WaitForKey() {
    std::fflush(stdout);
    (void)std::getchar();
}

void WaitForAcknowledgement(const char* message) {
    Print(message);
    WaitForKey();
}

void Print(const char* text) { std::fputs(text, stdout); }

void PrintMenuRule() { Print(MENU_RULE); }

void PrintInvalidOption() { Print(INVALID_OPTION); }

bool IsGpioPin(int32_t pin) {
    return static_cast<uint32_t>(pin) < static_cast<uint32_t>(GPIO_PIN_COUNT);
}

uint8_t PinToMask(int32_t pin) {
    if (!IsGpioPin(pin)) return 0;
    return static_cast<uint8_t>(1u << static_cast<uint32_t>(pin));
}

void PrintPinRefused() { Print(PIN_REFUSED); }
