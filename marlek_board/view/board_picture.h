// A picture of a board as the tools show it: the eight pins, the LED, the
// two serial port pairs and any rows of the board's own, filled in by the
// tool of each board (marlek-sim from its board file, marlek-board from the
// board service) and printed the same way for both. Fixed-size texts, no
// heap: the view is built as program code.
#ifndef MARLEK_BOARD_VIEW_BOARD_PICTURE_H
#define MARLEK_BOARD_VIEW_BOARD_PICTURE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace marlek_board::view {

// A pin's level as a tool knows it.
enum class Level : uint8_t { Unknown, Low, High };

inline Level LevelOf(bool high) { return high ? Level::High : Level::Low; }

struct PinPicture {
    // A program holds the pin (every pin of the simulated board does). A pin
    // that no program holds shows "-" in DIR, DRIVE, OUT and DATA: nothing of
    // it is known.
    bool held = false;
    bool output = false;
    bool pushPull = false;           // the drive, kept for an input too: it applies once the pin is an output
    Level driven = Level::Unknown;   // what an output drives
    Level external = Level::Unknown; // the level from outside; Unknown where the board cannot tell it
    Level read = Level::Unknown;     // the level a read gives
};

inline constexpr size_t PICTURE_PINS = 8;
inline constexpr size_t PICTURE_PAIRS = 2;
inline constexpr size_t PICTURE_TEXT_SIZE = 256;  // the LED's and a pair's text, NUL included
inline constexpr size_t ROW_LABEL_SIZE = 32;
inline constexpr size_t ROW_TEXT_SIZE = 512;
inline constexpr size_t MAX_EXTRA_ROWS = 8;

// A row of the board's own under the LED and the pairs ("Next run:" and an
// armed failure). Rows in a row with the same label show it on the first
// alone in the live view.
struct LabelledRow {
    char label[ROW_LABEL_SIZE] = {};
    char text[ROW_TEXT_SIZE] = {};
};

// Every text is kept as a terminal may show it: the setters escape what they
// are given (marlek_board::EscapeForTerminal; text escaped already stays as
// it is) and cut a text too long for its field before a whole character.
struct BoardPicture {
    PinPicture pins[PICTURE_PINS];  // pin 0 first
    bool ledLit = false;
    char led[PICTURE_TEXT_SIZE] = {};                   // "on, first COM port 5", "not set"
    char pairs[PICTURE_PAIRS][PICTURE_TEXT_SIZE] = {};  // UART 1 and 2, UART 3 and 4
    LabelledRow extra[MAX_EXTRA_ROWS];
    size_t extraCount = 0;

    void SetLed(bool lit, const char* text);
    void SetPair(size_t pair, const char* text);
    // False, and nothing added, once MAX_EXTRA_ROWS are there.
    bool AddRow(const char* label, const char* text);
};

bool SamePicture(const BoardPicture& a, const BoardPicture& b);

// The pin table, pin 7 first: DIR, DRIVE, OUT, EXT (only when a pin's
// external level is known) and DATA, between rules, and a legend of what the
// table shows: "?" for a level not known, "-" for a pin that no program holds.
void PrintPinTable(std::FILE* out, const BoardPicture& picture);

// The lines PrintPinTable writes.
int PinTableRows(const BoardPicture& picture);

// The board as show prints it: the pin table, then "LED:", "UART 1 and 2:",
// "UART 3 and 4:" and the extra rows, each "LABEL\tTEXT".
void PrintBoard(std::FILE* out, const BoardPicture& picture);

}  // namespace marlek_board::view

#endif  // MARLEK_BOARD_VIEW_BOARD_PICTURE_H
