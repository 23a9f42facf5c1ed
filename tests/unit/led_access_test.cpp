#include <gtest/gtest.h>

#include <string>

#include "led_access.h"

namespace marlek_linux {
namespace {

// The udev helper opens the LED's folder from what DEVPATH says, one part at
// a time: a part that could lead elsewhere is refused before anything is opened.
TEST(LedAccess, DeviceNameTakesOnlyAPathUnderDevices) {
    const std::string longest(255, 'n');  // a folder's name may be this long, no longer
    const struct {
        std::string devpath;
        std::string name;  // "": refused
    } cases[] = {
        {"/devices/virtual/misc/uleds/marlek:user", "marlek:user"},
        {"/devices/platform/leds/leds/x -R etc y", "x -R etc y"},
        {"/devices/platform/leds/leds/-it's\"led", "-it's\"led"},
        {"/devices/virtual/leds/..x", "..x"},
        {"/devices/virtual/leds/" + longest, longest},
        {"/devices/virtual/leds/" + longest + "n", ""},
        {"/devices/virtual/leds/..", ""},
        {"/devices/virtual/leds/.", ""},
        {"/devices/../../etc", ""},
        {"/devices/./virtual/leds/x", ""},
        {"/devices/virtual//x", ""},
        {"/devices/virtual/leds/x/", ""},
        {"/devices/", ""},
        {"/devices", ""},
        {"devices/virtual/leds/x", ""},
        {"/sys/devices/virtual/leds/x", ""},
        {"/class/leds/x", ""},
        {"/devices/" + std::string(4090, 'n'), ""},
    };
    for (const auto& c : cases) {
        const char* name = DeviceName(c.devpath.c_str());
        EXPECT_EQ(name != nullptr ? std::string(name) : std::string(), c.name) << c.devpath;
    }
}

}  // namespace
}  // namespace marlek_linux
