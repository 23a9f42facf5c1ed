// Console idioms shared by every program: line input, numbers, the menu choice,
// the report of a failed library call, the wait for an acknowledgement and the
// GPIO pin mask.
#ifndef CONSOLE_H
#define CONSOLE_H

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

inline constexpr int LINE_BUFFER_SIZE = 20;
inline constexpr int32_t QUIT_CHOICE = 113;  // the character code of q
inline constexpr int32_t GPIO_PIN_COUNT = 8;

using LineBuffer = std::array<char, LINE_BUFFER_SIZE>;

// How an operation that prompts the operator ended: back to the menu, or at the
// end of standard input, which ends the dialogue as the quit choice does.
enum class OperationEnd { MenuAgain, EndOfInput };

// A menu entry's operation; it prompts for what it needs itself.
using MenuOperation = OperationEnd (*)();

// Reads one line of standard input into the buffer with the semantics of fgets:
// at most 19 characters, the newline kept when it fits, the rest left in the
// stream for the next read. Standard output is flushed first so that every
// prompt is seen before the program waits. Returns false at end of input (or a
// read error), leaving the buffer as it was.
bool ReadLine(LineBuffer& line);

// The text of a line buffer, up to its terminating NUL.
std::string_view LineText(const LineBuffer& line);

// Takes a decimal number as "%d" does: leading white space skipped, an optional
// sign, decimal digits, anything after them ignored. A value beyond the signed
// 32-bit range is clamped to it. Returns false, leaving target as it was, when
// the text holds no number.
bool ParseNumber(std::string_view text, int32_t& target);

// ReadLine, then ParseNumber on the line. Returns false at end of input.
bool ReadNumber(LineBuffer& line, int32_t& target);

// The menu choice a line stands for: its number (0 when it holds none), or
// QUIT_CHOICE when the line begins with a lower-case q.
int32_t ChoiceFromLine(const LineBuffer& line);

// Reads a line and returns the choice it stands for; nothing at end of input.
std::optional<int32_t> ReadChoice(LineBuffer& line);

// True when the line begins with q: the menu loops of the serial and LED
// programs end after such a line.
bool BeginsWithQuit(const LineBuffer& line);

// Discards what the operator typed ahead at an interactive console. Piped or
// redirected input is left alone, so a script reads the same on every platform.
void DiscardTypedAhead();

// Library operations whose failure the programs report.
enum class LibOperation {
    DIOInit,
    DIOFree,
    DIOSetConfig,
    DIOInputByte,
    DIOInputBit,
    DIOOutputByte,
    DIOOutputBit,
    SerialConfig,
    LedConfig,
};

// Fetches the last error from the library and prints the report line of the
// failed operation with the library's text for the code and its detail text.
void ReportLibraryError(LibOperation failed);

// Waits for one character of standard input; end of input is ignored.
void WaitForKey();

// Prints the message, then waits for one character.
void WaitForAcknowledgement(const char* message);

inline constexpr const char* PRESS_ENTER_TO_QUIT = "Press enter to quit\n";

void Print(const char* text);
void PrintMenuRule();
void PrintInvalidOption();

// A pin number is valid from 0 to 7; the comparison is unsigned, so negative
// numbers are refused too.
bool IsGpioPin(int32_t pin);

// The GPIO byte with only the bit of the given (valid) pin set.
uint8_t PinToMask(int32_t pin);

// The line printed when a pin number is refused.
void PrintPinRefused();

#endif  // CONSOLE_H
