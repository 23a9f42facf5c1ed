// led-access: run by the udev rule of marlek-board-linux for each LED class
// device that udev adds or changes (see led_access.h). It takes the device
// from its environment alone: DEVPATH, SUBSYSTEM and ACTION. It writes
// nothing unless it fails, and then one line on standard error, which udev
// logs; it waits on nothing.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "led_access.h"
#include "terminal_text.h"

namespace {

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void Say(const char* format, ...) {
    static char text[marlek_linux::PROBLEM_SIZE];
    static char escaped[marlek_linux::PROBLEM_SIZE * 2];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    const size_t used = length < 0 ? 0
                        : static_cast<size_t>(length) < sizeof text ? static_cast<size_t>(length)
                                                                     : sizeof text - 1;
    marlek_board::EscapeForTerminal(text, used, escaped, sizeof escaped);
    std::fprintf(stderr, "marlek-board-linux led-access: %s\n", escaped);
}

}  // namespace

int main(int argc, char**) {
    const char* devpath = std::getenv("DEVPATH");
    const char* subsystem = std::getenv("SUBSYSTEM");
    const char* action = std::getenv("ACTION");
    if (argc != 1 || devpath == nullptr || action == nullptr || subsystem == nullptr ||
        std::strcmp(subsystem, "leds") != 0) {
        Say("udev's rule runs this for each LED, with no arguments and DEVPATH, SUBSYSTEM=leds and ACTION in its "
            "environment; to apply the rule again: %s",
            marlek_linux::RETRIGGER);
        return 2;
    }
    // Only a new LED and a change (udevadm trigger) can call for another access.
    if (std::strcmp(action, "add") != 0 && std::strcmp(action, "change") != 0) return 0;
    static char problem[marlek_linux::PROBLEM_SIZE];
    if (!marlek_linux::UpdateLedAccess(devpath, marlek_linux::DEFAULT_BOARD_PATH, problem)) {
        Say("%s", problem);
        return 1;
    }
    return 0;
}
