// GPIO chips and lines through the GPIO character device (the v2 interface of
// <linux/gpio.h>): finding a chip by path, name or label and a line by offset
// or name, requesting lines, and driving and reading them. No call waits.
#ifndef MARLEK_LINUX_GPIO_H
#define MARLEK_LINUX_GPIO_H

#include <array>
#include <cstdint>

#include <fcntl.h>
#include <linux/gpio.h>
#include <sys/types.h>

#include "board_description.h"
#include "problem.h"

namespace marlek_linux {

// The consumer the kernel lists for the lines requested: "marlek" for a
// program's run, the board service's own name for its lines.
inline constexpr const char* CONSUMER = "marlek";
void UseConsumer(const char* consumer);

inline constexpr int MAX_CHIPS = 64;

struct Chip {
    int fd = -1;
    dev_t device = 0;  // tells two spellings of one chip apart from two chips
    char path[64] = "";
    char name[GPIO_MAX_NAME_SIZE] = "";
    char label[GPIO_MAX_NAME_SIZE] = "";
    uint32_t lineCount = 0;
};

// A line found on its chip, with what the kernel says of it now.
struct FoundLine {
    uint32_t offset = 0;
    gpio_v2_line_info info{};
};

// Opens the chip the description names as wanted (a path, a name such as
// gpiochip2, or a label that one chip alone carries), read-write for requests
// or read-only (access) for a look. where begins the problem's text
// ("FILE:LINE: pin 3"). A path is opened only once it is known to be a GPIO
// chip, and a kernel without the character device's v2 (before Linux 5.10)
// is named as such.
bool OpenChip(const char* wanted, const char* where, Chip& chip, Problem& problem, int access = O_RDWR);

// The numbers N of the chips /dev/gpiochipN, in order; how many.
int ListChips(std::array<int, MAX_CHIPS>& numbers);

// Finds the line the description names as wanted (an offset or a line name)
// on the chip. A name that two lines of the chip carry is refused, with both
// offsets: either may be the line meant.
bool FindLine(const Chip& chip, const char* wanted, const char* where, FoundLine& line, Problem& problem);

// How the description's words are read: a CHIP that begins with '/' is a
// path, one that is a chip's name (gpiochip followed by digits) a name, any
// other a label; a LINE of digits alone is an offset, any other a name.
bool IsChipName(const char* text);
bool IsLineOffset(const char* text);

// Whether text can stand as one word of a description as the draft writes it:
// printable ASCII without a blank or '#'.
bool IsDescriptionWord(const char* text);

// The word by which a description written for this system (marlek-board
// --draft) names a chip: its label where the description reads that word
// back as this chip's label and no other's (a word, not a path nor a chip's
// name, carried by this chip alone among labels, the labels of every chip of
// the system), else its name. complete is false when some chip's label could
// not be read: a label is then no sure word.
const char* ChipWord(const char* name, const char* label, const char* const* labels, int count, bool complete);

// Sizes that hold DescribeLine's and DescribeUse's texts whole.
inline constexpr size_t DESCRIBED_LINE_SIZE = 320;
inline constexpr size_t DESCRIBED_USE_SIZE = 192;

// The line as "line 3 \"DIO3\" of gpiochip1 \"marlek-dio\"", for texts; the
// name and the label quoted (QuoteForTerminal).
void DescribeLine(const Chip& chip, const FoundLine& line, char* out, size_t size);

// What the kernel says of a line's use: "input, free", "output open-drain,
// held by \"other\"", the consumer quoted.
void DescribeUse(const gpio_v2_line_info& info, char* out, size_t size);

// A problem unless the line is free: held by another consumer, it is busy.
bool CheckLineFree(const Chip& chip, const FoundLine& line, const char* where, Problem& problem);

// Requests the lines with the configuration, consumer "marlek"; the request's
// descriptor in fd. A line taken meanwhile by another consumer is busy.
bool RequestLines(const Chip& chip, const FoundLine* lines, int count, const gpio_v2_line_config& config,
                  const char* where, int& fd, Problem& problem);

// The configuration of lines whose bit in mask is set: flags, and where
// values is given the output values (bit i for the request's line i).
void AddAttribute(gpio_v2_line_config& config, uint64_t flags, uint64_t mask);
void AddOutputValues(gpio_v2_line_config& config, uint64_t values, uint64_t mask);

// One system call each: the values of the request's lines in mask.
bool GetValues(int fd, uint64_t mask, uint64_t& values);
bool SetValues(int fd, uint64_t mask, uint64_t values);
bool SetConfig(int fd, const gpio_v2_line_config& config);

}  // namespace marlek_linux

#endif  // MARLEK_LINUX_GPIO_H
