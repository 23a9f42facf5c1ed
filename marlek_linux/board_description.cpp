#include "board_description.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "descriptors.h"

namespace marlek_linux {

using marlek_board::OpenDescriptor;

using marlek_board::PIN_COUNT;
using marlek_board::SerialMode;

namespace {

constexpr size_t MAX_LINE_LENGTH = 1024;
constexpr int MAX_TOKENS = 8;

constexpr std::array<const char*, MODE_COUNT> MODE_ENTRIES{"rs232", "rs485", "rs422"};

struct Tokens {
    std::array<char, MAX_LINE_LENGTH + 1> text{};
    std::array<const char*, MAX_TOKENS + 1> token{};
    int count = 0;  // MAX_TOKENS + 1: more than MAX_TOKENS
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Splits one line of the file at blanks, up to a '#'.
void Split(const char* begin, size_t length, Tokens& tokens) {
    std::memcpy(tokens.text.data(), begin, length);
    tokens.text[length] = '\0';
    tokens.count = 0;
    char* at = tokens.text.data();
    while (*at != '\0' && *at != '#') {
        if (IsBlank(*at)) {
            *at++ = '\0';
            continue;
        }
        if (tokens.count <= MAX_TOKENS) tokens.token[static_cast<size_t>(tokens.count)] = at;
        ++tokens.count;
        if (tokens.count > MAX_TOKENS) tokens.count = MAX_TOKENS + 1;
        while (*at != '\0' && *at != '#' && !IsBlank(*at)) ++at;
    }
    *at = '\0';
}

struct Parser {
    const char* path;
    Description& description;
    char (&problem)[PROBLEM_SIZE];
    int line = 0;

#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    bool Fail(const char* format, ...) {
        int used = line > 0 ? std::snprintf(problem, sizeof problem, "%s:%d: ", path, line)
                            : std::snprintf(problem, sizeof problem, "%s: ", path);
        if (used < 0) used = 0;
        const size_t at = static_cast<size_t>(used) < sizeof problem ? static_cast<size_t>(used) : sizeof problem - 1;
        va_list args;
        va_start(args, format);
        std::vsnprintf(problem + at, sizeof problem - at, format, args);
        va_end(args);
        return false;
    }
};

bool IsNumber(const char* text) {
    if (*text == '\0') return false;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return false;
    }
    return true;
}

bool CopyToken(Parser& parser, const char* what, const char* token, char* out, size_t size) {
    if (std::strlen(token) >= size) {
        return parser.Fail("%s \"%.40s...\" is longer than %zu characters; shorten it", what, token, size - 1);
    }
    std::memcpy(out, token, std::strlen(token) + 1);
    return true;
}

// CHIP LINE [active-low], from token first on.
bool ReadLineEntry(Parser& parser, const Tokens& tokens, int first, bool mayBeActiveLow, const char* usage,
                  LineEntry& entry) {
    const int extra = tokens.count - first;
    const bool activeLow = mayBeActiveLow && extra == 3 &&
                           std::strcmp(tokens.token[static_cast<size_t>(first + 2)], "active-low") == 0;
    if (extra != 2 && !activeLow) {
        if (mayBeActiveLow && extra == 3) {
            return parser.Fail("\"%s\" is not active-low; write '%s'", tokens.token[static_cast<size_t>(first + 2)],
                               usage);
        }
        return parser.Fail("expected '%s'", usage);
    }
    entry = LineEntry{};
    if (!CopyToken(parser, "the chip", tokens.token[static_cast<size_t>(first)], entry.chip, sizeof entry.chip) ||
        !CopyToken(parser, "the line", tokens.token[static_cast<size_t>(first + 1)], entry.line, sizeof entry.line)) {
        return false;
    }
    entry.sourceLine = parser.line;
    entry.activeLow = activeLow;
    return true;
}

bool ReadPin(Parser& parser, const Tokens& tokens) {
    constexpr const char* usage = "pin N CHIP LINE";
    if (tokens.count < 2) return parser.Fail("expected '%s'", usage);
    const char* number = tokens.token[1];
    if (!IsNumber(number) || std::strlen(number) > 1 || *number > '7') {
        return parser.Fail("\"%s\" is not a pin: the pins are 0 to 7", number);
    }
    const int pin = *number - '0';
    LineEntry& entry = parser.description.pins[static_cast<size_t>(pin)];
    if (entry.sourceLine != 0) {
        return parser.Fail("pin %d is mapped on line %d already; keep one of the two", pin, entry.sourceLine);
    }
    if (!ReadLineEntry(parser, tokens, 2, false, usage, entry)) return false;
    parser.description.anyPin = true;
    return true;
}

bool ReadLed(Parser& parser, const Tokens& tokens) {
    LedEntry& led = parser.description.led;
    if (led.sourceLine != 0) {
        return parser.Fail("the LED is described on line %d already; keep one of the two", led.sourceLine);
    }
    const char* kind = tokens.count >= 2 ? tokens.token[1] : "";
    if (std::strcmp(kind, "class") == 0) {
        if (tokens.count != 3) return parser.Fail("expected 'led class NAME', NAME as in /sys/class/leds");
        const char* name = tokens.token[2];
        if (std::strchr(name, '/') != nullptr || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
            return parser.Fail("\"%s\" is not an LED name: give the name of a folder of /sys/class/leds", name);
        }
        if (!CopyToken(parser, "the LED name", name, led.className, sizeof led.className)) return false;
        led.kind = LedKind::Class;
    } else if (std::strcmp(kind, "line") == 0) {
        if (!ReadLineEntry(parser, tokens, 2, true, "led line CHIP LINE [active-low]", led.line)) return false;
        led.kind = LedKind::Line;
    } else {
        return parser.Fail("expected 'led class NAME' or 'led line CHIP LINE [active-low]'");
    }
    led.sourceLine = parser.line;
    return true;
}

bool ReadPair(Parser& parser, const Tokens& tokens, int pairIndex) {
    PairEntry& pair = parser.description.pairs[static_cast<size_t>(pairIndex)];
    const char* entry = PairEntryName(pairIndex);
    const char* what = tokens.count >= 2 ? tokens.token[1] : "";
    if (std::strcmp(what, "line") == 0) {
        if (pair.lineCount == MAX_MODE_LINES) {
            return parser.Fail("%s has %d mode lines already, the most it may have", entry, MAX_MODE_LINES);
        }
        char usage[32];
        std::snprintf(usage, sizeof usage, "%s line CHIP LINE", entry);
        if (!ReadLineEntry(parser, tokens, 2, false, usage, pair.lines[static_cast<size_t>(pair.lineCount)])) {
            return false;
        }
        ++pair.lineCount;
        return true;
    }
    for (int port = 0; port < PAIR_PORTS; ++port) {
        if (std::strcmp(what, port == 0 ? "tty1" : "tty2") != 0) continue;
        if (pair.ttyLine[static_cast<size_t>(port)] != 0) {
            return parser.Fail("%s %s is given on line %d already; keep one of the two", entry, what,
                               pair.ttyLine[static_cast<size_t>(port)]);
        }
        if (tokens.count != 3) return parser.Fail("expected '%s %s TTY', TTY as /dev/ttyS1 or ttyS1", entry, what);
        const char* tty = tokens.token[2];
        char path[PATH_TEXT_SIZE];
        std::snprintf(path, sizeof path, "%s%s", tty[0] == '/' ? "" : "/dev/", tty);
        if (tty[0] != '/' && std::strchr(tty, '/') != nullptr) {
            return parser.Fail("\"%s\" is not a tty: give its path (/dev/ttyS1) or its name in /dev (ttyS1)", tty);
        }
        if (!CopyToken(parser, "the tty", path, pair.tty[static_cast<size_t>(port)].data(), PATH_TEXT_SIZE)) {
            return false;
        }
        pair.ttyLine[static_cast<size_t>(port)] = parser.line;
        return true;
    }
    if (std::strcmp(what, "rs485-delays") == 0) {
        if (pair.delaysLine != 0) {
            return parser.Fail("%s rs485-delays is given on line %d already; keep one of the two", entry,
                               pair.delaysLine);
        }
        const char* before = tokens.count == 4 ? tokens.token[2] : "";
        const char* after = tokens.count == 4 ? tokens.token[3] : "";
        if (!IsNumber(before) || !IsNumber(after) || std::strlen(before) > 4 || std::strlen(after) > 4 ||
            std::strtoul(before, nullptr, 10) > MAX_RS485_DELAY_MS ||
            std::strtoul(after, nullptr, 10) > MAX_RS485_DELAY_MS) {
            return parser.Fail("expected '%s rs485-delays BEFORE AFTER', the RTS delays before and after sending "
                               "in ms, 0 to %u",
                               entry, MAX_RS485_DELAY_MS);
        }
        pair.delayBeforeSend = static_cast<uint32_t>(std::strtoul(before, nullptr, 10));
        pair.delayAfterSend = static_cast<uint32_t>(std::strtoul(after, nullptr, 10));
        pair.delaysLine = parser.line;
        return true;
    }
    for (int mode = 0; mode < MODE_COUNT; ++mode) {
        if (std::strcmp(what, MODE_ENTRIES[static_cast<size_t>(mode)]) != 0) continue;
        int& given = pair.valuesLine[static_cast<size_t>(mode)];
        if (given != 0) {
            return parser.Fail("%s %s is given on line %d already; keep one of the two", entry, what, given);
        }
        const int count = tokens.count - 2;
        if (count < 1 || count > MAX_MODE_LINES) {
            return parser.Fail("expected '%s %s V...', a value 0 or 1 for each mode line", entry, what);
        }
        uint8_t values = 0;
        for (int i = 0; i < count; ++i) {
            const char* value = tokens.token[static_cast<size_t>(2 + i)];
            if (std::strcmp(value, "0") != 0 && std::strcmp(value, "1") != 0) {
                return parser.Fail("\"%s\" is not a line value: write 0 or 1 for each mode line", value);
            }
            if (*value == '1') values = static_cast<uint8_t>(values | (1u << i));
        }
        pair.values[static_cast<size_t>(mode)] = values;
        pair.valueCount[static_cast<size_t>(mode)] = count;
        given = parser.line;
        return true;
    }
    return parser.Fail("expected '%s line CHIP LINE', '%s rs232|rs485|rs422 V...', '%s tty1|tty2 TTY' or '%s "
                       "rs485-delays BEFORE AFTER'",
                       entry, entry, entry, entry);
}

// What cannot be told line by line: a pair's values against its mode lines.
bool CheckPairs(Parser& parser) {
    for (int index = 0; index < marlek_board::SERIAL_PAIR_COUNT; ++index) {
        const PairEntry& pair = parser.description.pairs[static_cast<size_t>(index)];
        const char* entry = PairEntryName(index);
        for (int mode = 0; mode < MODE_COUNT; ++mode) {
            const int given = pair.valuesLine[static_cast<size_t>(mode)];
            const char* name = MODE_ENTRIES[static_cast<size_t>(mode)];
            if (given == 0 && pair.lineCount > 0) {
                parser.line = pair.lines[0].sourceLine;
                return parser.Fail("%s has mode lines but no %s values; add '%s %s V...'", entry, name, entry, name);
            }
            if (given != 0 && pair.lineCount == 0) {
                parser.line = given;
                return parser.Fail("%s %s gives values but %s has no mode lines; add '%s line CHIP LINE' for each",
                                   entry, name, entry, entry);
            }
            if (given != 0 && pair.valueCount[static_cast<size_t>(mode)] != pair.lineCount) {
                parser.line = given;
                return parser.Fail("%s %s gives %d values for %d mode lines; give one 0 or 1 for each", entry,
                                   name, pair.valueCount[static_cast<size_t>(mode)], pair.lineCount);
            }
        }
        if (pair.delaysLine != 0 && pair.ttyLine[0] == 0 && pair.ttyLine[1] == 0) {
            parser.line = pair.delaysLine;
            return parser.Fail("%s rs485-delays is given but %s names no tty; add '%s tty1 TTY'", entry, entry,
                               entry);
        }
    }
    return true;
}

bool CheckPins(Parser& parser) {
    if (!parser.description.anyPin) return true;
    char missing[32] = "";
    size_t used = 0;
    int count = 0;
    for (int pin = 0; pin < PIN_COUNT; ++pin) {
        if (parser.description.pins[static_cast<size_t>(pin)].sourceLine != 0) continue;
        ++count;
        const int wrote = std::snprintf(missing + used, sizeof missing - used, "%s%d", used == 0 ? "" : " ", pin);
        if (wrote > 0) used += static_cast<size_t>(wrote);
    }
    if (used == 0) return true;
    parser.line = 0;
    return parser.Fail("%s %s %s not mapped: map all eight pins, 'pin N CHIP LINE' for each", count == 1 ? "pin" : "pins",
                       missing, count == 1 ? "is" : "are");
}

// One GPIO line for two things (as the description spells them; the library
// finds other spellings of one line when it requests them).
bool CheckLinesApart(Parser& parser) {
    const Description& d = parser.description;
    std::array<const LineEntry*, PIN_COUNT + 1 + marlek_board::SERIAL_PAIR_COUNT * MAX_MODE_LINES> lines{};
    size_t count = 0;
    for (const LineEntry& pin : d.pins) lines[count++] = &pin;
    lines[count++] = &d.led.line;
    for (const PairEntry& pair : d.pairs) {
        for (int i = 0; i < pair.lineCount; ++i) lines[count++] = &pair.lines[static_cast<size_t>(i)];
    }
    for (size_t i = 0; i < count; ++i) {
        for (size_t j = 0; j < i; ++j) {
            const LineEntry& a = *lines[i];
            const LineEntry& b = *lines[j];
            if (a.sourceLine == 0 || b.sourceLine == 0 || std::strcmp(a.chip, b.chip) != 0 ||
                std::strcmp(a.line, b.line) != 0) {
                continue;
            }
            parser.line = a.sourceLine > b.sourceLine ? a.sourceLine : b.sourceLine;
            return parser.Fail("line %s of %s is named on line %d already; give each thing its own line", a.line,
                               a.chip, a.sourceLine < b.sourceLine ? a.sourceLine : b.sourceLine);
        }
    }
    return true;
}

}  // namespace

int ModeIndex(SerialMode mode) {
    switch (mode) {
        case SerialMode::Rs232: return 0;
        case SerialMode::Rs485: return 1;
        case SerialMode::Rs422: return 2;
        case SerialMode::Unset: break;
    }
    return 0;
}

void PinWhere(const char* path, const LineEntry& entry, int pin, char* out, size_t size) {
    std::snprintf(out, size, "%s:%d: pin %d", path, entry.sourceLine, pin);
}

void LedWhere(const char* path, const LineEntry& entry, int, char* out, size_t size) {
    std::snprintf(out, size, "%s:%d: the LED", path, entry.sourceLine);
}

void ModeLineWhere(const char* path, const LineEntry& entry, int index, char* out, size_t size) {
    std::snprintf(out, size, "%s:%d: mode line %d", path, entry.sourceLine, index + 1);
}

const char* PairEntryName(int pair) { return pair == 0 ? "uart12" : "uart34"; }

bool PairDescribed(const PairEntry& pair) { return pair.lineCount > 0 || pair.ttyLine[0] != 0 || pair.ttyLine[1] != 0; }

bool ParseDescription(const char* path, const char* text, size_t length, Description& description,
                      char (&problem)[PROBLEM_SIZE]) {
    description = Description{};
    problem[0] = '\0';
    Parser parser{path, description, problem};
    if (std::strlen(path) >= sizeof description.path) return parser.Fail("the path is too long");
    std::memcpy(description.path, path, std::strlen(path) + 1);
    static Tokens tokens;  // constant-initialised: no guard, no stack of a kilobyte
    bool anything = false;
    size_t at = 0;
    while (at < length) {
        ++parser.line;
        const char* begin = text + at;
        const void* newline = std::memchr(begin, '\n', length - at);
        const size_t lineLength =
            newline != nullptr ? static_cast<size_t>(static_cast<const char*>(newline) - begin) : length - at;
        at += lineLength + 1;
        if (std::memchr(begin, '\0', lineLength) != nullptr) return parser.Fail("the line holds a NUL byte; this is not a text file");
        if (lineLength > MAX_LINE_LENGTH) {
            return parser.Fail("the line is longer than %zu characters; shorten it", MAX_LINE_LENGTH);
        }
        Split(begin, lineLength, tokens);
        if (tokens.count == 0) continue;
        if (tokens.count > MAX_TOKENS) return parser.Fail("too many words for any entry");
        const char* entry = tokens.token[0];
        bool ok = false;
        if (std::strcmp(entry, "pin") == 0) {
            ok = ReadPin(parser, tokens);
        } else if (std::strcmp(entry, "led") == 0) {
            ok = ReadLed(parser, tokens);
        } else if (std::strcmp(entry, PairEntryName(0)) == 0) {
            ok = ReadPair(parser, tokens, 0);
        } else if (std::strcmp(entry, PairEntryName(1)) == 0) {
            ok = ReadPair(parser, tokens, 1);
        } else {
            return parser.Fail("unknown entry \"%.40s\"; an entry begins with pin, led, uart12 or uart34 (see %s)",
                               entry, FORMAT_PAGE);
        }
        if (!ok) return false;
        anything = true;
    }
    parser.line = 0;
    if (!anything) {
        return parser.Fail("describes nothing: map the pins, the LED or a UART pair's mode lines (see %s)",
                           FORMAT_PAGE);
    }
    return CheckPins(parser) && CheckPairs(parser) && CheckLinesApart(parser);
}

const char* DescriptionPath() {
    const char* path = std::getenv(BOARD_VARIABLE);
    return path != nullptr && *path != '\0' ? path : DEFAULT_BOARD_PATH;
}

bool LoadDescription(const char* path, Description& description, char (&problem)[PROBLEM_SIZE]) {
    static char text[MAX_DESCRIPTION_BYTES + 1];
    const char* fix = std::getenv(BOARD_VARIABLE) == nullptr || *std::getenv(BOARD_VARIABLE) == '\0'
                          ? "write the board's description there, or name one with MARLEK_BOARD"
                          : "correct MARLEK_BOARD, or unset it to use /etc/marlek/board.conf";
    // Not blocking on a FIFO or a device: only a regular file is read.
    const int fd = OpenDescriptor(path, O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        std::snprintf(problem, sizeof problem, "cannot open the board description %s: %s; %s (see %s)", path,
                      std::strerror(errno), fix, FORMAT_PAGE);
        return false;
    }
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(fd);
        std::snprintf(problem, sizeof problem, "the board description %s is not a regular file; %s", path, fix);
        return false;
    }
    size_t length = 0;
    for (;;) {
        const ssize_t got = read(fd, text + length, sizeof text - length);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            const int error = errno;
            close(fd);
            std::snprintf(problem, sizeof problem, "cannot read the board description %s: %s", path,
                          std::strerror(error));
            return false;
        }
        if (got == 0) break;
        length += static_cast<size_t>(got);
        if (length > MAX_DESCRIPTION_BYTES) {
            close(fd);
            std::snprintf(problem, sizeof problem, "the board description %s is longer than %zu bytes; is it the right file?",
                          path, MAX_DESCRIPTION_BYTES);
            return false;
        }
    }
    close(fd);
    return ParseDescription(path, text, length, description, problem);
}

}  // namespace marlek_linux
