#include "line_set.h"

#include <cstdio>
#include <cstring>

#include "descriptors.h"
#include "devices.h"

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

bool ResolveLines(const char* path, const LineEntry* entries, int count, LineSet& set, Problem& problem) {
    set = LineSet{};
    for (int i = 0; i < count; ++i) {
        char here[PATH_TEXT_SIZE + 64];
        EntryWhere(path, entries[i], here, sizeof here);
        Chip chip;
        if (!OpenChip(entries[i].chip, here, chip, problem)) {
            ReleaseSet(set);
            return false;
        }
        LineGroup* group = nullptr;
        for (int g = 0; g < set.groupCount; ++g) {
            if (set.groups[static_cast<size_t>(g)].chip.device == chip.device) group = &set.groups[static_cast<size_t>(g)];
        }
        if (group != nullptr) {
            CloseDescriptor(chip.fd);
        } else {
            group = &set.groups[static_cast<size_t>(set.groupCount++)];
            group->chip = chip;
        }
        FoundLine line;
        if (!FindLine(group->chip, entries[i].line, here, line, problem) ||
            !CheckLineFree(group->chip, line, here, problem)) {
            ReleaseSet(set);
            return false;
        }
        group->member[static_cast<size_t>(group->count)] = i;
        group->lines[static_cast<size_t>(group->count)] = line;
        ++group->count;
    }
    return true;
}

namespace {

// A described line as the kernel knows it, or a tty by its device.
struct Resolved {
    const LineEntry* entry = nullptr;
    dev_t device = 0;
    uint32_t offset = 0;
    char described[DESCRIBED_LINE_SIZE] = "";
};

struct ResolvedTty {
    int pair = 0;
    int port = 0;
    dev_t device = 0;
};

}  // namespace

int FindSharedLines(const Description& description, ProblemReport report, void* context) {
    std::array<const LineEntry*, MAX_DESCRIBED_LINES> entries{};
    const int count = DescribedLines(description, entries);
    static std::array<Resolved, MAX_DESCRIBED_LINES> lines;
    int found = 0;
    int problems = 0;
    Problem problem;
    for (int i = 0; i < count; ++i) {
        const LineEntry& entry = *entries[static_cast<size_t>(i)];
        Chip chip;
        FoundLine line;
        if (!OpenChip(entry.chip, "", chip, problem, O_RDONLY)) continue;  // its own call says why
        const bool known = FindLine(chip, entry.line, "", line, problem);
        if (known) {
            Resolved& here = lines[static_cast<size_t>(found++)];
            here = Resolved{&entry, chip.device, line.offset, ""};
            DescribeLine(chip, line, here.described, sizeof here.described);
        }
        CloseDescriptor(chip.fd);
        if (!known) continue;
        const Resolved& here = lines[static_cast<size_t>(found - 1)];
        for (int j = 0; j < found - 1; ++j) {
            const Resolved& other = lines[static_cast<size_t>(j)];
            if (other.device != here.device || other.offset != here.offset) continue;
            char where[PATH_TEXT_SIZE + 64];
            EntryWhere(description.path, entry, where, sizeof where);
            Fail(problem, ERROR_DESCRIPTION, "%s: %s is named for %s on line %d already; give each thing its own line",
                 where, here.described, other.entry->role, other.entry->sourceLine);
            report(problem, context);
            ++problems;
            break;
        }
    }
    std::array<ResolvedTty, marlek_board::SERIAL_PAIR_COUNT * PAIR_PORTS> ttys{};
    int ttyCount = 0;
    for (int pair = 0; pair < marlek_board::SERIAL_PAIR_COUNT; ++pair) {
        const PairEntry& entry = description.pairs[static_cast<size_t>(pair)];
        for (int port = 0; port < PAIR_PORTS; ++port) {
            const char* tty = entry.tty[static_cast<size_t>(port)].data();
            DeviceCheck check;
            if (tty[0] == '\0' || !CheckDevice(tty, DeviceKind::Tty, check)) continue;
            for (int j = 0; j < ttyCount; ++j) {
                const ResolvedTty& other = ttys[static_cast<size_t>(j)];
                if (other.device != check.device) continue;
                const PairEntry& otherEntry = description.pairs[static_cast<size_t>(other.pair)];
                Fail(problem, ERROR_DESCRIPTION,
                     "%s:%d: %s tty%d: %s is the tty that %s tty%d names on line %d already (%s); give each port "
                     "its own tty",
                     description.path, entry.ttyLine[static_cast<size_t>(port)], PairEntryName(pair), port + 1, tty,
                     PairEntryName(other.pair), other.port + 1, otherEntry.ttyLine[static_cast<size_t>(other.port)],
                     otherEntry.tty[static_cast<size_t>(other.port)].data());
                report(problem, context);
                ++problems;
                break;
            }
            ttys[static_cast<size_t>(ttyCount++)] = ResolvedTty{pair, port, check.device};
        }
    }
    return problems;
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
