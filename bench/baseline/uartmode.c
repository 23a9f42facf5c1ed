/* uartmode written as plain C, the yardstick of bench/run-bench: the same
 * dialogue for well-formed answers, with fgets, sscanf, printf and fflush. */
#include <stdint.h>
#include <stdio.h>

#include "baseline.h"

static char line[20];

static const uint8_t codes[2][3] = {{0x01, 0x00, 0x0C}, {0x03, 0x02, 0x22}};

/* Returns 0 at end of input. */
static int select_mode(int pair, int first) {
    char mode_line[20];
    int mode = -1;
    PortPair ports;
    for (;;) {
        printf("\nSelect below required mode:\n\n");
        printf("0 - RS232,");
        printf("  1 - RS485");
        printf("  and 2 - RS422  Default:RS232 Hit Enter\n");
        if (!read_line(mode_line)) return 0;
        if (mode_line[0] == '\n') mode = 0;
        sscanf(mode_line, "%d", &mode);
        if (mode >= 0 && mode <= 2) break;
        printf("\nWRONG INPUT !!! : Select Mode as per the options\n");
    }
    ports.first = first + 2 * pair;
    ports.second = first + 2 * pair + 1;
    if (MarlekSerialConfig(codes[pair][mode], &ports) == 0) {
        printf("\nPORTS %d & %d are changed to %d Mode\n\n", 2 * pair + 1, 2 * pair + 2, mode);
    } else {
        report("MarlekSerialConfig error: ");
        printf("\nPORTS %d & %d are not changed to %d Mode\nEnter to continue\n\n", 2 * pair + 1,
               2 * pair + 2, mode);
        wait_key("");
    }
    return 1;
}

int main(void) {
    static const char *const items[] = {"1. Select mode for UART 1 and UART 2\n",
                                        "2. Select mode for UART 3 and UART 4\n"};
    int first = 0;
    if (!read_first_port(line, "Enter first COM port number:\n", &first)) return 0;
    do {
        int more = 1;
        const int choice = com_menu_choice(line, "\n\tCOM PORTS SELECTION: Main Menu \n", items, 2);
        if (choice < 0) break;
        if (choice == 1 || choice == 2) {
            more = select_mode(choice - 1, first);
        } else if (choice != 113) {
            printf("Please Enter valid option \r\n");
        }
        if (!more) break;
    } while (line[0] != 'q');
    return 0;
}
