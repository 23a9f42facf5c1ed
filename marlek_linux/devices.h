// Devices the description names, opened only once they are known to be what
// the description says: a path is looked up first, and only a character
// device that the kernel files under the wanted subsystem (/sys/dev/char/M:N/
// subsystem: "gpio" for a GPIO chip, "tty" for a serial port) is opened, and
// then found to be the same device through its descriptor. A watchdog, a
// disk or a plain file named by mistake is never opened.
#ifndef MARLEK_LINUX_DEVICES_H
#define MARLEK_LINUX_DEVICES_H

#include <cstddef>
#include <cstdint>

#include <sys/types.h>

namespace marlek_linux {

enum class DeviceKind : uint8_t { GpioChip, Tty };

// What the device is called in texts: "a GPIO chip", "a tty".
const char* DeviceKindName(DeviceKind kind);

struct DeviceCheck {
    dev_t device = 0;  // the device's number, when it is one of the kind
    int error = 0;     // the errno of a path that cannot be looked up
    char what[128] = "";  // else what the path is instead: "a regular file", "a character device (1:3, mem)"
};

// Looks up path without opening it: true when it is a device of the kind.
bool CheckDevice(const char* path, DeviceKind kind, DeviceCheck& check);

// Opens a device that CheckDevice found to be of the kind, with flags (and
// close-on-exec, at 3 or above), and makes sure that the descriptor is that
// device. -1 with errno set when it cannot be opened; ENODEV when what was
// opened is no longer that device.
int OpenCheckedDevice(const char* path, const DeviceCheck& check, int flags);

// A number from a sysfs attribute (an LED's brightness, a port's type);
// false with errno's value in error when it cannot be read.
bool ReadSysfsNumber(const char* path, unsigned long& value, int& error);

}  // namespace marlek_linux

#endif  // MARLEK_LINUX_DEVICES_H
