// The user LED as an LED class device: /sys/class/leds/NAME, lit at its
// max_brightness and dark at 0.
#ifndef MARLEK_LINUX_LED_CLASS_H
#define MARLEK_LINUX_LED_CLASS_H

#include "board_description.h"
#include "problem.h"

namespace marlek_linux {

inline constexpr const char* LED_CLASS_FOLDER = "/sys/class/leds";
inline constexpr int MAX_LEDS = 32;

// The LED's brightness and its maximum (at least 1). where begins the
// problem's text ("FILE:LINE: the LED"); a system without an LED class is
// named as such.
bool ReadLed(const char* name, const char* where, unsigned long& brightness, unsigned long& maximum,
             Problem& problem);

// Lights the LED or puts it out.
bool WriteLed(const char* name, const char* where, bool on, Problem& problem);

// A problem unless the user may write the LED's brightness.
bool LedWritable(const char* name, Problem& problem);

// qsort(3)'s order of names held in arrays of char.
int CompareNames(const void* a, const void* b);

// The names of the system's LED class devices, in order; how many, or -1
// when the system has no LED class.
int ListLeds(char (&names)[MAX_LEDS][LED_NAME_SIZE]);

}  // namespace marlek_linux

#endif  // MARLEK_LINUX_LED_CLASS_H
