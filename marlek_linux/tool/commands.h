// marlek-board's three commands; each returns the exit status.
#ifndef MARLEK_BOARD_TOOL_COMMANDS_H
#define MARLEK_BOARD_TOOL_COMMANDS_H

#include "board_description.h"

namespace marlek_linux {

// Checks the description at path against the system and prints the map.
int CheckDescription(const char* path, PathOrigin origin);

// Prints what the system has: the GPIO chips and their lines, the LED class
// devices, the serial ports.
int ListSystem();

// Writes a starting description of this system into a new file, or on
// standard output when file is null.
int WriteDraft(const char* file);

}  // namespace marlek_linux

#endif  // MARLEK_BOARD_TOOL_COMMANDS_H
