/* What the plain-C dialogues of bench/run-bench share: line input, the report
 * of a failed library call, the wait for a key, the menus. */
#ifndef BASELINE_H
#define BASELINE_H

#include <stdio.h>

#include "marlek_lib.h"

/* Reads a line of at most 19 characters; 0 at end of input. */
static inline int read_line(char *target) {
    fflush(stdout);
    return fgets(target, 20, stdin) != NULL;
}

static inline void report(const char *prefix) {
    LastErrorInfo info = {0, NULL};
    const char *text;
    KVTGetLastError(&info);
    text = kvtGetErrorString(info.code);
    printf("%s%s %s\n", prefix, text ? text : "", info.text ? info.text : "");
}

static inline void wait_key(const char *message) {
    printf("%s", message);
    fflush(stdout);
    getchar();
}

/* Reads a menu choice: its number (0 without one), 113 for a line beginning
 * with q; -1 at end of input. */
static inline int read_choice(char *target) {
    int choice = 0;
    if (!read_line(target)) return -1;
    sscanf(target, "%d", &choice);
    return target[0] == 'q' ? 113 : choice;
}

/* Prints the prompt and reads the first COM port number, left as it was
 * without one; 0 at end of input. */
static inline int read_first_port(char *target, const char *prompt, int *port) {
    printf("%s", prompt);
    if (!read_line(target)) return 0;
    sscanf(target, "%d", port);
    return 1;
}

/* Prints the menu of a program that addresses the board through a COM port
 * and reads the choice as read_choice does. */
static inline int com_menu_choice(char *target, const char *title, const char *const *items, int count) {
    int item;
    printf("%s", title);
    printf("########################################################\n");
    for (item = 0; item < count; ++item) printf("%s", items[item]);
    printf("q. Quit Program \n");
    printf("########################################################\n");
    printf("\nYour Option :");
    return read_choice(target);
}

/* Opens the digital I/O and prints the banner and the title; 0 when it
 * cannot be opened. */
static inline int dio_open(const char *title) {
    if (Marlek_DIOInit() != 0) {
        report("Marlek_DIOInit: ");
        Marlek_DIOFree();
        printf("\nMarlek DIO Test V1.0 completed : FAILED\n");
        return 0;
    }
    printf("\nMarlek DIO FUNCTIONS DEMO\n");
    printf("%s", title);
    return 1;
}

/* Closes the digital I/O; the exit status of the program. */
static inline int dio_close(void) {
    if (Marlek_DIOFree() != 0) {
        report("Marlek_DIOFree error : ");
        wait_key("\nPress enter to quit\n");
        return 1;
    }
    printf("\nMARLEKDIOFUNCTION completed.\n");
    return 0;
}

#endif
