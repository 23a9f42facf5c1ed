/* Runs a program TIMES times, each with standard input from a file and standard
 * output to /dev/null, and prints the CPU seconds (user and system) of all the
 * runs together and the peak resident memory of any, in KiB. A small launcher,
 * so that the peak measured is the program's own rather than inherited from a
 * larger parent across fork and exec.
 *
 *   measure-run TIMES INPUT PROGRAM */
#define _DEFAULT_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char **argv) {
    long times, run;
    double seconds = 0.0;
    long peak = 0;
    if (argc != 4 || (times = strtol(argv[1], NULL, 10)) < 1) {
        fprintf(stderr, "usage: measure-run TIMES INPUT PROGRAM\n");
        return 2;
    }
    for (run = 0; run < times; ++run) {
        struct rusage usage;
        int status = 0;
        const pid_t child = fork();
        if (child < 0) return 2;
        if (child == 0) {
            const int input = open(argv[2], O_RDONLY);
            const int output = open("/dev/null", O_WRONLY);
            if (input < 0 || output < 0 || dup2(input, 0) < 0 || dup2(output, 1) < 0) _exit(127);
            execl(argv[3], argv[3], (char *)NULL);
            _exit(127);
        }
        if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            fprintf(stderr, "measure-run: %s failed\n", argv[3]);
            return 1;
        }
        seconds += (double)usage.ru_utime.tv_sec + (double)usage.ru_utime.tv_usec / 1e6 +
                   (double)usage.ru_stime.tv_sec + (double)usage.ru_stime.tv_usec / 1e6;
        if (usage.ru_maxrss > peak) peak = usage.ru_maxrss;
    }
    printf("%.6f %ld\n", seconds, peak);
    return 0;
}
