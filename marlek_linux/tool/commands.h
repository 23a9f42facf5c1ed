// marlek-board's three commands; each returns the exit status.
#ifndef MARLEK_BOARD_TOOL_COMMANDS_H
#define MARLEK_BOARD_TOOL_COMMANDS_H

#include "board_description.h"
#include "service_facts.h"

namespace marlek_linux {

// Checks the description at path against the system and prints the map,
// with what the board service says of it.
int CheckDescription(const char* path, PathOrigin origin, const ServiceFacts& service);

// Prints what the system has: the GPIO chips and their lines, the LED class
// devices, the serial ports (by name alone: no tty is opened).
int ListSystem();

// Writes a starting description of this system into a new file, or on
// standard output when file is null or "-".
int WriteDraft(const char* file);

// Prints the RS-485 setting of one serial port, tty its path or its name in
// /dev: opened only once known to be a tty, read-only, and only read.
int ProbePort(const char* tty);

}  // namespace marlek_linux

#endif  // MARLEK_BOARD_TOOL_COMMANDS_H
