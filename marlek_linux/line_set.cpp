#include "line_set.h"

#include <cstdio>
#include <cstring>

#include "descriptors.h"

namespace marlek_linux {

using marlek_board::CloseDescriptor;

namespace {

void CloseChips(LineSet& set) {
    for (int g = 0; g < set.groupCount; ++g) CloseDescriptor(set.groups[static_cast<size_t>(g)].chip.fd);
}

}  // namespace

void ReleaseSet(LineSet& set) {
    for (int g = 0; g < set.groupCount; ++g) CloseDescriptor(set.groups[static_cast<size_t>(g)].fd);
    CloseChips(set);
    set = LineSet{};
}

bool ResolveLines(const char* path, const LineEntry* entries, int count, WhereOf where, LineSet& set,
                  Problem& problem) {
    set = LineSet{};
    for (int i = 0; i < count; ++i) {
        char here[PATH_TEXT_SIZE + 64];
        where(path, entries[i], i, here, sizeof here);
        Chip chip;
        if (!OpenChip(entries[i].chip, here, chip, problem)) {
            ReleaseSet(set);
            return false;
        }
        LineGroup* group = nullptr;
        for (int g = 0; g < set.groupCount; ++g) {
            if (std::strcmp(set.groups[static_cast<size_t>(g)].chip.name, chip.name) == 0) {
                group = &set.groups[static_cast<size_t>(g)];
            }
        }
        if (group != nullptr) {
            CloseDescriptor(chip.fd);
        } else {
            group = &set.groups[static_cast<size_t>(set.groupCount++)];
            group->chip = chip;
        }
        FoundLine line;
        if (!FindLine(group->chip, entries[i].line, here, line, problem)) {
            ReleaseSet(set);
            return false;
        }
        for (int j = 0; j < group->count; ++j) {
            if (group->lines[static_cast<size_t>(j)].offset != line.offset) continue;
            const LineEntry& other = entries[group->member[static_cast<size_t>(j)]];
            char described[160];
            DescribeLine(group->chip, line, described, sizeof described);
            Fail(problem, ERROR_DESCRIPTION, "%s: %s is named on line %d already; give each its own line", here,
                 described, other.sourceLine);
            ReleaseSet(set);
            return false;
        }
        if (!CheckLineFree(group->chip, line, here, problem)) {
            ReleaseSet(set);
            return false;
        }
        group->member[static_cast<size_t>(group->count)] = i;
        group->lines[static_cast<size_t>(group->count)] = line;
        ++group->count;
    }
    return true;
}

bool RequestSet(LineSet& set, ConfigureGroup configure, const void* context, const char* where, Problem& problem) {
    for (int g = 0; g < set.groupCount; ++g) {
        LineGroup& group = set.groups[static_cast<size_t>(g)];
        gpio_v2_line_config config{};
        configure(group, config, context);
        if (!RequestLines(group.chip, group.lines.data(), group.count, config, where, group.fd, problem)) {
            ReleaseSet(set);
            return false;
        }
    }
    CloseChips(set);
    return true;
}

uint64_t GroupMask(const LineGroup& group, uint32_t members) {
    uint64_t mask = 0;
    for (int i = 0; i < group.count; ++i) {
        if ((members >> group.member[static_cast<size_t>(i)]) & 1u) mask |= uint64_t{1} << i;
    }
    return mask;
}

uint32_t MembersOfValues(const LineGroup& group, uint64_t values) {
    uint32_t members = 0;
    for (int i = 0; i < group.count; ++i) {
        if ((values >> i) & 1u) members |= 1u << group.member[static_cast<size_t>(i)];
    }
    return members;
}

}  // namespace marlek_linux
