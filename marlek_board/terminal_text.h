// Text that reaches an operator's terminal. A word from outside (a file, a
// setting, a path, a name the kernel gives) may hold bytes that act on the
// terminal instead of showing: a C0 control (ESC begins a sequence that can
// set the title or clear the screen), DEL, a C1 control, alone (0x9B is CSI
// on an 8-bit terminal) or as UTF-8 (U+009B), a character that reorders or
// breaks the line on a terminal that honours it (U+202E shows the rest of a
// line reversed), or bytes that are not UTF-8. Every text the board libraries
// and their tools print passes through here.
#ifndef MARLEK_BOARD_TERMINAL_TEXT_H
#define MARLEK_BOARD_TERMINAL_TEXT_H

#include <cstddef>

namespace marlek_board {

// The offset of the first byte of text that is not printable UTF-8: a C0
// control (tab and new line included), DEL, a C1 control in either form, a
// bidirectional formatting character (U+200E, U+200F, U+202A to U+202E,
// U+2066 to U+2069), the line or paragraph separator (U+2028, U+2029), or a
// byte that is not part of well-formed UTF-8 (overlong forms, surrogates and
// code points above U+10FFFF included). length when there is none.
size_t UnprintableAt(const char* text, size_t length);

// The length of the control character at text: 1 for a C0 control, DEL or
// a C1 control byte, 2 for a C1 control in UTF-8, 3 for a bidirectional
// formatting character or a separator; 0 when text does not begin with one
// (it is printable, or not UTF-8).
size_t ControlLength(const char* text, size_t length);

// Writes text to out as a terminal may show it: printable UTF-8 as it is,
// a tab, new line or carriage return as \t, \n or \r, and every other byte
// that UnprintableAt finds as \xHH (U+009B is \xc2\x9b, U+202E
// \xe2\x80\xae). A backslash stays as it is, so that a Windows path reads as
// one. Where out is too small the text is cut before a whole character or
// escape; out always ends with a NUL (size > 0). Returns the length written.
size_t EscapeForTerminal(const char* text, size_t length, char* out, size_t size);

// The same for a word that a text puts between double quotes (a chip's
// label, a line's name, a consumer): its backslashes and double quotes are
// escaped too, as \\ and \", so that what is shown reads back to one text
// only: a consumer holding the four characters \x1b shows as \\x1b, and one
// holding a quote cannot close the quotes around it. Escaping the result
// again with EscapeForTerminal leaves it as it is.
size_t QuoteForTerminal(const char* text, size_t length, char* out, size_t size);

// A word from outside as a text puts it between double quotes, for a "%s":
// QuoteForTerminal of at most max bytes of it (up to its NUL). A word longer
// than QUOTED_WORD_LIMIT bytes is cut there.
inline constexpr size_t QUOTED_WORD_LIMIT = 256;
struct QuotedWord {
    explicit QuotedWord(const char* word, size_t max = QUOTED_WORD_LIMIT);
    char text[QUOTED_WORD_LIMIT * 4 + 1];
};

}  // namespace marlek_board

#endif  // MARLEK_BOARD_TERMINAL_TEXT_H
