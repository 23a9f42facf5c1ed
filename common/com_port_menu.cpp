#include "com_port_menu.h"

#include <optional>

namespace {

void PrintMenu(const ComPortMenu& menu) {
    Print(menu.title);
    PrintMenuRule();
    for (const char* item : menu.items) Print(item);
    Print("q. Quit Program \n");
    PrintMenuRule();
    Print("\nYour Option :");
}

}  // namespace

std::optional<int32_t> AskFirstComPort(const char* prompt, LineBuffer& line) {
    int32_t firstPort = 0;
    Print(prompt);
    if (!ReadNumber(line, firstPort)) return std::nullopt;
    return firstPort;
}

void RunComPortMenu(const ComPortMenu& menu, LineBuffer& choiceLine) {
    do {
        PrintMenu(menu);
        DiscardTypedAhead();
        const std::optional<int32_t> choice = ReadChoice(choiceLine);
        if (!choice) return;
        if (*choice >= 1 && static_cast<size_t>(*choice) <= menu.operations.size()) {
            if (menu.operations[static_cast<size_t>(*choice - 1)]() == OperationEnd::EndOfInput) return;
        } else if (*choice != QUIT_CHOICE) {
            PrintInvalidOption();
        }
    } while (!BeginsWithQuit(choiceLine));
}
