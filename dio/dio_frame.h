// The digital I/O frame shared by pinio and pindrive: open the digital I/O, run
// the program's menu until the quit choice, close the digital I/O.
#ifndef DIO_FRAME_H
#define DIO_FRAME_H

#include <array>
#include <cstdint>

#include "console.h"

inline constexpr int DIO_MENU_ITEMS = 4;
inline constexpr int EXIT_DIO_FAILED = 1;

// What a program hands to the frame: its title line, the item lines of choices
// 1 to 4, and the operation of each choice.
struct DioMenu {
    const char* title;
    std::array<const char*, DIO_MENU_ITEMS> items;
    std::array<MenuOperation, DIO_MENU_ITEMS> operations;
};

// The whole life of the program; returns its exit status: 0 after a normal
// quit, EXIT_DIO_FAILED when the digital I/O could not be opened or closed.
int RunDioProgram(const DioMenu& menu);

// The answer line: every answer to a prompt after a menu choice is read into it,
// never into the choice line. Returns false at end of input.
bool ReadAnswer();
const LineBuffer& AnswerLine();

// ReadAnswer, then the number it holds into target (unchanged when it holds
// none). Returns false at end of input.
bool ReadAnswerNumber(int32_t& target);

// Prints the prompt, reads the pin number into pin (unchanged when the answer
// holds none) and checks it. Returns true for a valid pin; otherwise a refused
// number has had the refusal line, and end says how the operation ends.
bool AskForPin(const char* prompt, int32_t& pin, OperationEnd& end);

// Prints the report of the failed operation and waits for the acknowledgement.
void ReportAndWait(LibOperation failed);

#endif  // DIO_FRAME_H
