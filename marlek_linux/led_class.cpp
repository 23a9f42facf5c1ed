#include "led_class.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "descriptors.h"
#include "devices.h"
#include "terminal_text.h"

namespace marlek_linux {

using marlek_board::CloseDescriptor;
using marlek_board::OpenDescriptor;

namespace {

void AttributePath(const char* name, const char* attribute, char (&path)[LED_NAME_SIZE + 64]) {
    std::snprintf(path, sizeof path, "%s/%s/%s", LED_CLASS_FOLDER, name, attribute);
}

bool HasLedClass() {
    struct stat status {};
    return stat(LED_CLASS_FOLDER, &status) == 0 && S_ISDIR(status.st_mode);
}

bool MissingProblem(const char* name, const char* where, Problem& problem) {
    if (!HasLedClass()) {
        return Fail(problem, ERROR_LED_FAILED,
                    "%s: this system has no LED class (no %s): its kernel has no LED support, or sysfs is not "
                    "mounted; describe the LED as a GPIO line ('led line CHIP LINE'), or leave it out",
                    where, LED_CLASS_FOLDER);
    }
    return Fail(problem, ERROR_LED_FAILED, "%s: no LED \"%s\" in %s; correct the name (marlek-board --list lists them)",
                where, marlek_board::QuotedWord(name, LED_NAME_SIZE).text, LED_CLASS_FOLDER);
}

}  // namespace

bool ReadLed(const char* name, const char* where, unsigned long& brightness, unsigned long& maximum,
             Problem& problem) {
    char path[LED_NAME_SIZE + 64];
    int error = 0;
    AttributePath(name, "max_brightness", path);
    if (!ReadSysfsNumber(path, maximum, error)) {
        if (error == ENOENT) return MissingProblem(name, where, problem);
        return Fail(problem, ERROR_LED_FAILED, "%s: cannot read %s: %s", where, path, std::strerror(error));
    }
    if (maximum == 0) maximum = 1;
    AttributePath(name, "brightness", path);
    if (!ReadSysfsNumber(path, brightness, error)) {
        return Fail(problem, ERROR_LED_FAILED, "%s: cannot read %s: %s", where, path, std::strerror(error));
    }
    return true;
}

bool WriteLed(const char* name, const char* where, bool on, Problem& problem) {
    unsigned long brightness = 0;
    unsigned long maximum = 1;
    if (!ReadLed(name, where, brightness, maximum, problem)) return false;
    char path[LED_NAME_SIZE + 64];
    AttributePath(name, "brightness", path);
    int fd = OpenDescriptor(path, O_WRONLY | O_NONBLOCK);
    if (fd < 0) {
        if (errno == EACCES || errno == EPERM) return LedWritable(name, problem);
        return Fail(problem, ERROR_LED_FAILED, "cannot open %s: %s", path, std::strerror(errno));
    }
    char value[32];
    const int length = std::snprintf(value, sizeof value, "%lu\n", on ? maximum : 0ul);
    ssize_t wrote = -1;
    do {
        wrote = write(fd, value, static_cast<size_t>(length));
    } while (wrote < 0 && errno == EINTR);
    const int error = errno;
    CloseDescriptor(fd);
    if (wrote != length) {
        return Fail(problem, ERROR_LED_FAILED, "cannot write %s: %s", path,
                    wrote < 0 ? std::strerror(error) : "short write");
    }
    return true;
}

bool LedWritable(const char* name, Problem& problem) {
    char path[LED_NAME_SIZE + 64];
    AttributePath(name, "brightness", path);
    if (access(path, W_OK) == 0) return true;
    if (errno == EACCES || errno == EPERM) {
        return Fail(problem, ERROR_PERMISSION,
                    "cannot write %s: Permission denied; give the user write access to it (a udev rule can), or "
                    "run as root",
                    path);
    }
    return Fail(problem, ERROR_LED_FAILED, "cannot write %s: %s", path, std::strerror(errno));
}

int CompareNames(const void* a, const void* b) {
    return std::strcmp(static_cast<const char*>(a), static_cast<const char*>(b));
}

int ListLeds(char (&names)[MAX_LEDS][LED_NAME_SIZE]) {
    DIR* folder = marlek_board::OpenFolder(LED_CLASS_FOLDER);
    if (folder == nullptr) return HasLedClass() ? 0 : -1;
    int count = 0;
    while (const dirent* entry = readdir(folder)) {
        if (entry->d_name[0] == '.' || std::strlen(entry->d_name) >= LED_NAME_SIZE || count == MAX_LEDS) continue;
        std::memcpy(names[count], entry->d_name, std::strlen(entry->d_name) + 1);
        ++count;
    }
    closedir(folder);
    std::qsort(names, static_cast<size_t>(count), sizeof names[0], CompareNames);
    return count;
}

}  // namespace marlek_linux
