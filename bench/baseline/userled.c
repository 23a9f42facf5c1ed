/* userled written as plain C, the yardstick of bench/run-bench: the same
 * dialogue for well-formed answers, with fgets, sscanf, printf and fflush. */
#include <stdint.h>
#include <stdio.h>

#include "baseline.h"

static char line[20];

int main(void) {
    static const char *const items[] = {"1. Select USER LED\n"};
    int port = 0, answer = 1;
    if (!read_first_port(line, "Enter the first COM Port number:\n", &port)) return 0;
    do {
        const int choice = com_menu_choice(line, "\n\t\tLED SELECTION: Main Menu \n", items, 1);
        if (choice < 0) break;
        if (choice == 1) {
            char led_line[20];
            uint8_t led;
            printf("Enter option: 1-LED OFF\t0-LED ON\n");
            if (!read_line(led_line)) break;
            sscanf(led_line, "%d", &answer);
            led = (uint8_t)(answer & 0xFF);
            if (MarlekLedConfig(7, &led, port) == 0) {
                printf("\nACCESSED USER LED\n\n");
            } else {
                report("MarlekLedConfig error: ");
                wait_key("\nACEESSING USER LED: FAILED ***\nEnter to continue\n\n");
            }
        } else if (choice != 113) {
            printf("Please Enter valid option \r\n");
        }
    } while (line[0] != 'q');
    return 0;
}
