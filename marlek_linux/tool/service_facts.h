// What marlek-board asks the board service: whether it runs, where, and the
// description it holds the board by.
#ifndef MARLEK_BOARD_TOOL_SERVICE_FACTS_H
#define MARLEK_BOARD_TOOL_SERVICE_FACTS_H

#include "board_description.h"
#include "problem.h"

namespace marlek_linux {

enum class ServiceState : uint8_t { Absent, Unreachable, Running };

struct ServiceFacts {
    ServiceState state = ServiceState::Absent;
    char socket[108] = "";
    Problem problem;                   // why it cannot be reached
    long pid = 0;
    long clients = 0;                  // its connections, this one included
    char description[PATH_TEXT_SIZE] = "";
    char readAt[32] = "";              // when it read the description it holds
    char descriptionProblem[PROBLEM_SIZE] = "";  // what is wrong with the file now
};

// Asks the service the library would use (MARLEK_BOARD_SERVICE, else
// /run/marlek-board/board.sock where it is); its asking makes the service
// take a changed description, as a program's start does.
void AskService(ServiceFacts& facts);

}  // namespace marlek_linux

#endif  // MARLEK_BOARD_TOOL_SERVICE_FACTS_H
