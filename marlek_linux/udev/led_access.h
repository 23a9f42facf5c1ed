// The udev rule's LED helper (led-access): what the group gpio may do with
// the LEDs. udev runs it for each LED class device it adds or changes, with
// the device in its environment; no part of the device's name is ever a word
// of a command line. The helper gives the group write access to the
// brightness of the LED that the board description names ('led class NAME')
// and to no other. An LED that it gave the group earlier and that the
// description no longer names goes back to root, as the kernel made it: a
// brightness that root alone writes. An LED that something else gave the
// group is left as it is.
//
// What it gave is recorded in RECORD_FOLDER, one link for each LED, named as
// the LED and pointing to its folder in sysfs; the package's postrm gives
// back those LEDs. Both the grants and the records end with the boot.
#ifndef MARLEK_LINUX_UDEV_LED_ACCESS_H
#define MARLEK_LINUX_UDEV_LED_ACCESS_H

#include "board_description.h"

namespace marlek_linux {

inline constexpr const char* RECORD_FOLDER = "/run/marlek-board-linux/leds";
inline constexpr const char* LED_GROUP = "gpio";
inline constexpr const char* RETRIGGER = "udevadm trigger --subsystem-match=leds --action=change";

// The name of the device at a device path as udev gives it (DEVPATH,
// "/devices/virtual/leds/NAME"): its last part. nullptr unless the path lies
// under /devices and every part is a name (not empty, ".", ".." or longer
// than a folder's name may be).
const char* DeviceName(const char* devpath);

// Gives the LED at devpath the group, or takes it back, as the description
// at descriptionPath says. False, with what is wrong and what to do, when the
// device is not an LED class device, or it cannot be done; an LED that is
// gone meanwhile is no fault. A description that cannot be read names no
// LED: the LEDs given before are given back, and the problem says why.
bool UpdateLedAccess(const char* devpath, const char* descriptionPath, char (&problem)[PROBLEM_SIZE]);

}  // namespace marlek_linux

#endif  // MARLEK_LINUX_UDEV_LED_ACCESS_H
