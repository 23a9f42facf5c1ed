// marlek-board: reads the board description, opens what it names and prints
// the map, so that an operator can write the description before running a
// program on it; lists what the system has; writes a description to start
// from. Status 0 when all is well, 1 with the reasons otherwise, 2 on bad
// usage.
#include <cstdio>
#include <cstring>

#include "board_description.h"
#include "commands.h"
#include "output.h"

namespace marlek_linux {
namespace {

constexpr const char* USAGE =
    "Usage: marlek-board [--] [FILE]\n"
    "       marlek-board --list\n"
    "       marlek-board --draft [--] [FILE]\n"
    "       marlek-board --probe TTY\n"
    "Checks a board description and prints where it puts each pin, the user LED\n"
    "and the UART pairs' mode lines, with each line's consumer and direction.\n"
    "FILE defaults to $MARLEK_BOARD, else /etc/marlek/board.conf.\n"
    "  --list   print the GPIO chips with their lines, the LED class devices and\n"
    "           the serial ports (no port is opened)\n"
    "  --draft  write a starting description of this system into FILE, a new\n"
    "           file, or on standard output (no FILE, or -)\n"
    "  --probe  read the RS-485 mode of the serial port TTY (/dev/ttyS1 or ttyS1),\n"
    "           opening that port alone and writing nothing\n"
    "  -h, --help     print this and end\n"
    "  --version      print the version and end\n"
    "Exit status: 0 when all is usable, 1 otherwise, 2 on bad usage.\n"
    "The format: marlek-board.conf(5).\n";

enum class Command { Check, List, Draft, Probe, Help, Version };

int Usage(const char* problem, const char* word) {
    ErrorLine("%s%s%s%s; see marlek-board --help", problem, word != nullptr ? " '" : "", word != nullptr ? word : "",
              word != nullptr ? "'" : "");
    return 2;
}

int PrintText(const char* text) {
    std::fputs(text, stdout);
    return OutputWritten() ? 0 : 1;
}

}  // namespace
}  // namespace marlek_linux

int main(int argc, char** argv) {
    using namespace marlek_linux;
    Command command = Command::Check;
    const char* file = nullptr;
    const char* tty = nullptr;  // --probe's
    bool operands = false;  // after "--", every argument is a file
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (!operands && argument[0] == '-' && argument[1] != '\0') {
            if (std::strcmp(argument, "--") == 0) {
                operands = true;
            } else if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
                return PrintText(USAGE);
            } else if (std::strcmp(argument, "--version") == 0) {
                command = Command::Version;
            } else if ((std::strcmp(argument, "--list") == 0 || std::strcmp(argument, "--draft") == 0 ||
                        std::strcmp(argument, "--probe") == 0) &&
                       command != Command::Check) {
                return Usage("one command at a time: drop", argument);
            } else if (std::strcmp(argument, "--list") == 0 || std::strcmp(argument, "--draft") == 0) {
                command = argument[2] == 'l' ? Command::List : Command::Draft;
            } else if (std::strcmp(argument, "--probe") == 0) {
                // The next argument is the tty, whatever it begins with.
                if (i + 1 == argc || argv[i + 1][0] == '\0') {
                    return Usage("--probe needs a TTY: a serial port's path (/dev/ttyS1) or its name in /dev", nullptr);
                }
                tty = argv[++i];
                if (tty[0] != '/' && std::strchr(tty, '/') != nullptr) {
                    return Usage("--probe takes a path (/dev/ttyS1) or a name in /dev (ttyS1), not", tty);
                }
                command = Command::Probe;
            } else {
                return Usage("unknown option", argument);
            }
            continue;
        }
        if (argument[0] == '\0') return Usage("an empty argument names no file", nullptr);
        if (file != nullptr) return Usage("one FILE at most: drop", argument);
        file = argument;
    }
    switch (command) {
        case Command::Version: return PrintText("marlek-board (" MARLEK_PROJECT_TITLE ") " MARLEK_VERSION "\n");
        case Command::List:
            if (file != nullptr) return Usage("--list takes no FILE: drop", file);
            return ListSystem();
        case Command::Draft: return WriteDraft(file);
        case Command::Probe:
            if (file != nullptr) return Usage("--probe takes no FILE: drop", file);
            return ProbePort(tty);
        case Command::Help:
        case Command::Check: break;
    }
    // Without a FILE, the description the board service holds the board by,
    // where it runs, else the one the programs would read.
    static ServiceFacts service;
    AskService(service);
    if (file != nullptr) return CheckDescription(file, PathOrigin::Argument, service);
    if (service.state == ServiceState::Running && service.description[0] != '\0') {
        return CheckDescription(service.description, PathOrigin::Default, service);
    }
    return CheckDescription(DescriptionPath(), DescriptionOrigin(), service);
}
