// Text that reaches an operator's terminal. A word from outside (a file, a
// setting, a path, a name the kernel gives) may hold bytes that act on the
// terminal instead of showing: a C0 control (ESC begins a sequence that can
// set the title or clear the screen), DEL, a C1 control, alone (0x9B is CSI
// on an 8-bit terminal) or as UTF-8 (U+009B), or bytes that are not UTF-8.
// Every text the board libraries and their tools print passes through here.
#ifndef MARLEK_BOARD_TERMINAL_TEXT_H
#define MARLEK_BOARD_TERMINAL_TEXT_H

#include <cstddef>

namespace marlek_board {

// The offset of the first byte of text that is not printable UTF-8: a C0
// control (tab and new line included), DEL, a C1 control in either form, or a
// byte that is not part of well-formed UTF-8 (overlong forms, surrogates and
// code points above U+10FFFF included). length when there is none.
size_t UnprintableAt(const char* text, size_t length);

// The length of the control character at text: 1 for a C0 control, DEL or
// a C1 control byte, 2 for a C1 control in UTF-8; 0 when text does not begin
// with one (it is printable, or not UTF-8).
size_t ControlLength(const char* text, size_t length);

// Writes text to out as a terminal may show it: printable UTF-8 as it is,
// a tab, new line or carriage return as \t, \n or \r, and every other byte
// that UnprintableAt finds as \xHH (U+009B is \xc2\x9b). A backslash stays as
// it is, so that a Windows path reads as one. Where out is too small the text
// is cut before a whole character or escape; out always ends with a NUL
// (size > 0). Returns the length written.
size_t EscapeForTerminal(const char* text, size_t length, char* out, size_t size);

}  // namespace marlek_board

#endif  // MARLEK_BOARD_TERMINAL_TEXT_H
