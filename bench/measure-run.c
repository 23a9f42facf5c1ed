/* Runs one or more commands TIMES times each, in turn (the first, the second,
 * ..., then the first again), each run with standard input from a file and
 * standard output to /dev/null. Prints for each command a line with the
 * processor seconds (user and system) of its runs together and the peak
 * resident memory of any of them, in KiB. Taking turns run by run, the
 * commands share whatever else the machine is doing. A small launcher, so that
 * the peak measured is the program's own rather than inherited from a larger
 * parent across fork and exec.
 *
 *   measure-run TIMES INPUT COMMAND [-- COMMAND]...
 *
 * A command is a program's path, with NAME=VALUE settings for its environment
 * before it. */
#define _DEFAULT_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

enum { MOST_COMMANDS = 8 };

struct command {
    char **words; /* NAME=VALUE..., then the program */
    int count;
    double seconds;
    long peak;
};

static void usage(void) { fprintf(stderr, "usage: measure-run TIMES INPUT [NAME=VALUE]... PROGRAM [-- ...]\n"); }

/* Splits the words after INPUT at each "--"; 0 when a command has no program
 * or there are too many. */
static int read_commands(int argc, char **argv, struct command *commands, int *count) {
    int at = 3;
    *count = 0;
    while (at < argc) {
        struct command *command;
        int end = at;
        if (*count == MOST_COMMANDS) return 0;
        while (end < argc && strcmp(argv[end], "--") != 0) ++end;
        if (end == at || strchr(argv[end - 1], '=') != NULL) return 0;
        command = &commands[(*count)++];
        command->words = &argv[at];
        command->count = end - at;
        command->seconds = 0.0;
        command->peak = 0;
        at = end + 1;
    }
    return *count > 0;
}

/* In the child: the settings, the redirections, then the program. */
static void start(const struct command *command, const char *input) {
    const char *program = command->words[command->count - 1];
    int word;
    int in, out;
    for (word = 0; word < command->count - 1; ++word) {
        if (putenv(command->words[word]) != 0) _exit(127);
    }
    in = open(input, O_RDONLY);
    out = open("/dev/null", O_WRONLY);
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0) _exit(127);
    execl(program, program, (char *)NULL);
    _exit(127);
}

static int run(struct command *command, const char *input) {
    struct rusage used;
    int status = 0;
    const pid_t child = fork();
    if (child < 0) {
        perror("measure-run: fork");
        return 0;
    }
    if (child == 0) start(command, input);
    if (wait4(child, &status, 0, &used) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "measure-run: %s failed (status %d)\n", command->words[command->count - 1], status);
        return 0;
    }
    command->seconds += (double)used.ru_utime.tv_sec + (double)used.ru_utime.tv_usec / 1e6 +
                        (double)used.ru_stime.tv_sec + (double)used.ru_stime.tv_usec / 1e6;
    if (used.ru_maxrss > command->peak) command->peak = used.ru_maxrss;
    return 1;
}

int main(int argc, char **argv) {
    struct command commands[MOST_COMMANDS];
    long times, round;
    int count, which;
    if (argc < 4 || (times = strtol(argv[1], NULL, 10)) < 1 || !read_commands(argc, argv, commands, &count)) {
        usage();
        return 2;
    }
    for (round = 0; round < times; ++round) {
        for (which = 0; which < count; ++which) {
            if (!run(&commands[which], argv[2])) return 1;
        }
    }
    for (which = 0; which < count; ++which) printf("%.6f %ld\n", commands[which].seconds, commands[which].peak);
    return 0;
}
