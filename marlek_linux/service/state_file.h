// The board service's state file: what it held of the board, and under which
// description, so that a service started again within the same boot (after a
// crash, a restart, an upgrade) gives the board back as it was before any
// program asks. It lives in the service's state folder, is written whole (a
// new file renamed over the old one) and never followed through a link.
#ifndef MARLEK_LINUX_SERVICE_STATE_FILE_H
#define MARLEK_LINUX_SERVICE_STATE_FILE_H

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "board_engine.h"
#include "board_rules.h"

namespace marlek_linux::service {

inline constexpr const char* STATE_FILE = "board.state";
inline constexpr const char* BOOT_ID_FILE = "/proc/sys/kernel/random/boot_id";

// What the service holds: the pins and the outputs' settings, the LED's line
// and its value, each pair's mode lines and the mode they are set for.
struct HeldBoard {
    PinState pins;
    bool ledLineHeld = false;
    bool ledOn = false;
    std::array<bool, marlek_board::SERIAL_PAIR_COUNT> modeLinesHeld{};
    std::array<marlek_board::SerialMode, marlek_board::SERIAL_PAIR_COUNT> modes{};

    bool operator==(const HeldBoard& other) const;
};

// What the engine holds now.
HeldBoard HeldOf(const BoardEngine& engine);

struct SavedState {
    std::string boot;         // the boot it was written in
    HeldBoard held;
    std::string description;  // the description's text it was held under
};

// The state as the file holds it, and back; nullopt for a text that is not one.
std::string StateText(const SavedState& state);
std::optional<SavedState> ParseState(const std::string& text);

// This boot's identity (the kernel's boot_id); empty when it cannot be read.
std::string BootId();

// The state folder, opened once; -1 with errno set.
int OpenStateFolder(const std::string& path);

// Reads the state file; nullopt and why in problem when there is none or it
// cannot be taken (missing: problem stays empty).
std::optional<SavedState> ReadState(int folder, std::string& problem);

// Writes the state file whole; false and why in problem.
bool WriteState(int folder, const SavedState& state, std::string& problem);

}  // namespace marlek_linux::service

#endif  // MARLEK_LINUX_SERVICE_STATE_FILE_H
