#include "gpio.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "descriptors.h"
#include "devices.h"
#include "terminal_text.h"

namespace marlek_linux {

using marlek_board::AboveStandardStreams;
using marlek_board::CloseDescriptor;
using marlek_board::IoctlRetrying;
using marlek_board::OpenDescriptor;
using marlek_board::QuotedWord;

namespace {

constexpr const char* DEVICE_FOLDER = "/dev";
constexpr const char* CHIP_PREFIX = "gpiochip";
constexpr int MAX_CHIPS_LISTED = 16;  // in a text

const char* g_consumer = CONSUMER;

void CopyText(char* out, size_t size, const char* text) {
    std::snprintf(out, size, "%s", text);
}

bool PermissionProblem(const char* where, const char* path, Problem& problem) {
    return Fail(problem, ERROR_PERMISSION,
                "%s: cannot open %s: Permission denied; give the user access to it (ls -l %s shows its owner "
                "and group: add the user to that group, or give it one with a udev rule), or run as root",
                where, path, path);
}

// Why a chip could not be opened: errno's value, or what the path is instead
// of a chip, or a kernel that is too old.
struct ChipFailure {
    int error = 0;
    bool notChip = false;
    bool oldKernel = false;
    DeviceCheck check;
};

// Opens the chip at path once it is known to be one.
bool OpenAt(const char* path, int access, Chip& chip, ChipFailure& failure) {
    chip = Chip{};
    failure = ChipFailure{};
    if (!CheckDevice(path, DeviceKind::GpioChip, failure.check)) {
        failure.error = failure.check.error;
        failure.notChip = failure.check.error == 0;
        return false;
    }
    const int fd = OpenCheckedDevice(path, failure.check, access | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        failure.error = errno;
        return false;
    }
    gpiochip_info info{};
    if (IoctlRetrying(fd, GPIO_GET_CHIPINFO_IOCTL, &info) != 0) {
        failure.error = errno;
        close(fd);
        return false;
    }
    // Before Linux 5.10 the chip answers the first interface alone, and
    // refuses the v2 requests as unknown.
    gpio_v2_line_info line{};
    if (info.lines > 0 && IoctlRetrying(fd, GPIO_V2_GET_LINEINFO_IOCTL, &line) != 0 && errno == EINVAL) {
        failure.oldKernel = true;
        close(fd);
        return false;
    }
    chip.fd = fd;
    chip.device = failure.check.device;
    CopyText(chip.path, sizeof chip.path, path);
    CopyText(chip.name, sizeof chip.name, info.name);
    CopyText(chip.label, sizeof chip.label, info.label);
    chip.lineCount = info.lines;
    return true;
}

bool OldKernelProblem(const char* where, const char* path, Problem& problem) {
    utsname system{};
    if (uname(&system) != 0) CopyText(system.release, sizeof system.release, "unknown");
    return Fail(problem, ERROR_GPIO_FAILED,
                "%s: %s answers only the first GPIO character device interface, not its v2, which came in Linux "
                "5.10 and which the board library needs (this kernel: %s); run Linux 5.10 or later",
                where, path, system.release);
}

bool OpenByPath(const char* path, const char* wanted, const char* where, int access, Chip& chip,
                Problem& problem) {
    ChipFailure failure;
    if (OpenAt(path, access, chip, failure)) return true;
    if (failure.oldKernel) return OldKernelProblem(where, path, problem);
    if (failure.notChip) {
        return Fail(problem, ERROR_CHIP_NOT_FOUND,
                    "%s: %s is %s, not a GPIO chip; name a /dev/gpiochipN, its name or its label", where, path,
                    failure.check.what);
    }
    if (failure.error == EACCES || failure.error == EPERM) return PermissionProblem(where, path, problem);
    if (failure.error == ENOENT) {
        return Fail(problem, ERROR_CHIP_NOT_FOUND,
                    "%s: no GPIO chip %s; correct the chip (marlek-board --list lists the chips and their labels)",
                    where, wanted);
    }
    return Fail(problem, ERROR_CHIP_NOT_FOUND, "%s: cannot open the GPIO chip %s: %s", where, path,
                std::strerror(failure.error));
}

void ChipPath(int number, char (&path)[sizeof Chip::path]) {
    std::snprintf(path, sizeof path, "%s/%s%d", DEVICE_FOLDER, CHIP_PREFIX, number);
}

// Appends ", gpiochipN \"label\"" (the first without the comma) while there is room.
void AddChipText(char* out, size_t size, size_t& used, const Chip& chip) {
    if (used >= size) return;
    const int wrote =
        std::snprintf(out + used, size - used, "%s%s \"%s\"", used == 0 ? "" : ", ", chip.name,
                      QuotedWord(chip.label, sizeof chip.label).text);
    if (wrote > 0) used += static_cast<size_t>(wrote);
}

bool OpenByLabel(const char* label, const char* where, int access, Chip& chip, Problem& problem) {
    std::array<int, MAX_CHIPS> numbers{};
    const int count = ListChips(numbers);
    char seen[1024] = "";
    size_t seenUsed = 0;
    char carriers[512] = "";
    size_t carriersUsed = 0;
    int matches = 0;
    char refused[sizeof Chip::path] = "";
    char old[sizeof Chip::path] = "";
    Chip found;
    for (int i = 0; i < count; ++i) {
        char path[sizeof Chip::path];
        ChipPath(numbers[static_cast<size_t>(i)], path);
        Chip candidate;
        ChipFailure failure;
        if (!OpenAt(path, access, candidate, failure)) {
            if ((failure.error == EACCES || failure.error == EPERM) && refused[0] == '\0') CopyText(refused, sizeof refused, path);
            if (failure.oldKernel && old[0] == '\0') CopyText(old, sizeof old, path);
            continue;
        }
        if (std::strcmp(candidate.label, label) != 0) {
            if (i < MAX_CHIPS_LISTED) AddChipText(seen, sizeof seen, seenUsed, candidate);
            CloseDescriptor(candidate.fd);
            continue;
        }
        ++matches;
        AddChipText(carriers, sizeof carriers, carriersUsed, candidate);
        if (matches == 1) {
            found = candidate;
        } else {
            CloseDescriptor(candidate.fd);
        }
    }
    chip = Chip{};
    if (matches > 1) {
        CloseDescriptor(found.fd);
        return Fail(problem, ERROR_CHIP_NOT_FOUND,
                    "%s: the label \"%s\" is carried by %d chips (%s), whose numbers may change at the next boot; "
                    "name the chip by its name or path (/dev/%s) instead",
                    where, QuotedWord(label).text, matches, carriers, found.name);
    }
    if (matches == 1) {
        chip = found;
        return true;
    }
    if (old[0] != '\0') return OldKernelProblem(where, old, problem);
    if (refused[0] != '\0') return PermissionProblem(where, refused, problem);
    if (count == 0) {
        return Fail(problem, ERROR_CHIP_NOT_FOUND,
                    "%s: no GPIO chip \"%s\": this system has no /dev/gpiochipN at all; is the GPIO driver loaded?",
                    where, QuotedWord(label).text);
    }
    return Fail(problem, ERROR_CHIP_NOT_FOUND,
                "%s: no GPIO chip \"%s\" (the chips: %s); correct the chip's path, name or label", where,
                QuotedWord(label).text, seen);
}

}  // namespace

int ListChips(std::array<int, MAX_CHIPS>& numbers) {
    int count = 0;
    DIR* folder = marlek_board::OpenFolder(DEVICE_FOLDER);
    if (folder == nullptr) return 0;
    while (const dirent* entry = readdir(folder)) {
        if (!IsChipName(entry->d_name) || std::strlen(entry->d_name) > 12) continue;
        if (count == MAX_CHIPS) break;
        numbers[static_cast<size_t>(count++)] = std::atoi(entry->d_name + std::strlen(CHIP_PREFIX));
    }
    closedir(folder);
    for (int i = 1; i < count; ++i) {  // a handful at most: insertion sort
        for (int j = i; j > 0 && numbers[static_cast<size_t>(j - 1)] > numbers[static_cast<size_t>(j)]; --j) {
            std::swap(numbers[static_cast<size_t>(j)], numbers[static_cast<size_t>(j - 1)]);
        }
    }
    return count;
}

bool OpenChip(const char* wanted, const char* where, Chip& chip, Problem& problem, int access) {
    if (wanted[0] == '/') return OpenByPath(wanted, wanted, where, access, chip, problem);
    if (IsChipName(wanted)) {
        char path[sizeof Chip::path];
        std::snprintf(path, sizeof path, "%s/%.40s", DEVICE_FOLDER, wanted);
        return OpenByPath(path, wanted, where, access, chip, problem);
    }
    return OpenByLabel(wanted, where, access, chip, problem);
}

bool IsChipName(const char* text) {
    const size_t prefix = std::strlen(CHIP_PREFIX);
    if (std::strncmp(text, CHIP_PREFIX, prefix) != 0 || text[prefix] == '\0') return false;
    for (const char* c = text + prefix; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return false;
    }
    return true;
}

bool IsLineOffset(const char* text) {
    return text[0] >= '0' && text[0] <= '9' && std::strspn(text, "0123456789") == std::strlen(text);
}

bool IsDescriptionWord(const char* text) {
    if (*text == '\0') return false;
    for (const char* c = text; *c != '\0'; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (byte <= ' ' || byte == '#' || byte >= 0x7F) return false;
    }
    return true;
}

const char* ChipWord(const char* name, const char* label, const char* const* labels, int count, bool complete) {
    if (!complete || !IsDescriptionWord(label) || label[0] == '/' || IsChipName(label)) return name;
    int carriers = 0;
    for (int i = 0; i < count; ++i) carriers += std::strcmp(labels[i], label) == 0 ? 1 : 0;
    return carriers == 1 ? label : name;
}

namespace {

bool LineInfoProblem(const Chip& chip, uint32_t offset, int error, const char* where, Problem& problem) {
    return Fail(problem, ERROR_GPIO_FAILED, "%s: cannot read line %u of %s \"%s\": %s; the kernel's log (dmesg) may "
                "say why", where, offset, chip.name, QuotedWord(chip.label, sizeof chip.label).text,
                std::strerror(error));
}

}  // namespace

bool FindLine(const Chip& chip, const char* wanted, const char* where, FoundLine& line, Problem& problem) {
    line = FoundLine{};
    const QuotedWord label(chip.label, sizeof chip.label);
    if (IsLineOffset(wanted)) {
        const unsigned long offset = std::strlen(wanted) > 9 ? UINT32_MAX : std::strtoul(wanted, nullptr, 10);
        if (offset >= chip.lineCount) {
            return Fail(problem, ERROR_LINE_NOT_FOUND, "%s: %s \"%s\" has lines 0 to %u, not %s; correct the line",
                        where, chip.name, label.text, chip.lineCount - 1, wanted);
        }
        line.offset = static_cast<uint32_t>(offset);
        line.info.offset = line.offset;
        if (IoctlRetrying(chip.fd, GPIO_V2_GET_LINEINFO_IOCTL, &line.info) != 0) {
            return LineInfoProblem(chip, line.offset, errno, where, problem);
        }
        return true;
    }
    // Every line is looked at: a name that two lines carry is refused, as a
    // label that two chips carry is, rather than taken for the first.
    char carriers[128] = "";
    size_t used = 0;
    int matches = 0;
    int unread = 0;  // errno of the first line whose information could not be read
    uint32_t unreadOffset = 0;
    for (uint32_t offset = 0; offset < chip.lineCount; ++offset) {
        gpio_v2_line_info info{};
        info.offset = offset;
        if (IoctlRetrying(chip.fd, GPIO_V2_GET_LINEINFO_IOCTL, &info) != 0) {
            if (unread == 0) {
                unread = errno;
                unreadOffset = offset;
            }
            continue;
        }
        if (std::strncmp(info.name, wanted, sizeof info.name) != 0) continue;
        if (++matches == 1) {
            line.offset = offset;
            line.info = info;
        }
        if (used < sizeof carriers) {
            const int wrote = std::snprintf(carriers + used, sizeof carriers - used, "%s%u", used == 0 ? "" : " and ",
                                            offset);
            if (wrote > 0) used += static_cast<size_t>(wrote);
        }
    }
    if (matches > 1) {
        line = FoundLine{};
        return Fail(problem, ERROR_LINE_NOT_FOUND,
                    "%s: the line name \"%s\" is carried by %d lines of %s \"%s\" (offsets %s); name the line by its "
                    "offset instead",
                    where, QuotedWord(wanted).text, matches, chip.name, label.text, carriers);
    }
    if (matches == 1) return true;
    if (unread != 0) {
        // The line wanted may be the one that could not be read.
        return LineInfoProblem(chip, unreadOffset, unread, where, problem);
    }
    return Fail(problem, ERROR_LINE_NOT_FOUND,
                "%s: %s \"%s\" has no line named \"%s\"; correct the name, or give the line's offset (marlek-board "
                "--list lists the lines)",
                where, chip.name, label.text, QuotedWord(wanted).text);
}

void DescribeLine(const Chip& chip, const FoundLine& line, char* out, size_t size) {
    if (line.info.name[0] != '\0') {
        std::snprintf(out, size, "line %u \"%s\" of %s \"%s\"", line.offset,
                      QuotedWord(line.info.name, sizeof line.info.name).text, chip.name,
                      QuotedWord(chip.label, sizeof chip.label).text);
    } else {
        std::snprintf(out, size, "line %u of %s \"%s\"", line.offset, chip.name,
                      QuotedWord(chip.label, sizeof chip.label).text);
    }
}

void DescribeUse(const gpio_v2_line_info& info, char* out, size_t size) {
    const char* direction = "input";
    if ((info.flags & GPIO_V2_LINE_FLAG_OUTPUT) != 0) {
        direction = (info.flags & GPIO_V2_LINE_FLAG_OPEN_DRAIN) != 0    ? "output open-drain"
                    : (info.flags & GPIO_V2_LINE_FLAG_OPEN_SOURCE) != 0 ? "output open-source"
                                                                         : "output";
    }
    const char* activeLow = (info.flags & GPIO_V2_LINE_FLAG_ACTIVE_LOW) != 0 ? " active-low" : "";
    if ((info.flags & GPIO_V2_LINE_FLAG_USED) == 0) {
        std::snprintf(out, size, "%s%s, free", direction, activeLow);
    } else if (info.consumer[0] == '\0') {
        std::snprintf(out, size, "%s%s, in use by a consumer that gives no name", direction, activeLow);
    } else {
        std::snprintf(out, size, "%s%s, held by \"%s\"", direction, activeLow,
                      QuotedWord(info.consumer, sizeof info.consumer).text);
    }
}

namespace {

bool BusyProblem(const Chip& chip, const FoundLine& line, const char* consumer, const char* where, Problem& problem) {
    char described[DESCRIBED_LINE_SIZE];
    DescribeLine(chip, line, described, sizeof described);
    if (consumer[0] == '\0') {
        return Fail(problem, ERROR_LINE_BUSY,
                    "%s: %s is in use by a consumer that gives no name; free it, or map to another line", where,
                    described);
    }
    return Fail(problem, ERROR_LINE_BUSY,
                "%s: %s is held by \"%s\"; stop what holds it, or map to another line", where, described,
                QuotedWord(consumer, GPIO_MAX_NAME_SIZE).text);
}

}  // namespace

bool CheckLineFree(const Chip& chip, const FoundLine& line, const char* where, Problem& problem) {
    if ((line.info.flags & GPIO_V2_LINE_FLAG_USED) == 0) return true;
    return BusyProblem(chip, line, line.info.consumer, where, problem);
}

void UseConsumer(const char* consumer) { g_consumer = consumer; }

bool RequestLines(const Chip& chip, const FoundLine* lines, int count, const gpio_v2_line_config& config,
                  const char* where, int& fd, Problem& problem) {
    gpio_v2_line_request request{};
    for (int i = 0; i < count; ++i) request.offsets[i] = lines[i].offset;
    CopyText(request.consumer, sizeof request.consumer, g_consumer);
    request.config = config;
    request.num_lines = static_cast<uint32_t>(count);
    if (IoctlRetrying(chip.fd, GPIO_V2_GET_LINE_IOCTL, &request) != 0) {
        const int error = errno;
        if (error == EBUSY) {
            for (int i = 0; i < count; ++i) {
                FoundLine now = lines[i];
                now.info = gpio_v2_line_info{};
                now.info.offset = now.offset;
                if (IoctlRetrying(chip.fd, GPIO_V2_GET_LINEINFO_IOCTL, &now.info) == 0 &&
                    (now.info.flags & GPIO_V2_LINE_FLAG_USED) != 0) {
                    return BusyProblem(chip, now, now.info.consumer, where, problem);
                }
            }
        }
        return Fail(problem, ERROR_GPIO_FAILED, "%s: the kernel refused the lines of %s \"%s\": %s", where,
                    chip.name, QuotedWord(chip.label, sizeof chip.label).text, std::strerror(error));
    }
    fd = AboveStandardStreams(request.fd);
    if (fd < 0) {
        return Fail(problem, ERROR_GPIO_FAILED, "%s: cannot keep the lines of %s: %s", where, chip.name,
                    std::strerror(errno));
    }
    return true;
}

namespace {

// The configuration's next attribute for the lines of mask; null when there
// are no such lines (or, which the library never asks, no attribute is left).
gpio_v2_line_attribute* NextAttribute(gpio_v2_line_config& config, uint32_t id, uint64_t mask) {
    if (mask == 0 || config.num_attrs >= GPIO_V2_LINE_NUM_ATTRS_MAX) return nullptr;
    gpio_v2_line_config_attribute& attribute = config.attrs[config.num_attrs++];
    attribute.attr.id = id;
    attribute.mask = mask;
    return &attribute.attr;
}

}  // namespace

void AddAttribute(gpio_v2_line_config& config, uint64_t flags, uint64_t mask) {
    if (gpio_v2_line_attribute* attribute = NextAttribute(config, GPIO_V2_LINE_ATTR_ID_FLAGS, mask)) {
        attribute->flags = flags;
    }
}

void AddOutputValues(gpio_v2_line_config& config, uint64_t values, uint64_t mask) {
    if (gpio_v2_line_attribute* attribute = NextAttribute(config, GPIO_V2_LINE_ATTR_ID_OUTPUT_VALUES, mask)) {
        attribute->values = values;
    }
}

bool GetValues(int fd, uint64_t mask, uint64_t& values) {
    gpio_v2_line_values request{};
    request.mask = mask;
    if (IoctlRetrying(fd, GPIO_V2_LINE_GET_VALUES_IOCTL, &request) != 0) return false;
    values = request.bits;
    return true;
}

bool SetValues(int fd, uint64_t mask, uint64_t values) {
    gpio_v2_line_values request{};
    request.mask = mask;
    request.bits = values;
    return IoctlRetrying(fd, GPIO_V2_LINE_SET_VALUES_IOCTL, &request) == 0;
}

bool SetConfig(int fd, const gpio_v2_line_config& config) {
    gpio_v2_line_config copy = config;
    return IoctlRetrying(fd, GPIO_V2_LINE_SET_CONFIG_IOCTL, &copy) == 0;
}

}  // namespace marlek_linux
