// The dialogue shared by the programs that address the board through its first
// COM port number (uartmode, userled): the port prompt, then a menu run at
// least once and repeated until a choice line beginning with q.
#ifndef COM_PORT_MENU_H
#define COM_PORT_MENU_H

#include <cstdint>
#include <optional>
#include <span>

#include "console.h"

struct ComPortMenu {
    const char* title;
    std::span<const char* const> items;          // the lines of choices 1, 2, ...
    std::span<const MenuOperation> operations;  // one for each item
};

// Prints the prompt and reads the first COM port number into the line; an
// answer without a number gives port 0. The number is not validated. Returns
// nothing at end of input.
std::optional<int32_t> AskFirstComPort(const char* prompt, LineBuffer& line);

// Runs the menu with the given choice line until a choice line beginning with q
// or the end of input. Typed-ahead input at an interactive console is
// discarded before each choice is read. The choice 113 does nothing.
void RunComPortMenu(const ComPortMenu& menu, LineBuffer& choiceLine);

#endif  // COM_PORT_MENU_H
