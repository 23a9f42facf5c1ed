/* Preloaded into a program in the guest (LD_PRELOAD), it makes the kernel
 * answer the board library as a case needs, chosen by MARLEK_SHIM:
 *   old-kernel  the GPIO character device refuses its v2 requests as unknown
 *               (EINVAL), as a kernel before Linux 5.10 does;
 *   take-lines  just before each line request another consumer, "intruder",
 *               takes the same lines, as if between the library's look at
 *               them and its request;
 *   low-fds     each directory stream opened on a descriptor below 3 is
 *               written to /tmp/case/low-fds, one line each;
 *   swap-chip   an opening of /dev/gpiochip0 opens /dev/gpiochip1, as if
 *               the device were replaced between a look at it and its opening;
 *   lineinfo-fails  the information of line 1 of every chip cannot be read
 *               (EIO). */
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <linux/gpio.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <fcntl.h>
#include <sys/ioctl.h>

static int mode_is(const char *mode) {
    const char *chosen = getenv("MARLEK_SHIM");
    return chosen != NULL && strcmp(chosen, mode) == 0;
}

int ioctl(int fd, unsigned long request, ...) {
    static int (*real)(int, unsigned long, ...);
    va_list args;
    va_start(args, request);
    void *argument = va_arg(args, void *);
    va_end(args);
    if (real == NULL) real = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    if (mode_is("old-kernel") && (request == GPIO_V2_GET_LINEINFO_IOCTL || request == GPIO_V2_GET_LINE_IOCTL ||
                                  request == GPIO_V2_GET_LINEINFO_WATCH_IOCTL)) {
        errno = EINVAL;
        return -1;
    }
    if (mode_is("lineinfo-fails") && request == GPIO_V2_GET_LINEINFO_IOCTL &&
        ((const struct gpio_v2_line_info *)argument)->offset == 1) {
        errno = EIO;
        return -1;
    }
    if (mode_is("take-lines") && request == GPIO_V2_GET_LINE_IOCTL) {
        struct gpio_v2_line_request other = *(const struct gpio_v2_line_request *)argument;
        memset(&other.config, 0, sizeof other.config);
        other.config.flags = GPIO_V2_LINE_FLAG_INPUT;
        snprintf(other.consumer, sizeof other.consumer, "intruder");
        real(fd, GPIO_V2_GET_LINE_IOCTL, &other); /* held until the program ends */
    }
    return real(fd, request, argument);
}

static void note_low(DIR *folder, const char *how) {
    if (folder == NULL || dirfd(folder) > 2 || !mode_is("low-fds")) return;
    FILE *log = fopen("/tmp/case/low-fds", "a");
    if (log == NULL) return;
    fprintf(log, "%s on descriptor %d\n", how, dirfd(folder));
    fclose(log);
}

DIR *opendir(const char *path) {
    static DIR *(*real)(const char *);
    if (real == NULL) real = (DIR * (*)(const char *)) dlsym(RTLD_NEXT, "opendir");
    DIR *folder = real(path);
    note_low(folder, "opendir");
    return folder;
}

DIR *fdopendir(int fd) {
    static DIR *(*real)(int);
    if (real == NULL) real = (DIR * (*)(int)) dlsym(RTLD_NEXT, "fdopendir");
    DIR *folder = real(fd);
    note_low(folder, "fdopendir");
    return folder;
}

int open(const char *path, int flags, ...) {
    static int (*real)(const char *, int, ...);
    int mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, int);
        va_end(args);
    }
    if (real == NULL) real = (int (*)(const char *, int, ...))dlsym(RTLD_NEXT, "open");
    if (mode_is("swap-chip") && strcmp(path, "/dev/gpiochip0") == 0) path = "/dev/gpiochip1";
    return real(path, flags, mode);
}
