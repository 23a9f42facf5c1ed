// A watch of a board that tells of its changes, as marlek-board's will be,
// for the test of the shared live view: the view waits with no timeout on
// the descriptor named by the argument; each line read there is listed as a
// change; q, an end signal or the descriptor's end ends it. Standard error
// says at the end how often the wait came back. Built as program code, it
// shows that the view needs the C library alone.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "live_view.h"

using namespace marlek_board::view;

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const int descriptor = std::atoi(argv[1]);
    // Pins 0 to 3 held (pin 0 a push-pull output, pin 3's level not known),
    // 4 to 7 held by no program; no external level.
    BoardPicture picture;
    for (size_t pin = 0; pin < 4; ++pin) {
        picture.pins[pin] = {true, pin == 0, pin == 0, Level::High, Level::Unknown,
                             pin == 3 ? Level::Unknown : LevelOf(pin != 2)};
    }
    picture.SetLed(true, "on");
    picture.SetPair(0, "RS-485");
    picture.SetPair(1, "not set");
    LiveView view;
    if (!view.Start("view-probe watch", "the probe's pipe")) return 3;
    view.Draw(picture, true);
    unsigned wakes = 0;
    for (bool going = true; going;) {
        const Woken woken = view.Wait(NO_TIMEOUT, descriptor);
        ++wakes;
        if (woken == Woken::Quit) break;
        if (woken == Woken::Descriptor) {
            char line[256];
            const ssize_t got = read(descriptor, line, sizeof line - 1);
            going = got > 0;
            line[got > 0 ? got : 0] = '\0';
            if (char* end = std::strchr(line, '\n')) *end = '\0';
            if (going) view.Add(line);
        }
        view.Draw(picture, true);
    }
    view.Stop();
    std::fprintf(stderr, "wakes %u\n", wakes);
    return 0;
}
