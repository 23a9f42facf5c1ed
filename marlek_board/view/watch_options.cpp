#include "watch_options.h"

#include <climits>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

namespace marlek_board::view {

namespace {

constexpr size_t WORD_SHOWN = 256;

// Decimal digits alone, at least one, at most max.
bool Decimal(const char* text, size_t length, uint64_t max, uint64_t& value) {
    if (length == 0) return false;
    uint64_t parsed = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        const auto digit = static_cast<uint64_t>(text[i] - '0');
        if (digit > max || parsed > (max - digit) / 10) return false;
        parsed = parsed * 10 + digit;
    }
    value = parsed;
    return true;
}

// problem: before, then word in quotes when given, cut to WORD_SHOWN bytes
// before a UTF-8 lead byte; false.
bool Problem(char* problem, size_t size, const char* before, const char* word = nullptr) {
    if (word == nullptr) {
        std::snprintf(problem, size, "%s", before);
        return false;
    }
    size_t shown = std::strlen(word);
    const bool cut = shown > WORD_SHOWN;
    if (cut) {
        shown = WORD_SHOWN;
        while (shown > 0 && (static_cast<unsigned char>(word[shown]) & 0xC0u) == 0x80u) --shown;
    }
    std::snprintf(problem, size, "%s'%.*s%s'", before, static_cast<int>(shown), word, cut ? "..." : "");
    return false;
}

}  // namespace

bool ParseSeconds(const char* text, uint64_t& millis) {
    const size_t length = std::strlen(text);
    const char* point = static_cast<const char*>(std::memchr(text, '.', length));
    const size_t whole = point != nullptr ? static_cast<size_t>(point - text) : length;
    const size_t digits = point != nullptr ? length - whole - 1 : 0;
    if (point != nullptr && (digits == 0 || digits > 3)) return false;
    uint64_t seconds = 0;
    uint64_t part = 0;
    if (!Decimal(text, whole, MAX_TIMEOUT_SECONDS, seconds)) return false;
    if (digits > 0 && !Decimal(point + 1, digits, 999, part)) return false;
    for (size_t i = digits; i < 3; ++i) part *= 10;
    millis = seconds * 1000 + part;
    return millis > 0;
}

bool ReadWatchOptions(const char* const* args, size_t count, WatchOptions& options, char* problem, size_t size) {
    bool counted = false;
    bool timed = false;
    for (size_t i = 0; i < count; ++i) {
        const char* name = args[i];
        const bool isCount = std::strcmp(name, "--count") == 0;
        if (!isCount && std::strcmp(name, "--timeout") != 0) {
            return Problem(problem, size, "watch takes [--count N] [--timeout SECONDS], not ", name);
        }
        if (i + 1 == count) {
            std::snprintf(problem, size, "%s needs a value", name);
            return false;
        }
        const char* value = args[++i];
        if (isCount) {
            if (counted) return Problem(problem, size, "--count is given twice");
            counted = true;
            if (!Decimal(value, std::strlen(value), UINT32_MAX, options.count) || options.count == 0) {
                return Problem(problem, size, "--count must be a number of changes from 1, not ", value);
            }
        } else {
            if (timed) return Problem(problem, size, "--timeout is given twice");
            timed = true;
            if (!ParseSeconds(value, options.timeoutMillis)) {
                return Problem(problem, size,
                               "--timeout must be a number of seconds above 0 with at most three decimals (5, 0.25), "
                               "not ",
                               value);
            }
        }
    }
    return true;
}

uint64_t MonotonicMillis() {
#ifdef _WIN32
    return GetTickCount64();
#else
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1'000'000;
#endif
}

WatchEnds::WatchEnds(const WatchOptions& options)
    : count_(options.count), timed_(options.timeoutMillis > 0), deadline_(MonotonicMillis() + options.timeoutMillis) {}

bool WatchEnds::TimedOut() const { return timed_ && MonotonicMillis() >= deadline_; }

int WatchEnds::WaitMillis(int interval) const {
    if (!timed_) return interval;
    const uint64_t now = MonotonicMillis();
    const uint64_t left = now >= deadline_ ? 0 : deadline_ - now;
    const uint64_t bound = interval < 0 ? static_cast<uint64_t>(INT_MAX) : static_cast<uint64_t>(interval);
    return static_cast<int>(left < bound ? left : bound);
}

bool WatchEnds::Told() { return ++told_ == count_; }

bool WatchEnds::EndedShort() const { return count_ > 0 || told_ == 0; }

}  // namespace marlek_board::view
