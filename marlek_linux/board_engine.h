// The board as the Linux board library drives it: the pins as GPIO lines, the
// user LED as an LED class device or a GPIO line, each UART pair's mode lines
// and ttys, where the board description says they are. One engine drives one
// board; a run of a program that drives the kernel itself has one, and so has
// the board service, which serves every program from it.
//
// Every call of the board library but the two error functions comes here as a
// BoardRequest, with what the caller passed, and is checked and carried out
// in the same order, with the same codes and texts, wherever it runs.
#ifndef MARLEK_LINUX_BOARD_ENGINE_H
#define MARLEK_LINUX_BOARD_ENGINE_H

#include <array>
#include <cstdint>

#include "board_description.h"
#include "board_rules.h"
#include "line_set.h"
#include "problem.h"

namespace marlek_linux {

// A call as the program made it.
struct BoardRequest {
    marlek_board::Operation operation = marlek_board::Operation::DIOInit;
    uint8_t first = 0;   // SetConfig: output mask; Output*: data; LedConfig: device; SerialConfig: mode code
    uint8_t second = 0;  // SetConfig: push-pull mask; Output*: enable mask; LedConfig: the setting
    int32_t pin = 0;     // InputBit: the pin
    bool nullArgument = false;  // the pointer the call takes is null
};

// What a run of a program holds of the board: whether its digital I/O is
// open (Marlek_DIOInit to Marlek_DIOFree), as a driver handle would be.
struct RunState {
    bool dioOpen = false;
};

struct PinState {
    bool held = false;  // the lines are requested
    uint8_t outputMask = 0;
    uint8_t pushPullMask = 0;
    uint8_t drivenLevels = 0;
};

enum class TtyState : uint8_t { Unknown, Rs485Off, Rs485On };

// Everything is constant-initialised: a static engine runs no constructor,
// takes no guard and allocates nothing.
struct BoardEngine {
    // A run's own engine gives its lines back at Marlek_DIOFree and when the
    // run ends; the service's keeps them until it stops (the board's).
    bool keepsLines = false;
    bool described = false;
    Description description;
    bool linesApart = false;  // no two entries are one line or one tty
    LineSet pinLines;
    PinState pins;
    // The service follows the input pins' edges (the kernel's edge events on
    // the pins' requests); a chip that cannot is followed by the calls alone.
    bool followEdges = false;
    bool edgesRefused = false;
    LineSet ledLine;
    bool ledLineHeld = false;
    bool ledKnown = false;  // the LED was set by this engine, or read
    bool ledOn = false;     // what it was last set to
    std::array<LineSet, marlek_board::SERIAL_PAIR_COUNT> modeLines{};
    std::array<bool, marlek_board::SERIAL_PAIR_COUNT> modeLinesHeld{};
    std::array<marlek_board::SerialMode, marlek_board::SERIAL_PAIR_COUNT> modes{};  // as last switched
    // Each pair's ttys as last switched: their RS-485 mode on; unknown until then.
    std::array<std::array<TtyState, PAIR_PORTS>, marlek_board::SERIAL_PAIR_COUNT> ttys{};
    Problem scratch;
};

// Carries out a call for a run; 0, or the status of the failure recorded in
// failure (which is left alone on success). value is what an input call read.
LibStatus RunBoardCall(BoardEngine& engine, RunState& run, const BoardRequest& request, uint8_t& value,
                       marlek_board::ErrorRecord& failure);

// The description, read once and checked against the kernel once (no two of
// its entries may be one line or one tty) before its first line is used; a
// description that could not be read, or whose check failed, is tried again
// at the next call, so that the file can be mended meanwhile.
bool Described(BoardEngine& engine, Problem& problem);

// The engine's description taken from a description read elsewhere (the
// service reads it itself); its check against the kernel is still to come.
void TakeDescription(BoardEngine& engine, const Description& description);

// What the service keeps of the board and gives again after a restart.
// Requests the pins with the outputs of state (outputMask, pushPullMask,
// drivenLevels) for the pins in known, and the others as they are.
bool HoldPins(BoardEngine& engine, uint8_t known, const PinState& state, Problem& problem);
void ReleasePins(BoardEngine& engine);

// The LED's line to on or off, or a pair's mode lines to a mode's values,
// requesting them on their first use.
bool SetLedLine(BoardEngine& engine, bool on, Problem& problem);
bool SetModeLines(BoardEngine& engine, int pair, marlek_board::SerialMode mode, Problem& problem);
void ReleaseLedLine(BoardEngine& engine);
void ReleaseModeLines(BoardEngine& engine, int pair);

// Gives back every line; the engine is then as new.
void ReleaseBoard(BoardEngine& engine);

// The levels of the pins a read gives now; false when the pins are not held
// or cannot be read.
bool ReadPinLevels(const BoardEngine& engine, uint8_t& levels);

// The requests of the pins' lines, one a chip, whose edge events tell an
// input's change (the service follows them); how many.
int PinRequests(const BoardEngine& engine, int (&fds)[MAX_SET_LINES]);

}  // namespace marlek_linux

#endif  // MARLEK_LINUX_BOARD_ENGINE_H
