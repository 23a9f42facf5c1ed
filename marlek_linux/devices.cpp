#include "devices.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "board_description.h"
#include "descriptors.h"

namespace marlek_linux {

namespace {

constexpr const char* SUBSYSTEMS[] = {"gpio", "tty"};

// The subsystem of a character device, as the last part of the link
// /sys/dev/char/M:N/subsystem; false when sysfs does not know the device.
bool Subsystem(dev_t device, char* out, size_t size) {
    char link[64];
    std::snprintf(link, sizeof link, "/sys/dev/char/%u:%u/subsystem", major(device), minor(device));
    char target[256];
    const ssize_t length = readlink(link, target, sizeof target - 1);
    if (length <= 0) return false;
    target[length] = '\0';
    const char* name = std::strrchr(target, '/');
    std::snprintf(out, size, "%.63s", name != nullptr ? name + 1 : target);
    return true;
}

}  // namespace

const char* DeviceKindName(DeviceKind kind) { return kind == DeviceKind::GpioChip ? "a GPIO chip" : "a tty"; }

bool CheckDevice(const char* path, DeviceKind kind, DeviceCheck& check) {
    check = DeviceCheck{};
    struct stat status {};
    if (stat(path, &status) != 0) {
        check.error = errno;
        return false;
    }
    if (!S_ISCHR(status.st_mode)) {
        std::snprintf(check.what, sizeof check.what, "%s", FileKind(status.st_mode));
        return false;
    }
    char subsystem[64];
    if (!Subsystem(status.st_rdev, subsystem, sizeof subsystem)) {
        std::snprintf(check.what, sizeof check.what, "a character device (%u:%u) that sysfs does not know",
                      major(status.st_rdev), minor(status.st_rdev));
        return false;
    }
    if (std::strcmp(subsystem, SUBSYSTEMS[static_cast<int>(kind)]) != 0) {
        std::snprintf(check.what, sizeof check.what, "a character device (%u:%u, %.40s)", major(status.st_rdev),
                      minor(status.st_rdev), subsystem);
        return false;
    }
    check.device = status.st_rdev;
    return true;
}

int OpenCheckedDevice(const char* path, const DeviceCheck& check, int flags) {
    const int fd = marlek_board::OpenDescriptor(path, flags);
    if (fd < 0) return -1;
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode) || status.st_rdev != check.device) {
        close(fd);
        errno = ENODEV;
        return -1;
    }
    return fd;
}

bool ReadSysfsNumber(const char* path, unsigned long& value, int& error) {
    const int fd = marlek_board::OpenDescriptor(path, O_RDONLY | O_NONBLOCK);
    if (fd < 0) {
        error = errno;
        return false;
    }
    char text[32] = "";
    ssize_t got = -1;
    do {
        got = read(fd, text, sizeof text - 1);
    } while (got < 0 && errno == EINTR);
    error = errno;
    close(fd);
    if (got <= 0) return false;
    text[got] = '\0';
    value = std::strtoul(text, nullptr, 10);
    return true;
}

}  // namespace marlek_linux
