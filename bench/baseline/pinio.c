/* pinio written as plain C, the yardstick of bench/run-bench: the same dialogue
 * for well-formed answers, with fgets, sscanf, printf and fflush. */
#include <stdint.h>
#include <stdio.h>

#include "baseline.h"

static char line[20];

static void report_and_wait(const char *prefix) {
    report(prefix);
    wait_key("Press enter to quit\n");
}

static void print_menu(void) {
    printf("########################################################\n");
    printf("1) Read Byte from  GPIO Pins\n");
    printf("2) Read bit from GPIO Pin\n");
    printf("3) Write Byte to GPIO Pins\n");
    printf("4) Write Bit to a GPIO Pin\n");
    printf("q) Quit Program \n");
    printf("########################################################\n");
}

static void read_byte(void) {
    uint8_t data = 0;
    int pin;
    if (Marlek_DIOInputByte(&data) != 0) {
        report_and_wait("Marlek_DIOInputByte error: ");
        return;
    }
    printf("--------------------------------------------------------------------\r\n");
    printf("GPIO:\t7\t6\t5\t4\t3\t2\t1\t0\r\n");
    printf("--------------------------------------------------------------------\r\n");
    printf("DATA:");
    for (pin = 7; pin >= 0; --pin) printf("\t%d", (data >> pin) & 1);
    printf("\n\n");
}

/* Returns 0 at end of input. */
static int read_pin(int *pin) {
    printf("Enter GPIO Number:(0-7):\n");
    if (!read_line(line)) return 0;
    sscanf(line, "%d", pin);
    return 1;
}

static int read_bit(void) {
    int pin = 0;
    uint8_t level = 0;
    if (!read_pin(&pin)) return 0;
    if (pin < 0 || pin > 7) {
        printf("\nEnter the proper GPIO Number:(0-7) \n");
        return 1;
    }
    if (Marlek_DIOInputBit(pin, &level) != 0) {
        report_and_wait("Marlek_DIOInputBit error: ");
        return 1;
    }
    printf("\nDATA: GPIO%d - %u\n\n", pin, (unsigned)level);
    return 1;
}

static int write_byte(void) {
    uint8_t value = 0;
    if (Marlek_DIOSetConfig(0xFF, 0x00) != 0) report_and_wait("Marlek_DIOSetConfig error: ");
    for (;;) {
        int number = -1;
        printf("Enter value 0-255 or q to quit:");
        if (!read_line(line)) return 0;
        sscanf(line, "%d", &number);
        if (line[0] == 'q') return 1;
        if (number >= 0) value = (uint8_t)(number % 256);
        if (Marlek_DIOOutputByte(value, 0xFF) != 0) {
            report_and_wait("Marlek_DIOOutputByte error: ");
            continue;
        }
        printf("The Byte value  %d is sent to GPIO Pins\n", value);
    }
}

static int write_bit(void) {
    int pin = 0, bit = 0;
    uint8_t mask;
    if (!read_pin(&pin)) return 0;
    if (pin < 0 || pin > 7) {
        printf("\nEnter the proper GPIO Number:(0-7) \n");
        return 1;
    }
    mask = (uint8_t)(1u << pin);
    if (Marlek_DIOSetConfig(mask, 0x00) != 0) report_and_wait("Marlek_DIOSetConfig error: ");
    printf("Enter Bit value:(0-1):");
    if (!read_line(line)) return 0;
    sscanf(line, "%d", &bit);
    if (bit != 0 && bit != 1) {
        printf("\nEnter the proper GPIO Value:(0-1) \n");
        return 1;
    }
    if (Marlek_DIOOutputBit(bit ? mask : 0, 0xFF) != 0) report_and_wait("Marlek_DIOOutputBit error: ");
    return 1;
}

int main(void) {
    if (!dio_open("\nDIO INPUT AND OUTPUT: Main Menu \n")) return 1;
    for (;;) {
        int choice, more = 1;
        print_menu();
        choice = read_choice(line);
        if (choice < 0 || choice == 113) break;
        switch (choice) {
            case 1: read_byte(); break;
            case 2: more = read_bit(); break;
            case 3: more = write_byte(); break;
            case 4: more = write_bit(); break;
            default: printf("Please Enter valid option \r\n");
        }
        if (!more) break;
    }
    return dio_close();
}
