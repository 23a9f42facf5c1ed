// marlek-board --list and --draft: what the system has, before there is a
// description, and a description to start from.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "commands.h"
#include "descriptors.h"
#include "devices.h"
#include "gpio.h"
#include "led_class.h"
#include "output.h"
#include "problem.h"
#include "serial_port.h"
#include "terminal_text.h"

namespace marlek_linux {

namespace {

constexpr const char* TTY_CLASS_FOLDER = "/sys/class/tty";
constexpr int MAX_PORTS = 64;
constexpr size_t PORT_NAME_SIZE = 64;

// ---- what the system has ----

// A serial port, by its path; its RS-485 mode is not read here, since
// opening a port raises its DTR and RTS (--probe reads one port's).
struct Port {
    char path[PORT_NAME_SIZE + 8] = "";
};

// Whether the folder of /sys/class/tty is a port with a device behind it that
// is there: virtual terminals have no device, and a serial driver's ports
// without a UART are of type 0.
bool IsSerialPort(const char* name) {
    char path[PORT_NAME_SIZE + 64];
    std::snprintf(path, sizeof path, "%s/%s/device", TTY_CLASS_FOLDER, name);
    struct stat status {};
    if (lstat(path, &status) != 0) return false;
    std::snprintf(path, sizeof path, "%s/%s/type", TTY_CLASS_FOLDER, name);
    unsigned long type = 0;
    int error = 0;
    return !ReadSysfsNumber(path, type, error) || type != 0;
}

int ListPorts(Port (&ports)[MAX_PORTS]) {
    DIR* folder = marlek_board::OpenFolder(TTY_CLASS_FOLDER);
    if (folder == nullptr) return 0;
    char names[MAX_PORTS][PORT_NAME_SIZE];
    int count = 0;
    while (const dirent* entry = readdir(folder)) {
        if (entry->d_name[0] == '.' || std::strlen(entry->d_name) >= PORT_NAME_SIZE || count == MAX_PORTS) continue;
        if (!IsSerialPort(entry->d_name)) continue;
        std::memcpy(names[count], entry->d_name, std::strlen(entry->d_name) + 1);
        ++count;
    }
    closedir(folder);
    std::qsort(names, static_cast<size_t>(count), sizeof names[0], CompareNames);
    for (int i = 0; i < count; ++i) {
        Port& port = ports[i];
        port = Port{};
        std::snprintf(port.path, sizeof port.path, "/dev/%.60s", names[i]);
    }
    return count;
}

// ---- the listing ----

int ListChipsAndLines() {
    std::array<int, MAX_CHIPS> numbers{};
    const int count = ListChips(numbers);
    int problems = 0;
    if (count == 0) {
        Line("GPIO chips: none (no /dev/gpiochipN: is the GPIO driver loaded?)");
        return 0;
    }
    Line("GPIO chips:");
    for (int i = 0; i < count; ++i) {
        char path[64];
        std::snprintf(path, sizeof path, "/dev/gpiochip%d", numbers[static_cast<size_t>(i)]);
        Chip chip;
        Problem problem;
        if (!OpenChip(path, path, chip, problem, O_RDONLY)) {
            Line("  %s", problem.detail);
            ++problems;
            continue;
        }
        Line("  %s: %s \"%s\", %u line%s", chip.path, chip.name,
             marlek_board::QuotedWord(chip.label, sizeof chip.label).text, chip.lineCount,
             chip.lineCount == 1 ? "" : "s");
        for (uint32_t offset = 0; offset < chip.lineCount; ++offset) {
            FoundLine line;
            char wanted[16];
            std::snprintf(wanted, sizeof wanted, "%u", offset);
            if (!FindLine(chip, wanted, path, line, problem)) {
                Line("    %s", problem.detail);
                ++problems;
                continue;
            }
            char use[DESCRIBED_USE_SIZE];
            DescribeUse(line.info, use, sizeof use);
            if (line.info.name[0] != '\0') {
                Line("    line %u \"%s\": %s", offset,
                     marlek_board::QuotedWord(line.info.name, sizeof line.info.name).text, use);
            } else {
                Line("    line %u: %s", offset, use);
            }
        }
        marlek_board::CloseDescriptor(chip.fd);
    }
    return problems;
}

int ListLedDevices() {
    static char names[MAX_LEDS][LED_NAME_SIZE];
    const int count = ListLeds(names);
    if (count < 0) {
        Line("LED class devices: none (this system has no LED class: no %s)", LED_CLASS_FOLDER);
        return 0;
    }
    if (count == 0) {
        Line("LED class devices: none in %s", LED_CLASS_FOLDER);
        return 0;
    }
    Line("LED class devices (%s):", LED_CLASS_FOLDER);
    int problems = 0;
    for (int i = 0; i < count; ++i) {
        unsigned long brightness = 0;
        unsigned long maximum = 1;
        Problem problem;
        if (ReadLed(names[i], names[i], brightness, maximum, problem)) {
            Line("  %s: brightness %lu of %lu", names[i], brightness, maximum);
        } else {
            Line("  %s", problem.detail);
            ++problems;
        }
    }
    return problems;
}

void ListSerialPorts() {
    static Port ports[MAX_PORTS];
    const int count = ListPorts(ports);
    if (count == 0) {
        Line("Serial ports: none");
        return;
    }
    Line("Serial ports:");
    for (int i = 0; i < count; ++i) {
        Line("  %s: RS-485 mode not probed (marlek-board --probe %s reads it)", ports[i].path, ports[i].path + 5);
    }
}

// ---- the draft ----

// Lines named PREFIX0 to PREFIX7 on one chip: a guess at the eight pins.
struct PinGuess {
    char chip[GPIO_MAX_NAME_SIZE] = "";
    char prefix[GPIO_MAX_NAME_SIZE] = "";
};

constexpr int MAX_GUESSES = 8;

struct System {
    int chipCount = 0;
    // "gpiochip0 \"marlek-dio\", 8 lines"
    char chips[MAX_CHIPS][sizeof(marlek_board::QuotedWord) + GPIO_MAX_NAME_SIZE + 160] = {};
    int guessCount = 0;
    PinGuess guesses[MAX_GUESSES];
    int ledCount = 0;
    char leds[MAX_LEDS][LED_NAME_SIZE] = {};
    int portCount = 0;
    Port ports[MAX_PORTS];
};

void ScanChips(System& system) {
    std::array<int, MAX_CHIPS> numbers{};
    const int count = ListChips(numbers);
    static Chip chips[MAX_CHIPS];
    const char* labels[MAX_CHIPS] = {};
    int opened = 0;
    for (int i = 0; i < count; ++i) {
        char path[64];
        std::snprintf(path, sizeof path, "/dev/gpiochip%d", numbers[static_cast<size_t>(i)]);
        Problem problem;
        if (!OpenChip(path, path, chips[opened], problem, O_RDONLY)) {
            std::snprintf(system.chips[system.chipCount++], sizeof system.chips[0],
                          "%s: cannot be opened (%s); draft again as a user who may open it", path,
                          ErrorText(problem.code));
            continue;
        }
        labels[opened] = chips[opened].label;
        ++opened;
    }
    for (int i = 0; i < opened; ++i) {
        const Chip& chip = chips[i];
        std::snprintf(system.chips[system.chipCount++], sizeof system.chips[0], "%s \"%s\", %u lines", chip.name,
                      marlek_board::QuotedWord(chip.label, sizeof chip.label).text, chip.lineCount);
        for (uint32_t offset = 0; offset < chip.lineCount && system.guessCount < MAX_GUESSES; ++offset) {
            gpio_v2_line_info info{};
            info.offset = offset;
            if (marlek_board::IoctlRetrying(chip.fd, GPIO_V2_GET_LINEINFO_IOCTL, &info) != 0) continue;
            const size_t length = strnlen(info.name, sizeof info.name);
            if (length < 2 || info.name[length - 1] != '0' || !IsDescriptionWord(info.name)) continue;
            char prefix[GPIO_MAX_NAME_SIZE];
            std::snprintf(prefix, sizeof prefix, "%.*s", static_cast<int>(length - 1), info.name);
            const char last = prefix[length - 2];
            if (last >= '0' && last <= '9') continue;  // DIO10 is no pin 0
            // Each name, the first too, must lead to one line: a name that
            // two lines carry is refused, and the guess with it.
            bool all = true;
            for (int pin = 0; pin < marlek_board::PIN_COUNT && all; ++pin) {
                char name[GPIO_MAX_NAME_SIZE + 4];
                std::snprintf(name, sizeof name, "%s%d", prefix, pin);
                FoundLine line;
                Problem problem;
                all = FindLine(chip, name, "", line, problem);
            }
            if (!all) continue;
            PinGuess& guess = system.guesses[system.guessCount++];
            std::snprintf(guess.chip, sizeof guess.chip, "%s",
                          ChipWord(chip.name, chip.label, labels, opened, opened == count));
            std::snprintf(guess.prefix, sizeof guess.prefix, "%s", prefix);
        }
    }
    for (int i = 0; i < opened; ++i) marlek_board::CloseDescriptor(chips[i].fd);
}

void DraftPins(std::FILE* out, const System& system) {
    LineTo(out, "# The eight pins of pinio and pindrive: 'pin N CHIP LINE', CHIP a chip's");
    LineTo(out, "# label, name or path, LINE a line's name or offset.");
    if (system.guessCount == 1) {
        const PinGuess& guess = system.guesses[0];
        LineTo(out, "# Guessed from the line names %s0 to %s7 of %s: check them.", guess.prefix, guess.prefix,
               guess.chip);
        for (int pin = 0; pin < marlek_board::PIN_COUNT; ++pin) LineTo(out, "pin %d %s %s%d", pin, guess.chip, guess.prefix, pin);
        return;
    }
    if (system.guessCount > 1) {
        LineTo(out, "# Lines named for pins 0 to 7 are on more than one chip; pick one:");
        for (int i = 0; i < system.guessCount; ++i) {
            LineTo(out, "#   %s0 to %s7 of %s", system.guesses[i].prefix, system.guesses[i].prefix,
                   system.guesses[i].chip);
        }
    } else {
        LineTo(out, "# No chip has lines named for pins 0 to 7: put in each pin's chip and line.");
    }
    for (int pin = 0; pin < marlek_board::PIN_COUNT; ++pin) LineTo(out, "#pin %d CHIP LINE", pin);
}

void DraftLed(std::FILE* out, const System& system) {
    LineTo(out, "# The user LED of userled: an LED class device of %s, or a", LED_CLASS_FOLDER);
    LineTo(out, "# GPIO line, lit when high, or when low with active-low.");
    int users = 0;
    int user = -1;
    for (int i = 0; i < system.ledCount; ++i) {
        if (std::strstr(system.leds[i], "user") != nullptr && IsDescriptionWord(system.leds[i])) {
            ++users;
            user = i;
        }
    }
    if (users != 1 && system.ledCount == 1 && IsDescriptionWord(system.leds[0])) user = 0;
    if (users == 1 || (user == 0 && system.ledCount == 1)) {
        LineTo(out, "# Guessed: the LED class device %s: check it.", system.leds[user]);
        LineTo(out, "led class %s", system.leds[user]);
    } else {
        if (system.ledCount == 0) {
            LineTo(out, "# This system has no LED class device.");
        } else {
            LineTo(out, "# The LED class devices:");
            for (int i = 0; i < system.ledCount; ++i) LineTo(out, "#   %s", system.leds[i]);
        }
        LineTo(out, "#led class NAME");
    }
    LineTo(out, "#led line CHIP LINE active-low");
}

void DraftPair(std::FILE* out, const System& system, int pair) {
    const char* entry = PairEntryName(pair);
    LineTo(out, "%s", "");
    LineTo(out, "# %s of uartmode: the transceiver's mode lines in order (1 to 4), the", pair == 0 ? "UART 1 and 2" : "UART 3 and 4");
    LineTo(out, "# values (0 or 1) of each mode line for each mode, and the ports' ttys for");
    LineTo(out, "# the kernel's RS-485 mode with its RTS delays in ms. Keep what the board has.");
    LineTo(out, "#%s line CHIP LINE", entry);
    LineTo(out, "#%s line CHIP LINE", entry);
    LineTo(out, "#%s rs232 0 0", entry);
    LineTo(out, "#%s rs485 0 1", entry);
    LineTo(out, "#%s rs422 1 0", entry);
    char names[512] = "";
    size_t used = 0;
    for (int i = 0; i < system.portCount && used < sizeof names; ++i) {
        const int wrote = std::snprintf(names + used, sizeof names - used, "%s%s", used == 0 ? "" : ", ",
                                        system.ports[i].path + 5);
        if (wrote > 0) used += static_cast<size_t>(wrote);
    }
    if (used == 0) {
        LineTo(out, "# This system has no serial port: leave the ttys out.");
    } else {
        LineTo(out, "# The serial ports: %s.", names);
        LineTo(out, "# Their RS-485 mode is not probed: marlek-board --probe TTY reads one port's.");
    }
    LineTo(out, "#%s tty1 TTY", entry);
    LineTo(out, "#%s tty2 TTY", entry);
    LineTo(out, "#%s rs485-delays 0 0", entry);
}

void Draft(std::FILE* out, const System& system) {
    LineTo(out, "# A starting board description, written by marlek-board --draft from what");
    LineTo(out, "# this system has. Complete it: put in what each entry that begins with '#'");
    LineTo(out, "# needs and take the '#' away, check it with marlek-board FILE, then install");
    LineTo(out, "# it as /etc/marlek/board.conf. The format: marlek-board.conf(5).");
    LineTo(out, "#");
    if (system.chipCount == 0) {
        LineTo(out, "# This system has no GPIO chip (/dev/gpiochipN).");
    } else {
        LineTo(out, "# The GPIO chips (marlek-board --list shows their lines):");
        for (int i = 0; i < system.chipCount; ++i) LineTo(out, "#   %s", system.chips[i]);
    }
    LineTo(out, "%s", "");
    DraftPins(out, system);
    LineTo(out, "%s", "");
    DraftLed(out, system);
    for (int pair = 0; pair < marlek_board::SERIAL_PAIR_COUNT; ++pair) DraftPair(out, system, pair);
}

}  // namespace

int ListSystem() {
    int problems = ListChipsAndLines();
    problems += ListLedDevices();
    ListSerialPorts();
    if (!OutputWritten()) return 1;
    if (problems > 0) {
        ErrorLine("%d thing%s above could not be read", problems, problems == 1 ? "" : "s");
        return 1;
    }
    return 0;
}

int ProbePort(const char* tty) {
    char where[PATH_TEXT_SIZE + 16];
    std::snprintf(where, sizeof where, "--probe %s", tty);
    char path[PATH_TEXT_SIZE];
    const int length = std::snprintf(path, sizeof path, "%s%s", tty[0] == '/' ? "" : "/dev/", tty);
    if (length < 0 || static_cast<size_t>(length) >= sizeof path) {
        ErrorLine("%.60s...: the path is longer than %zu characters; name the port by a shorter one", where,
                  sizeof path - 1);
        return 1;
    }
    serial_rs485 settings{};
    Problem problem;
    bool noMode = false;
    if (ReadRs485(path, where, settings, problem, &noMode)) {
        char mode[128];
        DescribeRs485(settings, mode, sizeof mode);
        Line("%s: %s", path, mode);
    } else if (noMode) {
        Line("%s: no RS-485 mode (its driver answers no TIOCGRS485)", path);
    } else {
        ErrorLine("%s", problem.detail);
        return 1;
    }
    return OutputWritten() ? 0 : 1;
}

int WriteDraft(const char* file) {
    static System system;
    ScanChips(system);
    system.ledCount = ListLeds(system.leds);
    if (system.ledCount < 0) system.ledCount = 0;
    system.portCount = ListPorts(system.ports);
    if (file == nullptr || std::strcmp(file, "-") == 0) {
        Draft(stdout, system);
        return OutputWritten() ? 0 : 1;
    }
    // A new file only: marlek-board never replaces one.
    const int fd = marlek_board::OpenDescriptor(file, O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY, 0644);
    if (fd < 0) {
        if (errno == EEXIST) {
            ErrorLine("%s exists already; name a new file (marlek-board --draft never replaces one)", file);
        } else {
            ErrorLine("cannot make %s: %s", file, std::strerror(errno));
        }
        return 1;
    }
    std::FILE* out = fdopen(fd, "w");
    if (out == nullptr) {
        ErrorLine("cannot write %s: %s", file, std::strerror(errno));
        close(fd);
        unlink(file);
        return 1;
    }
    Draft(out, system);
    const bool failed = std::ferror(out) != 0;
    const int error = errno;
    if (std::fclose(out) != 0 || failed) {
        ErrorLine("cannot write %s: %s; it was removed again", file, std::strerror(failed ? error : errno));
        unlink(file);
        return 1;
    }
    return 0;
}

}  // namespace marlek_linux
