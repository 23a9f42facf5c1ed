/* The guest's helper, built static on the host, one program with these commands:
 *   led NAME MAX LOG   creates the uleds LED NAME and appends to LOG, one line
 *                      each, every brightness the kernel hands back; runs until
 *                      killed. LOG appears, empty, once the LED is there.
 *   info CHIP          prints the chip's label and line count, then one line a
 *                      line: "OFFSET NAME CONSUMER FLAGS" ("-" for none).
 *   as-user UID[,GID...] CMD...
 *                      runs CMD with user and group UID, in the groups GID
 *                      and no others.
 *   idle FD SECONDS    waits until the pipe FD is empty and a process that has
 *                      it as standard input is blocked reading it: exits 0
 *                      then, 1 if no process has it as standard input, 2 if
 *                      the time ran out.
 *   rs485 TTY          prints the tty's RS-485 settings as the kernel reads
 *                      them: "enabled 1 rts-on-send 1 delays 0 0".
 *   rs485-set TTY FLAGS BEFORE AFTER
 *                      sets them as another owner of the port would, and
 *                      prints the flags the kernel reads back: "flags 0x5".
 *   send SOCKET HEX SECONDS
 *                      connects to the Unix socket, sends the bytes HEX spells
 *                      ("4d42" is "MB"), and reads for at most SECONDS: prints
 *                      "closed after N bytes" when the other end closes, or
 *                      "open after N bytes" when the time runs out.
 *   hold SOCKET COUNT SECONDS
 *                      makes COUNT connections to the socket that send
 *                      nothing, prints how many were made, and holds them
 *                      SECONDS before it ends.
 *   time INPUT COMMAND...
 *                      runs COMMAND with INPUT as its standard input and its
 *                      output discarded, and prints the time it took from
 *                      start to end and the processor time of its process
 *                      (user and system) in microseconds, and its exit
 *                      status: "1234 567 0".
 *   pingpong ROUNDS    times ROUNDS round trips of 16 bytes between two
 *                      processes over a socket pair: "1234 us for 2000".
 *   watch-ports TTY... -- CMD...
 *                      holds each tty open with DTR and RTS cleared, runs CMD,
 *                      then prints for each tty whether its modem-control
 *                      lines (TIOCMGET) and RS-485 setting are as before:
 *                      "TTY: modem lines and RS-485 unchanged", or what
 *                      changed. Any opening of a tty by CMD raises DTR and
 *                      RTS; any write of its RS-485 setting may change it.
 *                      Exits with CMD's status.
 *   forward LISTEN TARGET
 *                      makes the Unix socket LISTEN and carries each
 *                      connection to it over to the socket TARGET, both ways,
 *                      as ssh -L does; prints "forwarding" once it listens,
 *                      and runs until killed.
 *   wait-line FILE TEXT SECONDS
 *                      waits until FILE has a line holding TEXT, looking every
 *                      millisecond, and prints how long that took in ms, or
 *                      "none" when SECONDS have passed. */
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <linux/gpio.h>
#include <linux/serial.h>
#include <linux/uleds.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <poll.h>
#include <termios.h>
#include <signal.h>
#include <unistd.h>

static int die(const char *what) {
    fprintf(stderr, "guest-tool: %s: %s\n", what, strerror(errno));
    return 2;
}

static int led(const char *name, int max, const char *log) {
    struct uleds_user_dev dev = {.max_brightness = max};
    strncpy(dev.name, name, sizeof dev.name - 1);
    int fd = open("/dev/uleds", O_RDWR);
    if (fd < 0) return die("/dev/uleds");
    if (write(fd, &dev, sizeof dev) != sizeof dev) return die("creating the LED");
    /* Above the programs' priority: on the guest's one processor each change is
     * read before the writer goes on, since uleds keeps only the latest. */
    struct sched_param priority = {.sched_priority = 50};
    if (sched_setscheduler(0, SCHED_FIFO, &priority) < 0) return die("real-time priority");
    int brightness;
    /* The first read is the brightness at registration, not a write. */
    if (read(fd, &brightness, sizeof brightness) != sizeof brightness) return die("reading the LED");
    int out = open(log, O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
    if (out < 0) return die(log);
    while (read(fd, &brightness, sizeof brightness) == sizeof brightness) {
        char line[16];
        int n = snprintf(line, sizeof line, "%d\n", brightness);
        if (write(out, line, n) != n) return die(log);
    }
    return die("reading the LED");
}

static const struct {
    unsigned long long flag;
    const char *name;
} FLAGS[] = {
    {GPIO_V2_LINE_FLAG_USED, "used"},
    {GPIO_V2_LINE_FLAG_INPUT, "input"},
    {GPIO_V2_LINE_FLAG_OUTPUT, "output"},
    {GPIO_V2_LINE_FLAG_ACTIVE_LOW, "active-low"},
    {GPIO_V2_LINE_FLAG_OPEN_DRAIN, "open-drain"},
    {GPIO_V2_LINE_FLAG_OPEN_SOURCE, "open-source"},
    {GPIO_V2_LINE_FLAG_BIAS_PULL_UP, "pull-up"},
    {GPIO_V2_LINE_FLAG_BIAS_PULL_DOWN, "pull-down"},
    {GPIO_V2_LINE_FLAG_BIAS_DISABLED, "bias-disabled"},
    {GPIO_V2_LINE_FLAG_EDGE_RISING, "edge-rising"},
    {GPIO_V2_LINE_FLAG_EDGE_FALLING, "edge-falling"},
};

static int info(const char *chip) {
    int fd = open(chip, O_RDONLY);
    if (fd < 0) return die(chip);
    struct gpiochip_info chip_info;
    if (ioctl(fd, GPIO_GET_CHIPINFO_IOCTL, &chip_info) < 0) return die("chip info");
    printf("%s %u\n", chip_info.label, chip_info.lines);
    for (unsigned offset = 0; offset < chip_info.lines; offset++) {
        struct gpio_v2_line_info line = {.offset = offset};
        if (ioctl(fd, GPIO_V2_GET_LINEINFO_IOCTL, &line) < 0) return die("line info");
        printf("%u %s %s ", offset, line.name[0] ? line.name : "-", line.consumer[0] ? line.consumer : "-");
        const char *separator = "";
        for (size_t i = 0; i < sizeof FLAGS / sizeof FLAGS[0]; i++)
            if (line.flags & FLAGS[i].flag) {
                printf("%s%s", separator, FLAGS[i].name);
                separator = ",";
            }
        printf("%s\n", *separator ? "" : "-");
    }
    return 0;
}

static int as_user(const char *ids, char **command) {
    char *end;
    uid_t uid = (uid_t)strtoul(ids, &end, 10);
    gid_t groups[16];
    size_t count = 0;
    while (*end == ',' && count < sizeof groups / sizeof groups[0]) groups[count++] = (gid_t)strtoul(end + 1, &end, 10);
    if (*end) {
        fprintf(stderr, "guest-tool: as-user takes UID[,GID...], not %s\n", ids);
        return 2;
    }
    if (setgroups(count, groups) < 0 || setgid(uid) < 0 || setuid(uid) < 0) return die("dropping to the user");
    execvp(command[0], command);
    return die(command[0]);
}

/* Whether a process has the pipe as standard input, and is blocked reading it. */
/* poll and select, which arm64 has only as ppoll and pselect6. */
static int is_wait(long number) {
#ifdef SYS_poll
    if (number == SYS_poll || number == SYS_select) return 1;
#endif
    return number == SYS_ppoll || number == SYS_pselect6;
}

static int reader_state(const struct stat *pipe_stat, int *blocked) {
    DIR *proc = opendir("/proc");
    if (!proc) return 0;
    int readers = 0;
    *blocked = 0;
    for (struct dirent *entry; (entry = readdir(proc));) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9' || atoi(entry->d_name) == getpid()) continue;
        char path[300];
        struct stat input;
        snprintf(path, sizeof path, "/proc/%s/fd/0", entry->d_name);
        if (stat(path, &input) < 0 || input.st_ino != pipe_stat->st_ino || input.st_dev != pipe_stat->st_dev)
            continue;
        readers++;
        snprintf(path, sizeof path, "/proc/%s/syscall", entry->d_name);
        FILE *file = fopen(path, "r");
        long number, fd;
        /* "running" for a process that is not blocked in a system call; a
         * blocked poll or select is taken as waiting for standard input too
         * (the shell's read does that), whatever descriptors it names. */
        if (file && fscanf(file, "%ld 0x%lx", &number, &fd) == 2 &&
            (((number == SYS_read || number == SYS_readv) && fd == 0) || is_wait(number)))
            *blocked = 1;
        if (file) fclose(file);
    }
    closedir(proc);
    return readers;
}

static int idle(int fd, int seconds) {
    struct stat pipe_stat;
    if (fstat(fd, &pipe_stat) < 0) return die("the pipe");
    for (int waited = 0; waited < seconds * 100; waited++) {
        int unread = 0, blocked;
        if (ioctl(fd, FIONREAD, &unread) < 0) return die("the pipe");
        if (!reader_state(&pipe_stat, &blocked)) return 1;
        if (!unread && blocked) return 0;
        nanosleep(&(struct timespec){.tv_nsec = 10000000}, NULL);
    }
    return 2;
}

static int rs485_set(const char *tty, const char *flags, const char *before, const char *after) {
    int fd = open(tty, O_RDWR | O_NOCTTY | O_NONBLOCK);
    struct serial_rs485 settings;
    if (fd < 0) return die(tty);
    memset(&settings, 0, sizeof settings);
    settings.flags = (unsigned)strtoul(flags, NULL, 0);
    settings.delay_rts_before_send = (unsigned)strtoul(before, NULL, 10);
    settings.delay_rts_after_send = (unsigned)strtoul(after, NULL, 10);
    if (ioctl(fd, TIOCSRS485, &settings) != 0 || ioctl(fd, TIOCGRS485, &settings) != 0) return die("TIOCSRS485");
    printf("flags 0x%x\n", settings.flags);
    close(fd);
    return 0;
}

static int rs485(const char *tty) {
    int fd = open(tty, O_RDWR | O_NOCTTY | O_NONBLOCK);
    struct serial_rs485 settings;
    if (fd < 0) return die(tty);
    memset(&settings, 0, sizeof settings);
    if (ioctl(fd, TIOCGRS485, &settings) != 0) return die("TIOCGRS485");
    printf("enabled %u rts-on-send %u delays %u %u\n", settings.flags & SER_RS485_ENABLED ? 1u : 0u,
           settings.flags & SER_RS485_RTS_ON_SEND ? 1u : 0u, settings.delay_rts_before_send,
           settings.delay_rts_after_send);
    close(fd);
    return 0;
}

static int connect_to(const char *path) {
    struct sockaddr_un address = {.sun_family = AF_UNIX};
    strncpy(address.sun_path, path, sizeof address.sun_path - 1);
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0 || connect(fd, (struct sockaddr *)&address, sizeof address) != 0) return -1;
    return fd;
}

static int send_bytes(const char *path, const char *hex, int seconds) {
    int fd = connect_to(path);
    if (fd < 0) return die(path);
    unsigned char bytes[4096];
    size_t count = 0;
    for (; hex[0] && hex[1] && count < sizeof bytes; hex += 2) {
        char pair[3] = {hex[0], hex[1], 0};
        bytes[count++] = (unsigned char)strtoul(pair, NULL, 16);
    }
    if (count && send(fd, bytes, count, MSG_NOSIGNAL) != (ssize_t)count) return die("sending");
    size_t got = 0;
    struct timespec start, now;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        clock_gettime(CLOCK_MONOTONIC, &now);
        long left = seconds * 1000L - ((now.tv_sec - start.tv_sec) * 1000L + (now.tv_nsec - start.tv_nsec) / 1000000L);
        struct pollfd one = {.fd = fd, .events = POLLIN};
        if (left <= 0 || poll(&one, 1, (int)left) == 0) {
            printf("open after %zu bytes\n", got);
            return 0;
        }
        char buffer[4096];
        ssize_t read_now = recv(fd, buffer, sizeof buffer, 0);
        if (read_now <= 0) {
            printf("closed after %zu bytes\n", got);
            return 0;
        }
        got += (size_t)read_now;
    }
}

static int hold(const char *path, int count, int seconds) {
    int made = 0;
    for (int i = 0; i < count; i++) made += connect_to(path) >= 0;
    printf("%d connections\n", made);
    fflush(stdout);
    sleep((unsigned)seconds);
    return 0;
}

static int time_run(const char *input, char **command) {
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t child = fork();
    if (child < 0) return die("fork");
    if (child == 0) {
        int in = open(input, O_RDONLY), out = open("/dev/null", O_WRONLY);
        if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0) _exit(126);
        execvp(command[0], command);
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    if (wait4(child, &status, 0, &usage) < 0) return die("wait4");
    clock_gettime(CLOCK_MONOTONIC, &end);
    long long micros = (end.tv_sec - start.tv_sec) * 1000000LL + (end.tv_nsec - start.tv_nsec) / 1000;
    long long cpu = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000LL + usage.ru_utime.tv_usec +
                    usage.ru_stime.tv_usec;
    printf("%lld %lld %d\n", micros, cpu, WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    return 0;
}

static int pingpong(int rounds) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) < 0) return die("socketpair");
    char buffer[64] = {0};
    if (fork() == 0) {
        for (int i = 0; i < rounds; i++) {
            if (recv(pair[1], buffer, 16, 0) <= 0) _exit(1);
            send(pair[1], buffer, 16, 0);
        }
        _exit(0);
    }
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (int i = 0; i < rounds; i++) {
        send(pair[0], buffer, 16, 0);
        recv(pair[0], buffer, 16, 0);
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    printf("%lld us for %d\n", (end.tv_sec - start.tv_sec) * 1000000LL + (end.tv_nsec - start.tv_nsec) / 1000, rounds);
    return 0;
}

struct port_state {
    int lines;
    struct serial_rs485 rs485;
};

static int read_state(int fd, struct port_state *state) {
    memset(state, 0, sizeof *state);
    if (ioctl(fd, TIOCMGET, &state->lines) != 0) return -1;
    ioctl(fd, TIOCGRS485, &state->rs485); /* a tty without it reads as zeros */
    return 0;
}

static int watch_ports(char **argv) {
    struct {
        const char *tty;
        int fd, raised;
        struct port_state before;
    } ports[8];
    int count = 0;
    for (; *argv && strcmp(*argv, "--") != 0; argv++) {
        if (count == 8) return die("more than 8 ttys");
        ports[count].tty = *argv;
        int fd = ports[count].fd = open(*argv, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        int lines = 0, bits = TIOCM_DTR | TIOCM_RTS;
        if (fd < 0) return die(*argv);
        if (ioctl(fd, TIOCMGET, &lines) != 0 || ioctl(fd, TIOCMBIC, &bits) != 0) return die("TIOCMBIC");
        ports[count].raised = lines & bits;
        if (read_state(fd, &ports[count].before) != 0) return die("TIOCMGET");
        count++;
    }
    if (!*argv || !argv[1]) {
        fprintf(stderr, "guest-tool: watch-ports TTY... -- COMMAND...\n");
        return 2;
    }
    fflush(stdout);
    pid_t child = fork();
    if (child < 0) return die("fork");
    if (child == 0) {
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    int status = 0;
    if (waitpid(child, &status, 0) < 0) return die("waitpid");
    for (int i = 0; i < count; i++) {
        struct port_state after, *before = &ports[i].before;
        if (read_state(ports[i].fd, &after) != 0) return die("TIOCMGET");
        int lines_same = after.lines == before->lines;
        int rs485_same = after.rs485.flags == before->rs485.flags &&
                         after.rs485.delay_rts_before_send == before->rs485.delay_rts_before_send &&
                         after.rs485.delay_rts_after_send == before->rs485.delay_rts_after_send;
        printf("%s:", ports[i].tty);
        if (lines_same && rs485_same) printf(" modem lines and RS-485 unchanged");
        if (!lines_same) printf(" modem lines 0x%03x became 0x%03x", before->lines, after.lines);
        if (!rs485_same)
            printf(" RS-485 flags 0x%x delays %u %u became flags 0x%x delays %u %u", before->rs485.flags,
                   before->rs485.delay_rts_before_send, before->rs485.delay_rts_after_send, after.rs485.flags,
                   after.rs485.delay_rts_before_send, after.rs485.delay_rts_after_send);
        printf("\n");
        ioctl(ports[i].fd, TIOCMBIS, &ports[i].raised);
        close(ports[i].fd);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

static void carry(int from, int to) {
    char buffer[4096];
    ssize_t got;
    while ((got = read(from, buffer, sizeof buffer)) > 0) {
        for (ssize_t sent = 0; sent < got;) {
            ssize_t wrote = write(to, buffer + sent, (size_t)(got - sent));
            if (wrote <= 0) return;
            sent += wrote;
        }
    }
    shutdown(to, SHUT_WR);
}

static int forward(const char *listen_path, const char *target) {
    struct sockaddr_un address = {.sun_family = AF_UNIX};
    strncpy(address.sun_path, listen_path, sizeof address.sun_path - 1);
    int server = socket(AF_UNIX, SOCK_STREAM, 0);
    unlink(listen_path);
    if (server < 0 || bind(server, (struct sockaddr *)&address, sizeof address) != 0 || listen(server, 64) != 0)
        return die(listen_path);
    chmod(listen_path, 0666);
    printf("forwarding\n");
    fflush(stdout);
    signal(SIGCHLD, SIG_IGN);
    for (;;) {
        int client = accept(server, NULL, NULL);
        if (client < 0) continue;
        if (fork() == 0) {
            int far = connect_to(target);
            if (far < 0) _exit(1);
            if (fork() == 0) {
                carry(client, far);
                _exit(0);
            }
            carry(far, client);
            _exit(0);
        }
        close(client);
    }
}

static int wait_line(const char *file, const char *text, int seconds) {
    struct timespec start, now;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        FILE *in = fopen(file, "r");
        char line[4096];
        while (in && fgets(line, sizeof line, in)) {
            if (strstr(line, text)) {
                clock_gettime(CLOCK_MONOTONIC, &now);
                printf("%ld\n", (now.tv_sec - start.tv_sec) * 1000L + (now.tv_nsec - start.tv_nsec) / 1000000L);
                fclose(in);
                return 0;
            }
        }
        if (in) fclose(in);
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec - start.tv_sec >= seconds) {
            printf("none\n");
            return 1;
        }
        nanosleep(&(struct timespec){.tv_nsec = 1000000}, NULL);
    }
}

int main(int argc, char **argv) {
    if (argc == 5 && !strcmp(argv[1], "led")) return led(argv[2], atoi(argv[3]), argv[4]);
    if (argc == 3 && !strcmp(argv[1], "info")) return info(argv[2]);
    if (argc >= 4 && !strcmp(argv[1], "as-user")) return as_user(argv[2], argv + 3);
    if (argc == 4 && !strcmp(argv[1], "idle")) return idle(atoi(argv[2]), atoi(argv[3]));
    if (argc == 3 && !strcmp(argv[1], "rs485")) return rs485(argv[2]);
    if (argc == 6 && !strcmp(argv[1], "rs485-set")) return rs485_set(argv[2], argv[3], argv[4], argv[5]);
    if (argc == 5 && !strcmp(argv[1], "send")) return send_bytes(argv[2], argv[3], atoi(argv[4]));
    if (argc == 5 && !strcmp(argv[1], "hold")) return hold(argv[2], atoi(argv[3]), atoi(argv[4]));
    if (argc >= 4 && !strcmp(argv[1], "time")) return time_run(argv[2], argv + 3);
    if (argc == 3 && !strcmp(argv[1], "pingpong")) return pingpong(atoi(argv[2]));
    if (argc >= 5 && !strcmp(argv[1], "watch-ports")) return watch_ports(argv + 2);
    if (argc == 4 && !strcmp(argv[1], "forward")) return forward(argv[2], argv[3]);
    if (argc == 5 && !strcmp(argv[1], "wait-line")) return wait_line(argv[2], argv[3], atoi(argv[4]));
    fprintf(stderr, "usage: guest-tool led NAME MAX LOG | info CHIP | as-user UID[,GID...] COMMAND... | idle FD SECONDS"
                    " | rs485 TTY | rs485-set TTY FLAGS BEFORE AFTER | send SOCKET HEX SECONDS"
                    " | hold SOCKET COUNT SECONDS | time INPUT COMMAND... | pingpong ROUNDS"
                    " | watch-ports TTY... -- COMMAND... | forward LISTEN TARGET | wait-line FILE TEXT SECONDS\n");
    return 2;
}
