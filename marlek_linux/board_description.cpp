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
#include "terminal_text.h"

namespace marlek_linux {

using marlek_board::OpenDescriptor;
using marlek_board::QuotedWord;

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

// A blank is a space or a tab; a carriage return before the line end has been
// taken off already, and any other one is refused.
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

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
    ProblemSink sink;
    void* context;
    int line = 0;
    int problems = 0;

#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    bool Fail(const char* format, ...) {
        static char text[PROBLEM_SIZE];
        int used = line > 0 ? std::snprintf(text, sizeof text, "%s:%d: ", path, line)
                            : std::snprintf(text, sizeof text, "%s: ", path);
        if (used < 0) used = 0;
        const size_t at = static_cast<size_t>(used) < sizeof text ? static_cast<size_t>(used) : sizeof text - 1;
        va_list args;
        va_start(args, format);
        std::vsnprintf(text + at, sizeof text - at, format, args);
        va_end(args);
        if (problems++ == 0) std::memcpy(problem, text, sizeof problem);
        if (sink != nullptr) sink(text, context);
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
        return parser.Fail("%s \"%s...\" is longer than %zu characters; shorten it", what, QuotedWord(token, 40).text,
                           size - 1);
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
            return parser.Fail("\"%s\" is not active-low; write '%s'",
                               QuotedWord(tokens.token[static_cast<size_t>(first + 2)]).text, usage);
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
        return parser.Fail("\"%s\" is not a pin: the pins are 0 to 7", QuotedWord(number).text);
    }
    const int pin = *number - '0';
    LineEntry& entry = parser.description.pins[static_cast<size_t>(pin)];
    if (entry.sourceLine != 0) {
        return parser.Fail("pin %d is mapped on line %d already; keep one of the two", pin, entry.sourceLine);
    }
    if (!ReadLineEntry(parser, tokens, 2, false, usage, entry)) return false;
    std::snprintf(entry.role, sizeof entry.role, "pin %d", pin);
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
            return parser.Fail("\"%s\" is not an LED name: give the name of a folder of /sys/class/leds",
                               QuotedWord(name).text);
        }
        if (!CopyToken(parser, "the LED name", name, led.className, sizeof led.className)) return false;
        led.kind = LedKind::Class;
    } else if (std::strcmp(kind, "line") == 0) {
        if (!ReadLineEntry(parser, tokens, 2, true, "led line CHIP LINE [active-low]", led.line)) return false;
        std::snprintf(led.line.role, sizeof led.line.role, "the LED");
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
        LineEntry& line = pair.lines[static_cast<size_t>(pair.lineCount)];
        if (!ReadLineEntry(parser, tokens, 2, false, usage, line)) return false;
        ++pair.lineCount;
        std::snprintf(line.role, sizeof line.role, "%.6s mode line %d", entry, pair.lineCount);
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
            return parser.Fail("\"%s\" is not a tty: give its path (/dev/ttyS1) or its name in /dev (ttyS1)",
                               QuotedWord(tty).text);
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
                return parser.Fail("\"%s\" is not a line value: write 0 or 1 for each mode line",
                                   QuotedWord(value).text);
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
void CheckPairs(Parser& parser) {
    for (int index = 0; index < marlek_board::SERIAL_PAIR_COUNT; ++index) {
        const PairEntry& pair = parser.description.pairs[static_cast<size_t>(index)];
        const char* entry = PairEntryName(index);
        for (int mode = 0; mode < MODE_COUNT; ++mode) {
            const int given = pair.valuesLine[static_cast<size_t>(mode)];
            const char* name = MODE_ENTRIES[static_cast<size_t>(mode)];
            if (given == 0 && pair.lineCount > 0) {
                parser.line = pair.lines[0].sourceLine;
                parser.Fail("%s has mode lines but no %s values; add '%s %s V...'", entry, name, entry, name);
            } else if (given != 0 && pair.lineCount == 0) {
                parser.line = given;
                parser.Fail("%s %s gives values but %s has no mode lines; add '%s line CHIP LINE' for each", entry,
                            name, entry, entry);
            } else if (given != 0 && pair.valueCount[static_cast<size_t>(mode)] != pair.lineCount) {
                parser.line = given;
                parser.Fail("%s %s gives %d values for %d mode lines; give one 0 or 1 for each", entry, name,
                            pair.valueCount[static_cast<size_t>(mode)], pair.lineCount);
            }
        }
        if (pair.delaysLine != 0 && pair.ttyLine[0] == 0 && pair.ttyLine[1] == 0) {
            parser.line = pair.delaysLine;
            parser.Fail("%s rs485-delays is given but %s names no tty; add '%s tty1 TTY'", entry, entry, entry);
        }
    }
}

void CheckPins(Parser& parser) {
    if (!parser.description.anyPin) return;
    char missing[32] = "";
    size_t used = 0;
    int count = 0;
    for (int pin = 0; pin < PIN_COUNT; ++pin) {
        if (parser.description.pins[static_cast<size_t>(pin)].sourceLine != 0) continue;
        ++count;
        const int wrote = std::snprintf(missing + used, sizeof missing - used, "%s%d", used == 0 ? "" : " ", pin);
        if (wrote > 0) used += static_cast<size_t>(wrote);
    }
    if (used == 0) return;
    parser.line = 0;
    parser.Fail("%s %s %s not mapped: map all eight pins, 'pin N CHIP LINE' for each", count == 1 ? "pin" : "pins",
                missing, count == 1 ? "is" : "are");
}

// One GPIO line for two things, as the description spells them; other
// spellings of one line are found against the kernel (SharedLines).
void CheckLinesApart(Parser& parser) {
    std::array<const LineEntry*, MAX_DESCRIBED_LINES> lines{};
    const int count = DescribedLines(parser.description, lines);
    for (int i = 0; i < count; ++i) {
        for (int j = 0; j < i; ++j) {
            const LineEntry& a = *lines[static_cast<size_t>(i)];
            const LineEntry& b = *lines[static_cast<size_t>(j)];
            if (std::strcmp(a.chip, b.chip) != 0 || std::strcmp(a.line, b.line) != 0) continue;
            const LineEntry& later = a.sourceLine > b.sourceLine ? a : b;
            const LineEntry& earlier = a.sourceLine > b.sourceLine ? b : a;
            parser.line = later.sourceLine;
            parser.Fail("%s: line %s of %s is named for %s on line %d already; give each thing its own line",
                        later.role, later.line, later.chip, earlier.role, earlier.sourceLine);
            break;
        }
    }
}

// One tty for two ports, of one pair or of both.
void CheckTtysApart(Parser& parser) {
    const auto& pairs = parser.description.pairs;
    constexpr int PORTS = marlek_board::SERIAL_PAIR_COUNT * PAIR_PORTS;
    for (int i = 0; i < PORTS; ++i) {
        const PairEntry& pair = pairs[static_cast<size_t>(i / PAIR_PORTS)];
        const char* tty = pair.tty[static_cast<size_t>(i % PAIR_PORTS)].data();
        if (tty[0] == '\0') continue;
        for (int j = 0; j < i; ++j) {
            const PairEntry& other = pairs[static_cast<size_t>(j / PAIR_PORTS)];
            if (std::strcmp(tty, other.tty[static_cast<size_t>(j % PAIR_PORTS)].data()) != 0) continue;
            parser.line = pair.ttyLine[static_cast<size_t>(i % PAIR_PORTS)];
            parser.Fail("%s tty%d: %s is named for %s tty%d on line %d already; give each port its own tty",
                        PairEntryName(i / PAIR_PORTS), i % PAIR_PORTS + 1, tty, PairEntryName(j / PAIR_PORTS),
                        j % PAIR_PORTS + 1, other.ttyLine[static_cast<size_t>(j % PAIR_PORTS)]);
            break;
        }
    }
}

constexpr char BYTE_ORDER_MARK[] = "\xEF\xBB\xBF";

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

void EntryWhere(const char* path, const LineEntry& entry, char* out, size_t size) {
    std::snprintf(out, size, "%s:%d: %s", path, entry.sourceLine, entry.role);
}

void LedWhere(const char* path, const LedEntry& led, char* out, size_t size) {
    std::snprintf(out, size, "%s:%d: the LED", path, led.sourceLine);
}

void TtyWhere(const char* path, const PairEntry& pair, int pairIndex, int port, char* out, size_t size) {
    std::snprintf(out, size, "%s:%d: %s tty%d", path, pair.ttyLine[static_cast<size_t>(port)], PairEntryName(pairIndex),
                  port + 1);
}

int DescribedLines(const Description& description, std::array<const LineEntry*, MAX_DESCRIBED_LINES>& lines) {
    int count = 0;
    const auto add = [&](const LineEntry& entry) {
        if (entry.sourceLine != 0) lines[static_cast<size_t>(count++)] = &entry;
    };
    for (const LineEntry& pin : description.pins) add(pin);
    if (description.led.kind == LedKind::Line) add(description.led.line);
    for (const PairEntry& pair : description.pairs) {
        for (int i = 0; i < pair.lineCount; ++i) add(pair.lines[static_cast<size_t>(i)]);
    }
    return count;
}

const char* PairEntryName(int pair) { return pair == 0 ? "uart12" : "uart34"; }

bool PairDescribed(const PairEntry& pair) { return pair.lineCount > 0 || pair.ttyLine[0] != 0 || pair.ttyLine[1] != 0; }

bool ParseDescription(const char* path, const char* text, size_t length, Description& description,
                      char (&problem)[PROBLEM_SIZE], ProblemSink sink, void* context) {
    description = Description{};
    problem[0] = '\0';
    Parser parser{path, description, problem, sink, context};
    if (std::strlen(path) >= sizeof description.path) {
        return parser.Fail("the path is longer than %zu characters; name the description by a shorter one",
                           sizeof description.path - 1);
    }
    std::memcpy(description.path, path, std::strlen(path) + 1);
    static Tokens tokens;  // constant-initialised: no guard, no stack of a kilobyte
    size_t at = 0;
    if (length >= 3 && std::memcmp(text, BYTE_ORDER_MARK, 3) == 0) at = 3;
    while (at < length) {
        ++parser.line;
        const char* begin = text + at;
        const void* newline = std::memchr(begin, '\n', length - at);
        size_t lineLength =
            newline != nullptr ? static_cast<size_t>(static_cast<const char*>(newline) - begin) : length - at;
        at += lineLength + 1;
        if (lineLength > 0 && begin[lineLength - 1] == '\r') --lineLength;  // saved on Windows
        if (std::memchr(begin, '\0', lineLength) != nullptr) {
            parser.Fail("the line holds a NUL byte; this is not a text file");
            continue;
        }
        if (std::memchr(begin, '\r', lineLength) != nullptr) {
            parser.Fail("the line holds a carriage return (\\r) before its end; put each entry on a line of its own");
            continue;
        }
        if (lineLength > MAX_LINE_LENGTH) {
            parser.Fail("the line is longer than %zu characters; shorten it", MAX_LINE_LENGTH);
            continue;
        }
        Split(begin, lineLength, tokens);
        if (tokens.count == 0) continue;
        if (tokens.count > MAX_TOKENS) {
            parser.Fail("too many words for any entry");
            continue;
        }
        const char* entry = tokens.token[0];
        if (std::strcmp(entry, "pin") == 0) {
            ReadPin(parser, tokens);
        } else if (std::strcmp(entry, "led") == 0) {
            ReadLed(parser, tokens);
        } else if (std::strcmp(entry, PairEntryName(0)) == 0) {
            ReadPair(parser, tokens, 0);
        } else if (std::strcmp(entry, PairEntryName(1)) == 0) {
            ReadPair(parser, tokens, 1);
        } else {
            parser.Fail("unknown entry \"%s\"; an entry begins with pin, led, uart12 or uart34 (see %s)",
                        QuotedWord(entry, 40).text, FORMAT_PAGE);
        }
    }
    // What spans lines is checked once every line could be read: a line that
    // could not would only show again as something missing.
    if (parser.problems == 0) {
        CheckPins(parser);
        CheckPairs(parser);
        CheckLinesApart(parser);
        CheckTtysApart(parser);
    }
    return parser.problems == 0;
}

PathOrigin DescriptionOrigin() {
    const char* path = std::getenv(BOARD_VARIABLE);
    return path != nullptr && *path != '\0' ? PathOrigin::Variable : PathOrigin::Default;
}

const char* DescriptionPath() {
    return DescriptionOrigin() == PathOrigin::Variable ? std::getenv(BOARD_VARIABLE) : DEFAULT_BOARD_PATH;
}

const char* FileKind(unsigned mode) {
    switch (mode & S_IFMT) {
        case S_IFREG: return "a regular file";
        case S_IFDIR: return "a folder";
        case S_IFIFO: return "a FIFO";
        case S_IFSOCK: return "a socket";
        case S_IFCHR: return "a character device";
        case S_IFBLK: return "a block device";
        case S_IFLNK: return "a symbolic link";
        default: return "not a file";
    }
}

namespace {

// What to do about a description that cannot be opened, as its path was given.
const char* OpenFix(PathOrigin origin) {
    switch (origin) {
        case PathOrigin::Variable: return "correct MARLEK_BOARD, or unset it to use /etc/marlek/board.conf";
        case PathOrigin::Argument: return "correct the path, or write the board's description there";
        case PathOrigin::Default: break;
    }
    return "write the board's description there, or name one with MARLEK_BOARD";
}

const char* OriginNote(PathOrigin origin) {
    return origin == PathOrigin::Variable ? " (MARLEK_BOARD names it)" : "";
}

}  // namespace

bool ReadDescriptionFile(const char* path, PathOrigin origin, char (&text)[MAX_DESCRIPTION_BYTES + 1], size_t& length,
                         struct stat* identity, char (&problem)[PROBLEM_SIZE]) {
    length = 0;
    // Only a regular file is read, and what is not one is not even opened (a
    // watchdog named by mistake starts when it is opened). O_NONBLOCK: a
    // FIFO put in its place meanwhile does not hang the open.
    struct stat status {};
    if (stat(path, &status) == 0 && !S_ISREG(status.st_mode)) {
        std::snprintf(problem, sizeof problem, "the board description %s%s is %s, not a regular file; name the "
                      "description's file", path, OriginNote(origin), FileKind(status.st_mode));
        return false;
    }
    const int fd = OpenDescriptor(path, O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0 && (errno == EACCES || errno == EPERM)) {
        std::snprintf(problem, sizeof problem,
                      "cannot open the board description %s%s: %s; give the user read access to it (ls -l %s "
                      "shows its owner and group), or run as root",
                      path, OriginNote(origin), std::strerror(errno), path);
        return false;
    }
    if (fd < 0) {
        std::snprintf(problem, sizeof problem, "cannot open the board description %s: %s; %s (see %s)", path,
                      std::strerror(errno), OpenFix(origin), FORMAT_PAGE);
        return false;
    }
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(fd);
        std::snprintf(problem, sizeof problem, "the board description %s%s is %s, not a regular file; name the "
                      "description's file", path, OriginNote(origin), FileKind(status.st_mode));
        return false;
    }
    if (identity != nullptr) *identity = status;
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
    return true;
}

bool LoadDescription(const char* path, PathOrigin origin, Description& description, char (&problem)[PROBLEM_SIZE],
                     ProblemSink sink, void* context) {
    static char text[MAX_DESCRIPTION_BYTES + 1];
    size_t length = 0;
    if (!ReadDescriptionFile(path, origin, text, length, nullptr, problem)) return false;
    return ParseDescription(path, text, length, description, problem, sink, context);
}

}  // namespace marlek_linux
