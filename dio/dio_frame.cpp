#include "dio_frame.h"

#include <cstdio>
#include <optional>

#include "marlek_lib.h"

namespace {

LineBuffer answerLine{};

void PrintMenu(const DioMenu& menu) {
    PrintMenuRule();
    for (const char* item : menu.items) Print(item);
    Print("q) Quit Program \n");
    PrintMenuRule();
}

// Runs the menu until the quit choice or the end of input.
void RunMenuLoop(const DioMenu& menu) {
    LineBuffer choiceLine{};
    for (;;) {
        PrintMenu(menu);
        const std::optional<int32_t> choice = ReadChoice(choiceLine);
        if (!choice || *choice == QUIT_CHOICE) return;
        if (*choice >= 1 && *choice <= DIO_MENU_ITEMS) {
            const MenuOperation operation = menu.operations[static_cast<size_t>(*choice - 1)];
            if (operation() == OperationEnd::EndOfInput) return;
        } else {
            PrintInvalidOption();
        }
    }
}

int CloseDio() {
    if (Marlek_DIOFree() != 0) {
        ReportLibraryError(LibOperation::DIOFree);
        WaitForAcknowledgement("\nPress enter to quit\n");
        return EXIT_DIO_FAILED;
    }
    Print("\nMARLEKDIOFUNCTION completed.\n");
    return 0;
}

}  // namespace

int RunDioProgram(const DioMenu& menu) {
    if (Marlek_DIOInit() != 0) {
        ReportLibraryError(LibOperation::DIOInit);
        (void)Marlek_DIOFree();
        Print("\nMarlek DIO Test V1.0 completed : FAILED\n");
        return EXIT_DIO_FAILED;
    }
    Print("\nMarlek DIO FUNCTIONS DEMO\n");
    Print(menu.title);
    RunMenuLoop(menu);
    return CloseDio();
}

bool ReadAnswer() { return ReadLine(answerLine); }

const LineBuffer& AnswerLine() { return answerLine; }

bool ReadAnswerNumber(int32_t& target) { return ReadNumber(answerLine, target); }

bool AskForPin(const char* prompt, int32_t& pin, OperationEnd& end) {
    Print(prompt);
    if (!ReadAnswerNumber(pin)) {
        end = OperationEnd::EndOfInput;
        return false;
    }
    if (!IsGpioPin(pin)) {
        PrintPinRefused();
        end = OperationEnd::MenuAgain;
        return false;
    }
    return true;
}

void ReportAndWait(LibOperation failed) {
    ReportLibraryError(failed);
    WaitForAcknowledgement(PRESS_ENTER_TO_QUIT);
}
