// The board description: where a Linux board has each thing the programs
// drive. A text file of entries, one a line, '#' to the end of a line a comment:
//
//   pin N CHIP LINE                 pins 0 to 7, each to a GPIO line
//   led class NAME                  the user LED: an LED class device
//   led line CHIP LINE [active-low] or a GPIO line
//   uartNN line CHIP LINE           a mode line of the transceiver of pair
//                                   uart12 or uart34, in order (1 to 4 of them)
//   uartNN rs232|rs485|rs422 V...   the mode lines' values (0 or 1) for a mode
//   uartNN tty1|tty2 TTY            the tty of the pair's first or second port,
//                                   switched to the kernel's RS-485 mode
//   uartNN rs485-delays BEFORE AFTER  its RTS delays in ms (default 0 0)
//
// CHIP is a chip's device path (/dev/gpiochip2), name (gpiochip2) or label;
// LINE is a line's offset on the chip or its name.
#ifndef MARLEK_LINUX_BOARD_DESCRIPTION_H
#define MARLEK_LINUX_BOARD_DESCRIPTION_H

#include <array>
#include <cstddef>
#include <cstdint>

#include <sys/stat.h>

#include "board_rules.h"
#include "error_record.h"

namespace marlek_linux {

inline constexpr const char* BOARD_VARIABLE = "MARLEK_BOARD";
inline constexpr const char* DEFAULT_BOARD_PATH = "/etc/marlek/board.conf";
inline constexpr const char* FORMAT_PAGE = "marlek-board.conf(5)";

inline constexpr size_t PATH_TEXT_SIZE = 4096;
inline constexpr size_t CHIP_TEXT_SIZE = 256;
inline constexpr size_t LINE_TEXT_SIZE = 32;  // the kernel's longest line name, with its NUL
inline constexpr size_t LED_NAME_SIZE = 128;
inline constexpr size_t ROLE_TEXT_SIZE = 32;
inline constexpr size_t PROBLEM_SIZE = marlek_board::ERROR_DETAIL_SIZE;
inline constexpr int MAX_MODE_LINES = 4;
inline constexpr int MODE_COUNT = 3;  // RS-232, RS-485, RS-422
inline constexpr int PAIR_PORTS = 2;
inline constexpr uint32_t MAX_RS485_DELAY_MS = 1000;
inline constexpr size_t MAX_DESCRIPTION_BYTES = 64 * 1024;

// A GPIO line as the description names it, and where.
struct LineEntry {
    char chip[CHIP_TEXT_SIZE] = "";
    char line[LINE_TEXT_SIZE] = "";
    int sourceLine = 0;  // 0: not described
    bool activeLow = false;
    char role[ROLE_TEXT_SIZE] = "";  // what it is for: "pin 3", "the LED", "uart12 mode line 2"
};

enum class LedKind : uint8_t { None, Class, Line };

struct LedEntry {
    LedKind kind = LedKind::None;
    char className[LED_NAME_SIZE] = "";
    LineEntry line;
    int sourceLine = 0;
};

struct PairEntry {
    int lineCount = 0;
    std::array<LineEntry, MAX_MODE_LINES> lines{};
    std::array<uint8_t, MODE_COUNT> values{};  // bit i: the value of mode line i
    std::array<int, MODE_COUNT> valueCount{};
    std::array<int, MODE_COUNT> valuesLine{};  // where each mode's values are; 0: not given
    std::array<std::array<char, PATH_TEXT_SIZE>, PAIR_PORTS> tty{};  // "" : none named
    std::array<int, PAIR_PORTS> ttyLine{};
    uint32_t delayBeforeSend = 0;  // ms
    uint32_t delayAfterSend = 0;
    int delaysLine = 0;
};

// The text that begins a problem with a described line: "FILE:LINE: pin 3",
// "FILE:LINE: the LED", "FILE:LINE: uart12 mode line 2".
void EntryWhere(const char* path, const LineEntry& entry, char* out, size_t size);

// The same for the LED as an LED class device ("FILE:LINE: the LED"), and
// for the tty of a pair's port ("FILE:LINE: uart12 tty1").
void LedWhere(const char* path, const LedEntry& led, char* out, size_t size);
void TtyWhere(const char* path, const PairEntry& pair, int pairIndex, int port, char* out, size_t size);

// Whether the description says anything of the pair.
bool PairDescribed(const PairEntry& pair);

struct Description {
    char path[PATH_TEXT_SIZE] = "";
    bool anyPin = false;
    std::array<LineEntry, marlek_board::PIN_COUNT> pins{};
    LedEntry led;
    std::array<PairEntry, marlek_board::SERIAL_PAIR_COUNT> pairs{};
};

// Every GPIO line a description can name: the eight pins, the LED's line and
// each pair's mode lines, in that order. Those not described have sourceLine 0.
inline constexpr int MAX_DESCRIBED_LINES = marlek_board::PIN_COUNT + 1 + marlek_board::SERIAL_PAIR_COUNT * MAX_MODE_LINES;
int DescribedLines(const Description& description, std::array<const LineEntry*, MAX_DESCRIBED_LINES>& lines);

// The index of a mode among a pair's values.
int ModeIndex(marlek_board::SerialMode mode);

// The pair's entry name: "uart12" or "uart34".
const char* PairEntryName(int pair);

// Where each problem of a description goes besides the first, when every one
// is wanted (marlek-board lists them all).
using ProblemSink = void (*)(const char* problem, void* context);

// Reads the text of a description into description. False with the first
// problem ("PATH:LINE: what is wrong; what to do") for anything it cannot
// take; every problem, the first included, also goes to sink when one is given.
// A UTF-8 byte order mark at the start and a carriage return before each line
// end (a file saved on Windows) count for nothing.
bool ParseDescription(const char* path, const char* text, size_t length, Description& description,
                      char (&problem)[PROBLEM_SIZE], ProblemSink sink = nullptr, void* context = nullptr);

// The description's path: MARLEK_BOARD, else the default.
const char* DescriptionPath();

// Where the description's path came from, which decides the advice for a
// file that cannot be read.
enum class PathOrigin : uint8_t { Default, Variable, Argument };

// The programs' description: MARLEK_BOARD's, else the default.
PathOrigin DescriptionOrigin();

// Reads and parses the file at path. A file that is missing, not a regular
// file, unreadable or too long is a problem as a malformed one is.
bool LoadDescription(const char* path, PathOrigin origin, Description& description, char (&problem)[PROBLEM_SIZE],
                     ProblemSink sink = nullptr, void* context = nullptr);

// Reads the file at path whole into text, with the same refusals as
// LoadDescription, and what fstat says of it in identity, when given.
bool ReadDescriptionFile(const char* path, PathOrigin origin, char (&text)[MAX_DESCRIPTION_BYTES + 1], size_t& length,
                         struct stat* identity, char (&problem)[PROBLEM_SIZE]);

// What a file of this mode (st_mode) is, for texts: "a regular file", "a
// folder", "a FIFO", "a character device"...
const char* FileKind(unsigned mode);

}  // namespace marlek_linux

#endif  // MARLEK_LINUX_BOARD_DESCRIPTION_H
