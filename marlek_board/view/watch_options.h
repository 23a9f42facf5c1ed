// What a watch of either board takes and when it ends: [--count N]
// [--timeout SECONDS], the first to be met ending it.
#ifndef MARLEK_BOARD_VIEW_WATCH_OPTIONS_H
#define MARLEK_BOARD_VIEW_WATCH_OPTIONS_H

#include <cstddef>
#include <cstdint>

namespace marlek_board::view {

struct WatchOptions {
    uint64_t count = 0;          // --count: end after this many change lines (1 to 4294967295); 0 when not given
    uint64_t timeoutMillis = 0;  // --timeout: end after this long; 0 when not given
};

inline constexpr uint64_t MAX_TIMEOUT_SECONDS = 999'999'999;
// Room for any problem ReadWatchOptions writes; an argument quoted in it is
// cut after 256 bytes, before a whole character, with "..." after it.
inline constexpr size_t OPTION_PROBLEM_SIZE = 512;

// Reads a watch's arguments, each option once, in either order. False with
// what is wrong in problem ("--count must be a number of changes from 1, not
// '0'"), unescaped: the caller escapes what it says.
bool ReadWatchOptions(const char* const* args, size_t count, WatchOptions& options, char* problem, size_t size);

// Seconds with at most three decimals ("5", "0.25", "1.500"), above 0 and with
// at most MAX_TIMEOUT_SECONDS whole, as milliseconds; false otherwise.
bool ParseSeconds(const char* text, uint64_t& millis);

// The milliseconds of a clock that no change of the date moves.
uint64_t MonotonicMillis();

// The ends a watch's options set, its timeout running from when it is made.
class WatchEnds {
public:
    explicit WatchEnds(const WatchOptions& options);

    // The timeout has passed: the watch takes its last look.
    bool TimedOut() const;

    // How long the next wait may take: interval (-1: no bound) cut to what
    // the timeout leaves, 0 once it has passed.
    int WaitMillis(int interval) const;

    // Counts a change line told; true when it is the last that --count asks for.
    bool Told();

    // Whether a watch ended by its timeout fell short: fewer change lines than
    // --count asked for, or none at all without --count (status 1, else 0).
    bool EndedShort() const;

private:
    uint64_t count_;
    uint64_t told_ = 0;
    bool timed_;
    uint64_t deadline_;
};

}  // namespace marlek_board::view

#endif  // MARLEK_BOARD_VIEW_WATCH_OPTIONS_H
