#include "state_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "board_description.h"
#include "descriptors.h"

namespace marlek_linux::service {

namespace {

using marlek_board::SerialMode;

constexpr const char* FIRST_LINE = "marlek-boardd state 1";
constexpr const char* NEW_STATE_FILE = "board.state.new";
constexpr size_t MAX_STATE_BYTES = MAX_DESCRIPTION_BYTES + 1024;

std::string Errno() { return std::strerror(errno); }

// Reads a file of the folder whole, without following a link; at most limit bytes.
bool ReadAt(int folder, const char* name, size_t limit, std::string& text, int& error) {
    const int fd = openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = errno;
        return false;
    }
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        error = EINVAL;
        close(fd);
        return false;
    }
    text.clear();
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = errno;
            close(fd);
            return false;
        }
        if (got == 0) break;
        text.append(buffer, static_cast<size_t>(got));
        if (text.size() > limit) {
            error = EFBIG;
            close(fd);
            return false;
        }
    }
    close(fd);
    return true;
}

}  // namespace

bool HeldBoard::operator==(const HeldBoard& other) const {
    return pins.held == other.pins.held && pins.outputMask == other.pins.outputMask &&
           pins.pushPullMask == other.pins.pushPullMask && pins.drivenLevels == other.pins.drivenLevels &&
           ledLineHeld == other.ledLineHeld && ledOn == other.ledOn && modeLinesHeld == other.modeLinesHeld &&
           modes == other.modes;
}

HeldBoard HeldOf(const BoardEngine& engine) {
    HeldBoard held;
    held.pins = engine.pins;
    held.ledLineHeld = engine.ledLineHeld;
    held.ledOn = engine.ledLineHeld && engine.ledOn;
    held.modeLinesHeld = engine.modeLinesHeld;
    held.modes = engine.modes;
    return held;
}

std::string StateText(const SavedState& state) {
    const HeldBoard& held = state.held;
    char lines[512];
    std::snprintf(lines, sizeof lines,
                  "%s\nboot %s\npins %d %u %u %u\nled-line %d %d\nuart12 %d %u\nuart34 %d %u\ndescription %zu\n",
                  FIRST_LINE, state.boot.c_str(), held.pins.held ? 1 : 0, held.pins.outputMask,
                  held.pins.pushPullMask, held.pins.drivenLevels, held.ledLineHeld ? 1 : 0, held.ledOn ? 1 : 0,
                  held.modeLinesHeld[0] ? 1 : 0, static_cast<unsigned>(held.modes[0]), held.modeLinesHeld[1] ? 1 : 0,
                  static_cast<unsigned>(held.modes[1]), state.description.size());
    return lines + state.description;
}

std::optional<SavedState> ParseState(const std::string& text) {
    // Every number is read whole and checked against its range.
    std::istringstream in(text);
    std::string line;
    SavedState state;
    auto flag = [](unsigned value, bool& out) {
        out = value == 1;
        return value <= 1;
    };
    auto byte = [](unsigned value, uint8_t& out) {
        out = static_cast<uint8_t>(value);
        return value <= 0xFF;
    };
    auto mode = [](unsigned value, SerialMode& out) {
        out = static_cast<SerialMode>(value);
        return value <= static_cast<unsigned>(SerialMode::Rs422);
    };
    if (!std::getline(in, line) || line != FIRST_LINE) return std::nullopt;
    if (!std::getline(in, line) || line.rfind("boot ", 0) != 0 || line.size() > 64 + 5) return std::nullopt;
    state.boot = line.substr(5);
    unsigned values[6] = {};
    HeldBoard& held = state.held;
    char end = 0;
    if (!std::getline(in, line) ||
        std::sscanf(line.c_str(), "pins %1u %3u %3u %3u%c", &values[0], &values[1], &values[2], &values[3], &end) != 4 ||
        !flag(values[0], held.pins.held) || !byte(values[1], held.pins.outputMask) ||
        !byte(values[2], held.pins.pushPullMask) || !byte(values[3], held.pins.drivenLevels)) {
        return std::nullopt;
    }
    if (!std::getline(in, line) || std::sscanf(line.c_str(), "led-line %1u %1u%c", &values[0], &values[1], &end) != 2 ||
        !flag(values[0], held.ledLineHeld) || !flag(values[1], held.ledOn)) {
        return std::nullopt;
    }
    for (size_t pair = 0; pair < held.modes.size(); ++pair) {
        const char* format = pair == 0 ? "uart12 %1u %1u%c" : "uart34 %1u %1u%c";
        bool lines = false;
        if (!std::getline(in, line) || std::sscanf(line.c_str(), format, &values[0], &values[1], &end) != 2 ||
            !flag(values[0], lines) || !mode(values[1], held.modes[pair])) {
            return std::nullopt;
        }
        held.modeLinesHeld[pair] = lines;
    }
    size_t length = 0;
    if (!std::getline(in, line) || std::sscanf(line.c_str(), "description %6zu%c", &length, &end) != 1 ||
        length > MAX_DESCRIPTION_BYTES) {
        return std::nullopt;
    }
    const auto start = static_cast<size_t>(in.tellg());
    if (start > text.size() || text.size() - start != length) return std::nullopt;
    state.description = text.substr(start);
    return state;
}

std::string BootId() {
    std::string text;
    int error = 0;
    if (!ReadAt(AT_FDCWD, BOOT_ID_FILE, 128, text, error)) return "";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || c == '-')) return "";
    }
    return text;
}

int OpenStateFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0750) != 0 && errno != EEXIST) return -1;
    return marlek_board::OpenDescriptor(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
}

std::optional<SavedState> ReadState(int folder, std::string& problem) {
    std::string text;
    int error = 0;
    problem.clear();
    if (!ReadAt(folder, STATE_FILE, MAX_STATE_BYTES, text, error)) {
        if (error == ENOENT) return std::nullopt;
        problem = error == ELOOP ? "it is a symbolic link, which is not followed"
                  : error == EINVAL ? "it is not a regular file"
                  : error == EFBIG  ? "it is longer than a state file can be"
                                    : std::strerror(error);
        return std::nullopt;
    }
    std::optional<SavedState> state = ParseState(text);
    if (!state) problem = "it is not a state file of this service";
    return state;
}

bool WriteState(int folder, const SavedState& state, std::string& problem) {
    const std::string text = StateText(state);
    // A file left by a write that was cut short is removed, never written
    // through: a link there is removed as a link.
    if (unlinkat(folder, NEW_STATE_FILE, 0) != 0 && errno != ENOENT) {
        problem = "cannot remove " + std::string(NEW_STATE_FILE) + ": " + Errno();
        return false;
    }
    const int fd = openat(folder, NEW_STATE_FILE, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0640);
    if (fd < 0) {
        problem = "cannot make " + std::string(NEW_STATE_FILE) + ": " + Errno();
        return false;
    }
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t wrote = write(fd, text.data() + written, text.size() - written);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            problem = "cannot write " + std::string(NEW_STATE_FILE) + ": " + (wrote < 0 ? Errno() : "nothing written");
            close(fd);
            unlinkat(folder, NEW_STATE_FILE, 0);
            return false;
        }
        written += static_cast<size_t>(wrote);
    }
    // The state matters within one boot: it outlives the service, not a power
    // cut, so it is not synced to the disk.
    if (close(fd) != 0 || renameat(folder, NEW_STATE_FILE, folder, STATE_FILE) != 0) {
        problem = "cannot put " + std::string(STATE_FILE) + " in place: " + Errno();
        unlinkat(folder, NEW_STATE_FILE, 0);
        return false;
    }
    return true;
}

}  // namespace marlek_linux::service
