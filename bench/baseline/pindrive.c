/* pindrive written as plain C, the yardstick of bench/run-bench: the same
 * dialogue for well-formed answers, with fgets, sscanf, printf and fflush. */
#include <stdint.h>
#include <stdio.h>

#include "baseline.h"

static char line[20];

static int set_drive(uint8_t push_pull_mask) {
    if (Marlek_DIOSetConfig(0x00, push_pull_mask) == 0) return 1;
    report("Marlek_DIOSetConfig error: ");
    wait_key("Press enter to quit\n");
    return 0;
}

/* Returns 0 at end of input; *pin keeps its value when the answer has no number. */
static int read_pin(const char *prompt, int *pin) {
    printf("%s", prompt);
    if (!read_line(line)) return 0;
    sscanf(line, "%d", pin);
    return 1;
}

int main(void) {
    int push_pull_pin = -1, open_drain_pin = -1;
    if (!dio_open("\nDIO Pushpull or Opendrain: Main Menu \n")) return 1;
    for (;;) {
        int choice;
        printf("########################################################\n");
        printf("1) Push pull configuration for all GPIO Pins\n");
        printf("2) Opendrine configuration for all GPIO Pins\n");
        printf("3) Push pull configuration for GPIO Pin:(BitConfig)\n");
        printf("4) Opendrain configuration for all GPIO Pin:(BitConfig)\n");
        printf("q) Quit Program \n");
        printf("########################################################\n");
        choice = read_choice(line);
        if (choice < 0 || choice == 113) break;
        if (choice == 1) {
            if (set_drive(0xFF)) printf("\nGPIO:(0-7) Pins are configured as PushPull\n\n");
        } else if (choice == 2) {
            if (set_drive(0x00)) printf("\nGPIO:(0-7) Pins are configured as Opendrain\n\n");
        } else if (choice == 3) {
            if (!read_pin("Enter GPIO Number:(0-7):\n", &push_pull_pin)) break;
            if (push_pull_pin < 0 || push_pull_pin > 7) {
                printf("\nEnter the proper GPIO Number:(0-7) \n");
            } else if (set_drive((uint8_t)(1u << push_pull_pin))) {
                printf("\nGPIO:%d pin configured as PushPull\n\n", push_pull_pin);
            }
        } else if (choice == 4) {
            if (!read_pin("Enter GPIO Number:(0-7) \n", &open_drain_pin)) break;
            if (open_drain_pin < 0 || open_drain_pin > 7) {
                printf("\nEnter the proper GPIO Number:(0-7) \n");
            } else if (set_drive(0x00)) {
                printf("\nGPIO:%d pin is configured as Opendrain\n\n", open_drain_pin);
            }
        } else {
            printf("Please Enter valid option \r\n");
        }
    }
    return dio_close();
}
