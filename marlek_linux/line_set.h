// Described lines found on their chips and grouped by chip, so that the lines
// of one chip are requested, read and driven in one system call.
#ifndef MARLEK_LINUX_LINE_SET_H
#define MARLEK_LINUX_LINE_SET_H

#include <array>
#include <cstdint>

#include "gpio.h"

namespace marlek_linux {

inline constexpr int MAX_SET_LINES = 8;

struct LineGroup {
    int fd = -1;  // the request, once made
    Chip chip;    // its descriptor is closed once the request is made
    int count = 0;
    std::array<int, MAX_SET_LINES> member{};  // which of the set's lines each request line is
    std::array<FoundLine, MAX_SET_LINES> lines{};
};

struct LineSet {
    int groupCount = 0;
    std::array<LineGroup, MAX_SET_LINES> groups{};
};

// Finds the lines on their chips and checks that each is free. The chips stay
// open for the request; on failure nothing is. path is the description's.
bool ResolveLines(const char* path, const LineEntry* entries, int count, LineSet& set, Problem& problem);

// Every line the description names (the pins, the LED's line, both pairs'
// mode lines) found as the kernel resolves it, its chip's device and its
// offset, whatever the spelling (an offset or a name, a label, a name or a
// path); and every tty it names, by its device. Each two entries that are one
// line, or one tty, are a problem (code 9) for report. A line or tty that
// cannot be found is left to the call that needs it. The library and
// marlek-board both judge a description by this. The number of problems.
using ProblemReport = void (*)(const Problem& problem, void* context);
int FindSharedLines(const Description& description, ProblemReport report, void* context);

// Requests each group's lines with the configuration that configure gives it,
// then closes the chips. All or nothing: on failure no line stays requested.
using ConfigureGroup = void (*)(const LineGroup& group, gpio_v2_line_config& config, const void* context);
bool RequestSet(LineSet& set, ConfigureGroup configure, const void* context, const char* where, Problem& problem);

// Releases every line of the set and closes what is open.
void ReleaseSet(LineSet& set);

// The request lines of a group whose set members have their bit set in members.
uint64_t GroupMask(const LineGroup& group, uint32_t members);

// The set members' bits of a group's request values.
uint32_t MembersOfValues(const LineGroup& group, uint64_t values);

}  // namespace marlek_linux

#endif  // MARLEK_LINUX_LINE_SET_H
